#include "audio/codecs/adp4.h"

#include <algorithm>
#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace morvane {

namespace {

constexpr std::array<std::int32_t, 89> kSteps = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr std::array<int, 8> kIndexMoves = {-1, -1, -1, -1, 2, 4, 6, 8};

// For every step index and nibble: the signed difference the nibble makes
// and the index after it.
struct NibbleStep {
  std::int32_t difference;
  std::int32_t next;
};
constexpr std::array<NibbleStep, 89 * 16> kNibbleSteps = [] {
  std::array<NibbleStep, 89 * 16> table{};
  for (int index = 0; index < 89; ++index) {
    for (int nibble = 0; nibble < 16; ++nibble) {
      const std::int32_t step = kSteps[static_cast<std::size_t>(index)];
      std::int32_t diff = step >> 3;
      if ((nibble & 4) != 0) diff += step;
      if ((nibble & 2) != 0) diff += step >> 1;
      if ((nibble & 1) != 0) diff += step >> 2;
      const int next = std::clamp(index + kIndexMoves[static_cast<std::size_t>(nibble & 7)], 0, 88);
      table[static_cast<std::size_t>(index * 16 + nibble)] = {(nibble & 8) != 0 ? -diff : diff, next};
    }
  }
  return table;
}();
// The index after a whole byte, laid out byte by byte: the row of a byte
// is found before its index is known, and the one step of the run that
// each byte must wait for is a single load from the row at that index, in
// a table that stays in the first-level cache.
constexpr std::array<std::uint8_t, 256 * 89> kByteNext = [] {
  std::array<std::uint8_t, 256 * 89> table{};
  for (int index = 0; index < 89; ++index) {
    for (int byte = 0; byte < 256; ++byte) {
      const int middle = kNibbleSteps[static_cast<std::size_t>(index * 16 + (byte >> 4))].next;
      table[static_cast<std::size_t>(byte * 89 + index)] =
          static_cast<std::uint8_t>(kNibbleSteps[static_cast<std::size_t>(middle * 16 + (byte & 15))].next);
    }
  }
  return table;
}();

#if defined(__SSE2__)
// The difference of every step index and nibble in two halves of its sign,
// each within 16 bits: adding them one after the other with 16-bit
// saturation clamps exactly as adding the whole and clamping once would,
// since the first half can only saturate where the whole would too. The
// predictor's run then waits for two one-cycle adds a nibble.
struct Halves {
  std::int16_t first, second;
};
constexpr std::array<Halves, 89 * 16> kHalves = [] {
  std::array<Halves, 89 * 16> table{};
  for (std::size_t i = 0; i < table.size(); ++i) {
    const std::int32_t difference = kNibbleSteps[i].difference;
    table[i] = {static_cast<std::int16_t>(difference / 2),
                static_cast<std::int16_t>(difference - difference / 2)};
  }
  return table;
}();

inline __m128i Half(const std::int16_t& half) { return _mm_cvtsi32_si128(static_cast<std::uint16_t>(half)); }
#else
// Without a branch: noise drives the predictor to either end at random.
inline std::int32_t Clamp16(std::int32_t value) {
  value = value < -32768 ? -32768 : value;
  return value > 32767 ? 32767 : value;
}
#endif

class Adp4Mono final : public SoundDecoder {
 public:
  Adp4Mono() : SoundDecoder(1, 2, 1) {}

 private:
  void DecodeUnits(const unsigned char* in, std::size_t units, unsigned char* out) override {
    std::size_t index = static_cast<std::size_t>(state_.index);
#if defined(__SSE2__)
    __m128i predictor = _mm_cvtsi32_si128(static_cast<std::uint16_t>(state_.predictor));
    for (const unsigned char* end = in + units; in != end; ++in, out += 4) {
      const unsigned byte = *in;
      const std::size_t high = index * 16 + (byte >> 4);
      const std::size_t low = static_cast<std::size_t>(kNibbleSteps[high].next) * 16 + (byte & 15);
      index = kByteNext[byte * 89 + index];
      const __m128i first =
          _mm_adds_epi16(_mm_adds_epi16(predictor, Half(kHalves[high].first)), Half(kHalves[high].second));
      predictor = _mm_adds_epi16(_mm_adds_epi16(first, Half(kHalves[low].first)), Half(kHalves[low].second));
      const auto both = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_unpacklo_epi16(first, predictor)));
      out[0] = static_cast<unsigned char>(both);
      out[1] = static_cast<unsigned char>(both >> 8);
      out[2] = static_cast<unsigned char>(both >> 16);
      out[3] = static_cast<unsigned char>(both >> 24);
    }
    state_.predictor = static_cast<std::int16_t>(_mm_cvtsi128_si32(predictor));
#else
    std::int32_t predictor = state_.predictor;
    for (const unsigned char* end = in + units; in != end; ++in, out += 4) {
      const unsigned byte = *in;
      const NibbleStep high = kNibbleSteps[index * 16 + (byte >> 4)];
      const NibbleStep low = kNibbleSteps[static_cast<std::size_t>(high.next) * 16 + (byte & 15)];
      index = kByteNext[byte * 89 + index];
      const std::int32_t first = Clamp16(predictor + high.difference);
      predictor = Clamp16(first + low.difference);
      out[0] = static_cast<unsigned char>(first);
      out[1] = static_cast<unsigned char>(first >> 8);
      out[2] = static_cast<unsigned char>(predictor);
      out[3] = static_cast<unsigned char>(predictor >> 8);
    }
    state_.predictor = predictor;
#endif
    state_.index = static_cast<int>(index);
  }
  Adp4State state_;
};

}  // namespace

std::int16_t DecodeAdp4Nibble(Adp4State& state, int nibble) {
  const NibbleStep step = kNibbleSteps[static_cast<std::size_t>(state.index * 16 + (nibble & 15))];
  state.predictor = std::clamp(state.predictor + step.difference, -32768, 32767);
  state.index = step.next;
  return static_cast<std::int16_t>(state.predictor);
}

std::unique_ptr<SoundDecoder> MakeAdp4Decoder(int /*channels*/) { return std::make_unique<Adp4Mono>(); }

}  // namespace morvane
