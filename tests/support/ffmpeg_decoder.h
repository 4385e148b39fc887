#pragma once

#include <string>
#include <vector>

#include "support/stream_builder.h"

namespace morvane::test {

// Cinepak frames decoded by Debian's FFmpeg, the reference for what players
// accept.
struct FfmpegDecoding {
  std::string skipReason;       // not empty: FFmpeg cannot run here, and why
  std::string messages;         // what FFmpeg printed at "-v error": nothing for clean frames
  std::vector<Bytes> pictures;  // each frame decoded, RGB, rows top to bottom
};
// Each frame given to it as a packet of its own.
FfmpegDecoding DecodeCinepakFrames(const std::vector<Bytes>& frames, int width, int height);
// Every picture of a file (a movie, a PNG), as `ffmpeg -i FILE -f rawvideo -pix_fmt rgb24` gives
// them; `inputOptions` go before -i.
FfmpegDecoding DecodeFileFrames(const std::string& path, int width, int height,
                                const std::string& inputOptions = "");

// Frames of FFmpeg's own Cinepak encoder, one a packet: `count` frames of the
// lavfi source `source` (such as "testsrc2=size=320x240:rate=15"), encoded
// with the encoder's `options` (such as "-g 10 -max_strips 3"). Its
// `pictures` are the encoded frames.
FfmpegDecoding EncodeCinepakWithFfmpeg(const std::string& source, const std::string& options, int count);

// Peak signal to noise of b against a, in dB, over all bytes (infinity
// when equal).
double PeakSignalToNoise(const Bytes& a, const Bytes& b);

}  // namespace morvane::test
