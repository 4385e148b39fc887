#include "audio/codecs/cbd2.h"

#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
// Eight samples at a time: each value computed as the bytes' cubes, and
// each channel's running value carried through the lanes by a scan that
// adds the lane before (of the same channel) where a byte adds, then the
// lane two before, and so on, the keeps narrowing as they go; the last
// lanes of the eight before carry on into these.
template <int kChannels>
class Cbd2Lanes {
 public:
  // The 16-bit values of eight signed bytes: n^3 >> 6 from the 32-bit
  // product of n^2 and n, whose high and low halves hold its bits.
  static __m128i Values(__m128i n) {
    const __m128i square = _mm_mullo_epi16(n, n);
    return _mm_or_si128(_mm_srli_epi16(_mm_mullo_epi16(square, n), 6),
                        _mm_slli_epi16(_mm_mulhi_epi16(square, n), 10));
  }
  // The running values of eight samples, from the last lanes of the eight
  // before (`carry`, which holds them in every lane of their channel).
  static __m128i Run(__m128i n, __m128i carry) {
    __m128i value = Values(n);
    __m128i keep = _mm_sub_epi16(_mm_setzero_si128(), _mm_and_si128(n, _mm_set1_epi16(1)));
    for (int lanes = kChannels; lanes < 8; lanes *= 2) {
      value = _mm_add_epi16(value, _mm_and_si128(keep, ShiftUp(value, lanes)));
      keep = _mm_and_si128(keep, _mm_or_si128(ShiftUp(keep, lanes), LowLanes(lanes)));
    }
    return _mm_add_epi16(value, _mm_and_si128(keep, carry));
  }
  // The last lanes of each channel, in every lane of that channel.
  static __m128i Last(__m128i value) {
    if (kChannels == 2) return _mm_shuffle_epi32(value, 0xFF);
    return _mm_shuffle_epi32(_mm_shufflehi_epi16(value, 0xFF), 0xFF);
  }
  static __m128i Carry(std::uint32_t left, std::uint32_t right) {
    return kChannels == 2 ? _mm_set1_epi32(static_cast<int>((left & 0xFFFF) | (right << 16)))
                          : _mm_set1_epi16(static_cast<short>(left));
  }

 private:
  static __m128i ShiftUp(__m128i value, int lanes) {
    if (lanes == 1) return _mm_slli_si128(value, 2);
    if (lanes == 2) return _mm_slli_si128(value, 4);
    return _mm_slli_si128(value, 8);
  }
  // All ones in the lanes below `lanes`: nothing before them stops a run.
  static __m128i LowLanes(int lanes) {
    if (lanes == 1) return _mm_set_epi16(0, 0, 0, 0, 0, 0, 0, -1);
    if (lanes == 2) return _mm_set_epi16(0, 0, 0, 0, 0, 0, -1, -1);
    return _mm_set_epi16(0, 0, 0, 0, -1, -1, -1, -1);
  }
};

// Decodes the whole runs of 16 bytes from the states, leaving them after
// the last; gives the bytes decoded.
template <int kChannels>
std::size_t DecodeLanes(const unsigned char* in, std::size_t count, unsigned char* out, std::uint32_t& left,
                        std::uint32_t& right) {
  using Lanes = Cbd2Lanes<kChannels>;
  const std::size_t whole = count / 16 * 16;
  if (whole == 0) return 0;
  __m128i carry = Lanes::Carry(left, right);
  for (std::size_t at = 0; at < whole; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at));
    // Each byte's sign widened into its 16-bit lane.
    const __m128i first = Lanes::Run(_mm_srai_epi16(_mm_unpacklo_epi8(bytes, bytes), 8), carry);
    const __m128i second = Lanes::Run(_mm_srai_epi16(_mm_unpackhi_epi8(bytes, bytes), 8), Lanes::Last(first));
    carry = Lanes::Last(second);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * at), first);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * at + 16), second);
  }
  const auto last = static_cast<std::uint32_t>(_mm_cvtsi128_si32(carry));
  left = last & 0xFFFF;
  right = kChannels == 2 ? last >> 16 : right;
  return whole;
}
#else
template <int kChannels>
std::size_t DecodeLanes(const unsigned char*, std::size_t, unsigned char*, std::uint32_t&, std::uint32_t&) {
  return 0;
}
#endif

class Cbd2Stereo final : public SoundDecoder {
 public:
  Cbd2Stereo() : SoundDecoder(2, 1, 2) {}

 private:
  void DecodeUnits(const unsigned char* in, std::size_t units, unsigned char* out) override {
    std::uint32_t left = left_, right = right_;
    const std::size_t done = DecodeLanes<2>(in, 2 * units, out, left, right);
    in += done;
    out += 2 * done;
    for (const unsigned char* end = in + 2 * units - done; in != end; in += 2, out += 4) {
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
    std::uint32_t value = value_, unused = 0;
    const std::size_t done = DecodeLanes<1>(in, units, out, value, unused);
    in += done;
    out += 2 * done;
    for (const unsigned char* end = in + units - done; in != end; ++in, out += 2) {
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
