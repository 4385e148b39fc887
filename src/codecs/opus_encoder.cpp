// Opus through libopus, the sound first brought to Opus's 48 kHz by libsoxr
// (its output lines up with its input: the resampler's own delay is taken
// out).

#include <opus/opus.h>
#include <soxr.h>

#include <algorithm>

#include "codecs/film_encoders.h"

namespace morvane {

namespace {

constexpr std::int32_t kOpusRate = 48000;
constexpr int kPacketSamples = 960;  // 20 ms
constexpr std::int64_t kPacketMs = 20;
constexpr std::size_t kLargestPacket = 4000;

class OpusSoundEncoder final : public SoundEncoder {
 public:
  ~OpusSoundEncoder() override {
    if (resampler_) soxr_delete(resampler_);
    if (encoder_) opus_encoder_destroy(encoder_);
  }

  std::string Open(std::int32_t rate, int channels, const EncoderSettings& settings) {
    rate_ = rate;
    channels_ = channels;
    if (channels < 1 || channels > 2)
      return "Opus encoder: " + std::to_string(channels) + " channels are not taken";
    if (rate <= 0) return "Opus encoder: no rate";
    int error = OPUS_OK;
    encoder_ = opus_encoder_create(kOpusRate, channels, OPUS_APPLICATION_AUDIO, &error);
    if (error != OPUS_OK) return Failure(error);
    error = opus_encoder_ctl(encoder_, OPUS_SET_BITRATE(settings.opusBitsPerChannel * channels));
    if (error == OPUS_OK) error = opus_encoder_ctl(encoder_, OPUS_GET_LOOKAHEAD(&preSkip_));
    if (error != OPUS_OK) return Failure(error);
    if (rate != kOpusRate) {
      const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
      const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
      soxr_error_t failed = nullptr;
      resampler_ =
          soxr_create(rate, kOpusRate, static_cast<unsigned>(channels), &failed, &io, &quality, nullptr);
      if (failed) return "resampler: " + std::string(failed);
    }
    return "";
  }

  std::string Encode(const unsigned char* pcm, std::size_t bytes, std::vector<EncodedPacket>& out) override {
    const std::size_t frames = bytes / (2 * static_cast<std::size_t>(channels_));
    input_.resize(frames * static_cast<std::size_t>(channels_));
    for (std::size_t i = 0; i < input_.size(); ++i)
      input_[i] = static_cast<std::int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8);
    if (!resampler_) {
      pending_.insert(pending_.end(), input_.begin(), input_.end());
      return Packets(out);
    }
    return Resample(input_.data(), frames, out);
  }

  std::string Finish(std::vector<EncodedPacket>& out) override {
    if (resampler_) {
      const std::string failure = Resample(nullptr, 0, out);
      if (!failure.empty()) return failure;
    }
    // Silence after the sound pushes its last samples through the encoder's
    // look-ahead, and fills the last packet.
    const std::size_t total =
        pending_.size() / static_cast<std::size_t>(channels_) + static_cast<std::size_t>(preSkip_);
    const std::size_t padded = (total + kPacketSamples - 1) / kPacketSamples * kPacketSamples;
    pending_.resize(padded * static_cast<std::size_t>(channels_), 0);
    return Packets(out);
  }

  int PreSkip() const override { return preSkip_; }
  std::int32_t Rate() const override { return rate_; }
  int Channels() const override { return channels_; }
  std::vector<unsigned char> Head() const override { return OpusHead(channels_, preSkip_, rate_); }

 private:
  static std::string Failure(int error) { return "Opus encoder: " + std::string(opus_strerror(error)); }

  // Feeds the resampler `frames` (null: its end), keeping what it gives.
  std::string Resample(const std::int16_t* in, std::size_t frames, std::vector<EncodedPacket>& out) {
    const auto channels = static_cast<std::size_t>(channels_);
    const std::size_t room = frames * kOpusRate / static_cast<std::size_t>(rate_) + 64;
    std::size_t taken = 0;
    do {
      resampled_.resize(room * channels);
      std::size_t used = 0, made = 0;
      if (const soxr_error_t failed =
              soxr_process(resampler_, in ? in + taken * channels : nullptr, in ? frames - taken : 0, &used,
                           resampled_.data(), room, &made))
        return "resampler: " + std::string(failed);
      taken += used;
      pending_.insert(pending_.end(), resampled_.begin(),
                      resampled_.begin() + static_cast<std::ptrdiff_t>(made * channels));
      const std::string failure = Packets(out);
      if (!failure.empty()) return failure;
      if (made == 0 && (in == nullptr || taken >= frames)) break;
    } while (true);
    return "";
  }

  // Encodes the whole packets pending.
  std::string Packets(std::vector<EncodedPacket>& out) {
    const auto packetValues = static_cast<std::size_t>(kPacketSamples * channels_);
    std::size_t at = 0;
    for (; pending_.size() - at >= packetValues; at += packetValues) {
      unsigned char packet[kLargestPacket];
      const opus_int32 size =
          opus_encode(encoder_, pending_.data() + at, kPacketSamples, packet, sizeof packet);
      if (size < 0) return Failure(size);
      out.push_back({std::vector<unsigned char>(packet, packet + size), packets_++ * kPacketMs, true});
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
    return "";
  }

  std::int32_t rate_ = 0;
  int channels_ = 0;
  int preSkip_ = 0;
  OpusEncoder* encoder_ = nullptr;
  soxr_t resampler_ = nullptr;
  std::vector<std::int16_t> input_, resampled_, pending_;
  std::int64_t packets_ = 0;
};

}  // namespace

std::unique_ptr<SoundEncoder> MakeSoundEncoder(std::int32_t rate, int channels,
                                               const EncoderSettings& settings, std::string& failure) {
  auto encoder = std::make_unique<OpusSoundEncoder>();
  failure = encoder->Open(rate, channels, settings);
  if (!failure.empty()) return nullptr;
  return encoder;
}

}  // namespace morvane
