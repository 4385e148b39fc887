#include "support/ffmpeg_decoder.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <stdexcept>

#include "support/temp_dir.h"

namespace morvane::test {

namespace {

// Why FFmpeg cannot run here; empty when it can.
std::string WhyNoFfmpeg() {
#ifdef _WIN32
  return "FFmpeg is run by the Linux build's tests only";
#else
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0)
    return "ffmpeg is not installed (apt-get install ffmpeg)";
  return "";
#endif
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// Runs `ffmpeg -nostdin -v error ARGUMENTS`, its messages into the decoding.
void RunFfmpeg(const TempDir& dir, const std::string& arguments, FfmpegDecoding& decoding) {
  const std::string command =
      "ffmpeg -nostdin -v error " + arguments + " 2>" + Quoted(dir.File("messages.txt"));
  if (std::system(command.c_str()) != 0) decoding.messages = "ffmpeg failed: ";
  const Bytes messages = ReadAll(dir.File("messages.txt"));
  decoding.messages += std::string(messages.begin(), messages.end());
}

// FFmpeg's pictures: its rgb24 output cut into pictures of that size.
FfmpegDecoding Decoded(const std::string& inputArguments, int width, int height) {
  FfmpegDecoding decoding;
  decoding.skipReason = WhyNoFfmpeg();
  if (!decoding.skipReason.empty()) return decoding;
  const TempDir dir;
  RunFfmpeg(dir, inputArguments + " -f rawvideo -pix_fmt rgb24 -y " + Quoted(dir.File("out.rgb")), decoding);
  const Bytes out = Exists(dir.File("out.rgb")) ? ReadAll(dir.File("out.rgb")) : Bytes{};
  const std::size_t pictureSize = 3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  for (std::size_t at = 0; at + pictureSize <= out.size(); at += pictureSize)
    decoding.pictures.emplace_back(out.begin() + static_cast<long>(at),
                                   out.begin() + static_cast<long>(at + pictureSize));
  return decoding;
}

std::string FrameName(std::size_t i) {
  char name[32];
  std::snprintf(name, sizeof name, "f%05zu.cvid", i);
  return name;
}

}  // namespace

FfmpegDecoding DecodeCinepakFrames(const std::vector<Bytes>& frames, int width, int height) {
  if (const std::string why = WhyNoFfmpeg(); !why.empty()) return {why, "", {}};
  const TempDir dir;
  for (std::size_t i = 0; i < frames.size(); ++i) WriteFile(dir.File(FrameName(i)), frames[i]);
  // The image demuxer takes each file as one packet of the codec named.
  return Decoded("-f image2 -framerate 12 -video_size " + std::to_string(width) + "x" +
                     std::to_string(height) + " -c:v cinepak -i " + Quoted(dir.File("f%05d.cvid")),
                 width, height);
}

FfmpegDecoding DecodeFileFrames(const std::string& path, int width, int height,
                                const std::string& inputOptions) {
  return Decoded(inputOptions + " -i " + Quoted(path), width, height);
}

FfmpegDecoding EncodeCinepakWithFfmpeg(const std::string& source, const std::string& options, int count) {
  FfmpegDecoding encoding;
  encoding.skipReason = WhyNoFfmpeg();
  if (!encoding.skipReason.empty()) return encoding;
  const TempDir dir;
  // The image muxer writes each packet into a file of its own.
  RunFfmpeg(dir,
            "-f lavfi -i " + Quoted(source) + " -frames:v " + std::to_string(count) + " -c:v cinepak " +
                options + " -f image2 " + Quoted(dir.File("f%05d.cvid")),
            encoding);
  for (int i = 1; Exists(dir.File(FrameName(static_cast<std::size_t>(i)))); ++i)
    encoding.pictures.push_back(ReadAll(dir.File(FrameName(static_cast<std::size_t>(i)))));
  return encoding;
}

double PeakSignalToNoise(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size() || a.empty()) throw std::invalid_argument("pictures of different sizes");
  double squares = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const int difference = int{a[i]} - int{b[i]};
    squares += difference * difference;
  }
  if (squares == 0) return std::numeric_limits<double>::infinity();
  return 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / squares);
}

}  // namespace morvane::test
