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

namespace {

std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
  ::pclose(pipe);
  return out;
}

// "key=value" lines of ffprobe's default writer without section wrappers.
std::vector<std::pair<std::string, std::string>> Fields(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> fields;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) fields.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    at = end + 1;
  }
  return fields;
}

}  // namespace

FfmpegReading ReadWithFfmpeg(const std::string& path) {
  FfmpegReading reading;
  reading.skipReason = WhyNoFfmpeg();
  if (!reading.skipReason.empty()) return reading;
  const std::string probe = Output(
      "ffprobe -v error -count_frames -show_entries "
      "stream=codec_type,codec_name,width,height,nb_read_frames:format=duration -of default=nw=1 " +
      Quoted(path));
  std::string type;
  for (const auto& [key, value] : Fields(probe)) {
    if (key == "codec_name") type = value;
    if (key == "codec_type" && value == "video") reading.videoCodec = type;
    if (key == "codec_type" && value == "audio") reading.soundCodecs.push_back(type);
    if (key == "width" && value != "N/A") reading.width = std::stoi(value);
    if (key == "height" && value != "N/A") reading.height = std::stoi(value);
    if (key == "nb_read_frames" && value != "N/A" && reading.frames == 0) reading.frames = std::stol(value);
    if (key == "duration" && value != "N/A") reading.duration = std::stod(value);
  }
  reading.messages = Output("ffmpeg -nostdin -v error -i " + Quoted(path) + " -f null - 2>&1");
  const TempDir dir;
  Output("ffmpeg -nostdin -v error -i " + Quoted(path) +
         " -map 0:v:0 -vsync passthrough -f rawvideo -pix_fmt rgb24 " + Quoted(dir.File("out.rgb")) +
         " 2>&1");
  const Bytes out = Exists(dir.File("out.rgb")) ? ReadAll(dir.File("out.rgb")) : Bytes{};
  const std::size_t pictureSize =
      3 * static_cast<std::size_t>(reading.width) * static_cast<std::size_t>(reading.height);
  for (std::size_t at = 0; pictureSize > 0 && at + pictureSize <= out.size(); at += pictureSize)
    reading.pictures.emplace_back(out.begin() + static_cast<long>(at),
                                  out.begin() + static_cast<long>(at + pictureSize));
  return reading;
}

FfmpegSound DecodeSoundWithFfmpeg(const std::string& path, int index, int rate, int channels, int ms) {
  FfmpegSound sound;
  const std::string stream = "a:" + std::to_string(index);
  for (const auto& [key, value] :
       Fields(Output("ffprobe -v error -select_streams " + stream +
                     " -show_frames -read_intervals %+#1 -show_entries frame=pts_time -of default=nw=1 " +
                     Quoted(path)))) {
    if (key == "pts_time" && value != "N/A") sound.startMs = std::stod(value) * 1000;
  }
  const TempDir dir;
  Output("ffmpeg -nostdin -v error -i " + Quoted(path) + " -map 0:" + stream + " -f s16le -ac " +
         std::to_string(channels) + " -ar " + std::to_string(rate) + " -t " + std::to_string(ms / 1000.0) +
         " " + Quoted(dir.File("out.pcm")) + " 2>&1");
  const Bytes out = Exists(dir.File("out.pcm")) ? ReadAll(dir.File("out.pcm")) : Bytes{};
  for (std::size_t at = 0; at + 1 < out.size(); at += 2)
    sound.samples.push_back(static_cast<std::int16_t>(out[at] | out[at + 1] << 8));
  return sound;
}

double SoundLagMs(const FfmpegSound& a, const FfmpegSound& b, int rate, int channels, int searchMs) {
  const long search = static_cast<long>(searchMs) * rate / 1000;
  const long length =
      static_cast<long>(std::min(a.samples.size(), b.samples.size()) / static_cast<std::size_t>(channels));
  long best = 0;
  double bestScore = -std::numeric_limits<double>::infinity();
  for (long lag = -search; lag <= search; ++lag) {
    double score = 0, energy = 0;
    for (long i = 0; i < length; ++i) {
      const long j = i + lag;
      if (j < 0 || j >= length) continue;
      const double x = a.samples[static_cast<std::size_t>(i * channels)];
      const double y = b.samples[static_cast<std::size_t>(j * channels)];
      score += x * y;
      energy += y * y;
    }
    score = energy > 0 ? score / std::sqrt(energy) : 0;
    if (score > bestScore) {
      bestScore = score;
      best = lag;
    }
  }
  return b.startMs - a.startMs + static_cast<double>(best) * 1000.0 / rate;
}

}  // namespace morvane::test
