#include "audio/codecs/pcm.h"

namespace morvane {

namespace {

class Pcm16 final : public SoundDecoder {
 public:
  explicit Pcm16(int channels) : SoundDecoder(2 * static_cast<std::size_t>(channels), 1, channels) {}

 private:
  void DecodeUnits(const unsigned char* in, std::size_t units, unsigned char* out) override {
    const std::size_t bytes = units * 2 * static_cast<std::size_t>(Channels());
    for (std::size_t i = 0; i < bytes; i += 2) {
      out[i] = in[i + 1];
      out[i + 1] = in[i];
    }
  }
};

class Pcm8 final : public SoundDecoder {
 public:
  explicit Pcm8(int channels) : SoundDecoder(static_cast<std::size_t>(channels), 1, channels) {}

 private:
  void DecodeUnits(const unsigned char* in, std::size_t units, unsigned char* out) override {
    const std::size_t samples = units * static_cast<std::size_t>(Channels());
    for (std::size_t i = 0; i < samples; ++i) {
      out[2 * i] = 0;
      out[2 * i + 1] = in[i];
    }
  }
};

}  // namespace

std::unique_ptr<SoundDecoder> MakePcm16Decoder(int channels) { return std::make_unique<Pcm16>(channels); }
std::unique_ptr<SoundDecoder> MakePcm8Decoder(int channels) { return std::make_unique<Pcm8>(channels); }

}  // namespace morvane
