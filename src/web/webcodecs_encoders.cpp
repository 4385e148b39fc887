// The page's encoders: the browser's WebCodecs (VideoEncoder VP9,
// AudioEncoder Opus, which takes the sound at its own rate and brings it to
// 48 kHz), reached through src/web/morvane_codecs.js. The calls that wait
// for the browser do so through Asyncify; the packets come back one at a
// time, copied out of the JavaScript side.

#include <string>

#include "codecs/film_encoders.h"

extern "C" {
int morvane_video_open(int width, int height, int quality);
int morvane_video_encode(int id, const unsigned char* i420, int size, double ms, double durationMs);
int morvane_sound_open(int rate, int channels, int bitrate);
int morvane_sound_encode(int id, const unsigned char* pcm, int bytes);
int morvane_codec_finish(int id);
int morvane_codec_packet(int id, unsigned char* destination, int capacity, double* ms, int* key);
int morvane_codec_failure(int id, char* destination, int capacity);
int morvane_sound_head(int id, unsigned char* destination, int capacity);
void morvane_codec_close(int id);
}

namespace morvane {

namespace {

// Opus's delay at 48 kHz as libopus has it, until the browser tells its own.
constexpr int kUsualPreSkip = 312;

std::string Failure(int id, const char* what) {
  char text[512];
  const int length = morvane_codec_failure(id, text, sizeof text);
  return std::string(what) + ": " +
         (length > 0 ? std::string(text, static_cast<std::size_t>(length)) : "failed");
}

// Copies out the packets the browser has given.
void Collect(int id, std::vector<EncodedPacket>& out) {
  std::vector<unsigned char> buffer(64 * 1024);
  for (;;) {
    double ms = 0;
    int key = 0;
    int size = morvane_codec_packet(id, buffer.data(), static_cast<int>(buffer.size()), &ms, &key);
    if (size < 0) return;
    if (static_cast<std::size_t>(size) > buffer.size()) {
      buffer.resize(static_cast<std::size_t>(size));
      size = morvane_codec_packet(id, buffer.data(), static_cast<int>(buffer.size()), &ms, &key);
    }
    out.push_back({std::vector<unsigned char>(buffer.begin(), buffer.begin() + size),
                   static_cast<std::int64_t>(ms), key != 0});
  }
}

class WebPictureEncoder final : public PictureEncoder {
 public:
  WebPictureEncoder(int id, int width, int height) : id_(id), width_(width), height_(height) {
    const std::size_t luma = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const std::size_t chroma =
        static_cast<std::size_t>((width + 1) / 2) * static_cast<std::size_t>((height + 1) / 2);
    planes_.resize(luma + 2 * chroma);
  }
  ~WebPictureEncoder() override { morvane_codec_close(id_); }

  std::string Encode(const unsigned char* rgb, std::int64_t ms, std::int64_t durationMs,
                     std::vector<EncodedPacket>& out) override {
    const std::size_t luma = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    const std::size_t chroma = (planes_.size() - luma) / 2;
    RgbToI420(rgb, width_, height_, planes_.data(), width_, planes_.data() + luma,
              planes_.data() + luma + chroma, (width_ + 1) / 2);
    if (morvane_video_encode(id_, planes_.data(), static_cast<int>(planes_.size()), static_cast<double>(ms),
                             static_cast<double>(std::max<std::int64_t>(durationMs, 1))) != 0)
      return Failure(id_, "VP9 encoder");
    Collect(id_, out);
    return "";
  }

  std::string Finish(std::vector<EncodedPacket>& out) override {
    if (morvane_codec_finish(id_) != 0) return Failure(id_, "VP9 encoder");
    Collect(id_, out);
    return "";
  }

 private:
  int id_, width_, height_;
  std::vector<unsigned char> planes_;
};

class WebSoundEncoder final : public SoundEncoder {
 public:
  WebSoundEncoder(int id, std::int32_t rate, int channels) : id_(id), rate_(rate), channels_(channels) {}
  ~WebSoundEncoder() override { morvane_codec_close(id_); }

  std::string Encode(const unsigned char* pcm, std::size_t bytes, std::vector<EncodedPacket>& out) override {
    if (morvane_sound_encode(id_, pcm, static_cast<int>(bytes)) != 0) return Failure(id_, "Opus encoder");
    Collect(id_, out);
    return "";
  }

  std::string Finish(std::vector<EncodedPacket>& out) override {
    if (morvane_codec_finish(id_) != 0) return Failure(id_, "Opus encoder");
    Collect(id_, out);
    return "";
  }

  int PreSkip() const override {
    const std::vector<unsigned char> head = Head();
    return head[10] | head[11] << 8;
  }
  std::int32_t Rate() const override { return rate_; }
  int Channels() const override { return channels_; }
  std::vector<unsigned char> Head() const override {
    std::vector<unsigned char> head(64);
    const int length = morvane_sound_head(id_, head.data(), static_cast<int>(head.size()));
    if (length < 19 || length > static_cast<int>(head.size()))
      return OpusHead(channels_, kUsualPreSkip, rate_);
    head.resize(static_cast<std::size_t>(length));
    return head;
  }

 private:
  int id_;
  std::int32_t rate_;
  int channels_;
};

}  // namespace

bool FilmEncodersBuilt() { return true; }

std::unique_ptr<PictureEncoder> MakePictureEncoder(int width, int height, const EncoderSettings& settings,
                                                   std::string& failure) {
  const int id = morvane_video_open(width, height, settings.vp9Quality);
  if (id <= 0) {
    failure = Failure(-id, "VP9 encoder");
    morvane_codec_close(-id);
    return nullptr;
  }
  return std::make_unique<WebPictureEncoder>(id, width, height);
}

std::unique_ptr<SoundEncoder> MakeSoundEncoder(std::int32_t rate, int channels,
                                               const EncoderSettings& settings, std::string& failure) {
  if (channels < 1 || channels > 2) {
    failure = "Opus encoder: " + std::to_string(channels) + " channels are not taken";
    return nullptr;
  }
  const int id = morvane_sound_open(rate, channels, settings.opusBitsPerChannel * channels);
  if (id <= 0) {
    failure = Failure(-id, "Opus encoder");
    morvane_codec_close(-id);
    return nullptr;
  }
  return std::make_unique<WebSoundEncoder>(id, rate, channels);
}

}  // namespace morvane
