#include "support/ffmpeg_decoder.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <stdexcept>

#include "support/temp_dir.h"

namespace morvane::test {

FfmpegDecoding DecodeCinepakFrames(const std::vector<Bytes>& frames, int width, int height) {
  FfmpegDecoding decoding;
#ifdef _WIN32
  decoding.skipReason = "FFmpeg is run by the Linux build's tests only";
  return decoding;
#endif
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
    decoding.skipReason = "ffmpeg is not installed (apt-get install ffmpeg)";
    return decoding;
  }
  const TempDir dir;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%05zu.cvid", i);
    WriteFile(dir.File(name), frames[i]);
  }
  // The image demuxer takes each file as one packet of the codec named.
  const std::string folder = "'" + dir.path().string() + "/";
  const std::string command = "ffmpeg -nostdin -v error -f image2 -framerate 12 -video_size " +
                              std::to_string(width) + "x" + std::to_string(height) + " -c:v cinepak -i " +
                              folder + "f%05d.cvid' -f rawvideo -pix_fmt rgb24 -y " + folder + "out.rgb' 2>" +
                              folder + "messages.txt'";
  if (std::system(command.c_str()) != 0) decoding.messages = "ffmpeg failed: ";
  const Bytes messages = ReadAll(dir.File("messages.txt"));
  decoding.messages += std::string(messages.begin(), messages.end());
  const Bytes out = Exists(dir.File("out.rgb")) ? ReadAll(dir.File("out.rgb")) : Bytes{};
  const std::size_t pictureSize = 3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  for (std::size_t at = 0; at + pictureSize <= out.size(); at += pictureSize)
    decoding.pictures.emplace_back(out.begin() + static_cast<long>(at),
                                   out.begin() + static_cast<long>(at + pictureSize));
  return decoding;
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
