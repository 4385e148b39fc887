#include "audio/codecs/cbd2.h"

#include <array>

namespace morvane {

namespace {

constexpr std::int32_t CubeOf(int byte) {
  const std::int32_t v = (byte < 128 ? byte : byte - 256) * 256;
  const std::int32_t a = (v * v) >> 15;
  // The product fits 32 bits: |a| <= 32768 and |v| <= 32768.
  return static_cast<std::int32_t>((static_cast<std::int64_t>(a) * v) >> 15);
}

// Each byte's value and whether it adds (all ones) or sets (zero), as in
// the SDX2 decoder: the states stay in full registers, and only their low
// 16 bits are stored.
constexpr std::array<std::uint32_t, 256> kValue = [] {
  std::array<std::uint32_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[static_cast<std::size_t>(b)] = static_cast<std::uint16_t>(CubeOf(b));
  return table;
}();
constexpr std::array<std::uint32_t, 256> kKeep = [] {
  std::array<std::uint32_t, 256> table{};
  for (std::size_t b = 0; b < 256; ++b) table[b] = (b & 1) != 0 ? 0xFFFFFFFFu : 0u;
  return table;
}();

inline void Put16(unsigned char* out, std::uint32_t value) {
  out[0] = static_cast<unsigned char>(value);
  out[1] = static_cast<unsigned char>(value >> 8);
}

class Cbd2Stereo final : public SoundDecoder {
 public:
  Cbd2Stereo() : SoundDecoder(2, 1, 2) {}

 private:
  void DecodeUnits(const unsigned char* in, std::size_t units, unsigned char* out) override {
    std::uint32_t left = left_, right = right_;
    for (const unsigned char* end = in + 2 * units; in != end; in += 2, out += 4) {
      left = kValue[in[0]] + (left & kKeep[in[0]]);
      right = kValue[in[1]] + (right & kKeep[in[1]]);
      Put16(out, left);
      Put16(out + 2, right);
    }
    left_ = static_cast<std::uint16_t>(left);
    right_ = static_cast<std::uint16_t>(right);
  }
  std::uint32_t left_ = 0, right_ = 0;
};

class Cbd2Mono final : public SoundDecoder {
 public:
  Cbd2Mono() : SoundDecoder(1, 1, 1) {}

 private:
  void DecodeUnits(const unsigned char* in, std::size_t units, unsigned char* out) override {
    std::uint32_t value = value_;
    for (const unsigned char* end = in + units; in != end; ++in, out += 2) {
      value = kValue[*in] + (value & kKeep[*in]);
      Put16(out, value);
    }
    value_ = static_cast<std::uint16_t>(value);
  }
  std::uint32_t value_ = 0;
};

}  // namespace

std::int16_t Cbd2Value(std::uint8_t byte) { return static_cast<std::int16_t>(CubeOf(byte)); }

std::unique_ptr<SoundDecoder> MakeCbd2Decoder(int channels) {
  if (channels == 2) return std::make_unique<Cbd2Stereo>();
  return std::make_unique<Cbd2Mono>();
}

}  // namespace morvane
