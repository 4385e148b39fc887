#pragma once

#include <string>
#include <vector>

#include "support/stream_builder.h"

namespace morvane::test {

// Cinepak frames decoded by Debian's FFmpeg, the reference for what players
// accept: each frame given to it as a packet of its own.
struct FfmpegDecoding {
  std::string skipReason;       // not empty: FFmpeg cannot run here, and why
  std::string messages;         // what FFmpeg printed at "-v error": nothing for clean frames
  std::vector<Bytes> pictures;  // each frame decoded, RGB, rows top to bottom
};
FfmpegDecoding DecodeCinepakFrames(const std::vector<Bytes>& frames, int width, int height);

// Peak signal to noise of b against a, in dB, over all bytes (infinity
// when equal).
double PeakSignalToNoise(const Bytes& a, const Bytes& b);

}  // namespace morvane::test
