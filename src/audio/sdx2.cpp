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
// it. All in 16-bit two's complement with wrap-around; the output is the
// state doubled, wrapped again, never clipped.
inline std::int16_t DecodeByte(std::int16_t& channel, std::uint8_t byte) {
  const std::int16_t q = kSquare[byte];
  if (byte & 1) {
    channel = static_cast<std::int16_t>(static_cast<std::uint16_t>(channel) + static_cast<std::uint16_t>(q));
  } else {
    channel = q;
  }
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(channel) * 2u);
}

}  // namespace

Sdx2Frame DecodeSdx2Frame(Sdx2State& state, std::uint8_t firstByte, std::uint8_t secondByte) {
  Sdx2Frame frame;
  frame.sample1 = DecodeByte(state.channel[0], secondByte);
  frame.sample2 = DecodeByte(state.channel[1], firstByte);
  return frame;
}

}  // namespace morvane
