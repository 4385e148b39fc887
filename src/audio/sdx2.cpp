#include "audio/sdx2.h"

#include <array>

namespace morvane {

namespace {

// q = s x |s| for the byte read as signed 8-bit: the signed square.
constexpr std::array<std::int16_t, 256> MakeSquareTable() {
  std::array<std::int16_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    const int s = b < 128 ? b : b - 256;
    table[static_cast<std::size_t>(b)] = static_cast<std::int16_t>(s * (s < 0 ? -s : s));
  }
  return table;
}
constexpr std::array<std::int16_t, 256> kSquare = MakeSquareTable();

// Bit 0 clear: an exact byte sets the state. Bit 0 set: a delta byte adds to
// it. All in 16-bit two's complement with wrap-around. Without a branch: the
// old state is kept for a delta byte and masked to 0 for an exact one.
inline std::uint16_t NextState(std::uint16_t channel, std::uint8_t byte) {
  const auto keep = static_cast<std::uint16_t>(-(byte & 1));
  return static_cast<std::uint16_t>(static_cast<std::uint16_t>(kSquare[byte]) + (channel & keep));
}

// The output is the state doubled, wrapped again, never clipped.
inline std::uint16_t Output(std::uint16_t channel) { return static_cast<std::uint16_t>(channel << 1); }

}  // namespace

Sdx2Frame DecodeSdx2Frame(Sdx2State& state, std::uint8_t firstByte, std::uint8_t secondByte) {
  const std::uint16_t left = NextState(static_cast<std::uint16_t>(state.channel[0]), secondByte);
  const std::uint16_t right = NextState(static_cast<std::uint16_t>(state.channel[1]), firstByte);
  state.channel[0] = static_cast<std::int16_t>(left);
  state.channel[1] = static_cast<std::int16_t>(right);
  return {static_cast<std::int16_t>(Output(left)), static_cast<std::int16_t>(Output(right))};
}

void DecodeSdx2Frames(Sdx2State& state, const std::uint8_t* in, std::size_t frames, std::uint8_t* out) {
  // The states stay in full registers for the whole run: adding and masking
  // agree with 16-bit wrap-around in the low half, which is all that is
  // stored, so nothing needs cutting to 16 bits inside the loop.
  std::uint32_t left = static_cast<std::uint16_t>(state.channel[0]);
  std::uint32_t right = static_cast<std::uint16_t>(state.channel[1]);
  for (const std::uint8_t* end = in + 2 * frames; in != end; in += 2, out += 4) {
    const std::uint8_t first = in[0];
    const std::uint8_t second = in[1];
    left = static_cast<std::uint32_t>(kSquare[second]) + (left & (0u - (second & 1u)));
    right = static_cast<std::uint32_t>(kSquare[first]) + (right & (0u - (first & 1u)));
    const std::uint32_t sample1 = left << 1;
    const std::uint32_t sample2 = right << 1;
    out[0] = static_cast<std::uint8_t>(sample1);
    out[1] = static_cast<std::uint8_t>(sample1 >> 8);
    out[2] = static_cast<std::uint8_t>(sample2);
    out[3] = static_cast<std::uint8_t>(sample2 >> 8);
  }
  state.channel[0] = static_cast<std::int16_t>(static_cast<std::uint16_t>(left));
  state.channel[1] = static_cast<std::int16_t>(static_cast<std::uint16_t>(right));
}

}  // namespace morvane
