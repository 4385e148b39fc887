#include "audio/codecs/adp4.h"

#include <algorithm>
#include <array>
#include <cstring>

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
// The nibbles' three bits that move the index, for every byte: the high
// nibble's above the low one's (a load costs the loop less than the shifts).
constexpr std::array<std::uint8_t, 256> kMovesKey = [] {
  std::array<std::uint8_t, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte)
    table[byte] = static_cast<std::uint8_t>(((byte >> 1) & 0x38) | (byte & 7));
  return table;
}();

// The step index runs through the whole stream, each byte waiting for the
// one before: it is what holds the decoding back. A run of nibbles moves the
// index as clamp(index + move, low, high) for one sum of moves and one pair
// of bounds, so the index two bytes on is one load from a row of that
// function, found from the four nibbles' moves before the index is known:
// the run takes one load for two bytes. The rows are shared by every pair
// (and every single byte) whose function is the same.
struct IndexMoves {
  int move = 0, low = 0, high = 88;  // the index after: clamp(index + move, low, high)
  constexpr IndexMoves Then(unsigned nibble) const {
    const int step = kIndexMoves[nibble & 7];
    return {move + step, std::clamp(low + step, 0, 88), std::clamp(high + step, 0, 88)};
  }
};
// A row holds clamp(v - kRowBias, low, high) for v from 0; the entry for an
// index is at the index plus the run's move plus kRowBias (at least 0, since
// four nibbles move the index by -4 at least; at most 88 + 32 + 4).
constexpr int kRowBias = 4;
constexpr std::size_t kRowLength = 128;
constexpr std::size_t kMostRows = 64;

struct IndexRuns {
  std::array<std::uint8_t, kMostRows * kRowLength> rows{};
  std::array<std::uint16_t, 64> byteRow{};    // by a byte's moves key
  std::array<std::uint16_t, 4096> pairRow{};  // by the keys of two bytes, the first above
  std::size_t rowCount = 0;
};
constexpr IndexRuns kIndexRuns = [] {
  IndexRuns runs;
  // The row of each pair of bounds, once made: kMostRows when none yet.
  std::array<std::uint8_t, 89 * 89> rowOfBounds{};
  rowOfBounds.fill(kMostRows);
  const auto rowOf = [&](const IndexMoves& moves) {
    std::uint8_t& row = rowOfBounds[static_cast<std::size_t>(moves.low * 89 + moves.high)];
    if (row == kMostRows) {
      row = static_cast<std::uint8_t>(runs.rowCount++);
      for (std::size_t v = 0; v < kRowLength; ++v)
        runs.rows[row * kRowLength + v] =
            static_cast<std::uint8_t>(std::clamp(static_cast<int>(v) - kRowBias, moves.low, moves.high));
    }
    return static_cast<std::uint16_t>(row * kRowLength + static_cast<std::size_t>(moves.move + kRowBias));
  };
  for (unsigned key = 0; key < 64; ++key) runs.byteRow[key] = rowOf(IndexMoves{}.Then(key >> 3).Then(key));
  for (unsigned key = 0; key < 4096; ++key)
    runs.pairRow[key] = rowOf(IndexMoves{}.Then(key >> 9).Then(key >> 6).Then(key >> 3).Then(key));
  return runs;
}();
static_assert(kIndexRuns.rowCount <= kMostRows);

// A row of the index runs, its place kept from the compiler, which would
// otherwise fold the row's start into the index and put an add on the run.
inline const std::uint8_t* Row(std::uint16_t start) {
  const std::uint8_t* row = kIndexRuns.rows.data() + start;
#if defined(__GNUC__)
  asm("" : "+r"(row));
#endif
  return row;
}

#if defined(__SSE2__)
// The difference of every step index and nibble in two halves of its sign,
// each within 16 bits, side by side: adding them one after the other with
// 16-bit saturation clamps exactly as adding the whole and clamping once
// would, since the first half can only saturate where the whole would too.
// The predictor's run then waits for two one-cycle adds a nibble. Two more
// halves that no entry reads end the table, so every load of four bytes
// stays in it.
constexpr std::array<std::int16_t, 89 * 16 * 2 + 2> kHalves = [] {
  std::array<std::int16_t, 89 * 16 * 2 + 2> table{};
  for (std::size_t i = 0; i < kNibbleSteps.size(); ++i) {
    const std::int32_t difference = kNibbleSteps[i].difference;
    table[2 * i] = static_cast<std::int16_t>(difference / 2);
    table[2 * i + 1] = static_cast<std::int16_t>(difference - difference / 2);
  }
  return table;
}();
// The step index after each nibble, times 16: where its nibbles' entries start.
constexpr std::array<std::uint16_t, 89 * 16> kNextEntries = [] {
  std::array<std::uint16_t, 89 * 16> table{};
  for (std::size_t i = 0; i < table.size(); ++i)
    table[i] = static_cast<std::uint16_t>(kNibbleSteps[i].next * 16);
  return table;
}();

// A half in the lowest lane: one load of four bytes.
inline __m128i Half(const std::int16_t* half) {
  int bytes;
  std::memcpy(&bytes, half, sizeof bytes);
  return _mm_cvtsi32_si128(bytes);
}

using Predictor = __m128i;
inline Predictor StartPredictor(std::int32_t value) {
  return _mm_cvtsi32_si128(static_cast<std::uint16_t>(value));
}
inline std::int32_t PredictorValue(Predictor predictor) {
  return static_cast<std::int16_t>(_mm_cvtsi128_si32(predictor));
}

// The two samples of a byte whose high nibble meets the step index `index`.
inline void DecodeByte(unsigned byte, std::size_t index, Predictor& predictor, unsigned char* out) {
  const std::size_t high = index * 16 + (byte >> 4);
  const std::size_t low = kNextEntries[high] + (byte & 15);
  const __m128i first =
      _mm_adds_epi16(_mm_adds_epi16(predictor, Half(&kHalves[2 * high])), Half(&kHalves[2 * high + 1]));
  predictor = _mm_adds_epi16(_mm_adds_epi16(first, Half(&kHalves[2 * low])), Half(&kHalves[2 * low + 1]));
  // Both samples, little-endian as the WAV holds them (SSE2 is x86's).
  const auto both = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_unpacklo_epi16(first, predictor)));
  std::memcpy(out, &both, sizeof both);
}
#else
using Predictor = std::int32_t;
inline Predictor StartPredictor(std::int32_t value) { return value; }
inline std::int32_t PredictorValue(Predictor predictor) { return predictor; }

// Without a branch: noise drives the predictor to either end at random.
inline std::int32_t Clamp16(std::int32_t value) {
  value = value < -32768 ? -32768 : value;
  return value > 32767 ? 32767 : value;
}

inline void DecodeByte(unsigned byte, std::size_t index, Predictor& predictor, unsigned char* out) {
  const NibbleStep high = kNibbleSteps[index * 16 + (byte >> 4)];
  const NibbleStep low = kNibbleSteps[static_cast<std::size_t>(high.next) * 16 + (byte & 15)];
  const std::int32_t first = Clamp16(predictor + high.difference);
  predictor = Clamp16(first + low.difference);
  out[0] = static_cast<unsigned char>(first);
  out[1] = static_cast<unsigned char>(first >> 8);
  out[2] = static_cast<unsigned char>(predictor);
  out[3] = static_cast<unsigned char>(predictor >> 8);
}
#endif

class Adp4Mono final : public SoundDecoder {
 public:
  Adp4Mono() : SoundDecoder(1, 2, 1) {}

 private:
  void DecodeUnits(const unsigned char* in, std::size_t units, unsigned char* out) override {
    std::size_t index = static_cast<std::size_t>(state_.index);
    Predictor predictor = StartPredictor(state_.predictor);
    const unsigned char* const end = in + units;
    for (; end - in >= 2; in += 2, out += 8) {
      const unsigned first = in[0], second = in[1];
      const std::uint8_t* pair =
          Row(kIndexRuns.pairRow[static_cast<std::size_t>(kMovesKey[first] << 6 | kMovesKey[second])]);
      const std::uint8_t* single = Row(kIndexRuns.byteRow[kMovesKey[first]]);
      const std::size_t start = index;
      const std::size_t between = single[index];
      index = pair[index];
      DecodeByte(first, start, predictor, out);
      DecodeByte(second, between, predictor, out + 4);
    }
    if (in != end) {
      DecodeByte(*in, index, predictor, out);
      index = Row(kIndexRuns.byteRow[kMovesKey[*in]])[index];
    }
    state_.predictor = PredictorValue(predictor);
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
