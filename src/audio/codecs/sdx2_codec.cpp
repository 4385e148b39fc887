#include "audio/codecs/sdx2_codec.h"

#include "audio/sdx2.h"

namespace morvane {

namespace {

class Sdx2Stereo final : public SoundDecoder {
 public:
  Sdx2Stereo() : SoundDecoder(2, 1, 2) {}

 private:
  void DecodeUnits(const unsigned char* in, std::size_t units, unsigned char* out) override {
    DecodeSdx2Frames(state_, in, units, out);
  }
  Sdx2State state_;
};

class Sdx2Mono final : public SoundDecoder {
 public:
  Sdx2Mono() : SoundDecoder(1, 1, 1) {}

 private:
  void DecodeUnits(const unsigned char* in, std::size_t units, unsigned char* out) override {
    DecodeSdx2Mono(state_, in, units, out);
  }
  std::int16_t state_ = 0;
};

}  // namespace

std::unique_ptr<SoundDecoder> MakeSdx2Decoder(int channels) {
  if (channels == 2) return std::make_unique<Sdx2Stereo>();
  return std::make_unique<Sdx2Mono>();
}

}  // namespace morvane
