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

// A movie as Debian's ffprobe and FFmpeg read it: what a player finds.
struct FfmpegReading {
  std::string skipReason;  // not empty: FFmpeg cannot run here, and why
  std::string videoCodec;
  std::vector<std::string> soundCodecs;
  int width = 0, height = 0;
  long frames = 0;              // counted by decoding them
  double duration = 0;          // s, the file's
  std::string messages;         // of a whole decode at "-v error": nothing for a clean file
  std::vector<Bytes> pictures;  // each frame decoded, RGB, rows top to bottom
};
FfmpegReading ReadWithFfmpeg(const std::string& path);

// The first `ms` of the movie's `index`-th sound track as FFmpeg decodes it,
// at `rate` in `channels` (16-bit, interleaved), and when its first sample
// plays (ms: the first decoded frame's time, after the encoder's delay is
// dropped).
struct FfmpegSound {
  double startMs = 0;
  std::vector<std::int16_t> samples;
};
FfmpegSound DecodeSoundWithFfmpeg(const std::string& path, int index, int rate, int channels, int ms);

// How many ms `b` lags behind `a` (both starting at their startMs), found by
// the best correlation of their first channel within ±`searchMs`.
double SoundLagMs(const FfmpegSound& a, const FfmpegSound& b, int rate, int channels, int searchMs);

}  // namespace morvane::test
