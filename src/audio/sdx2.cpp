#include "audio/sdx2.h"

#include <array>
#include <bit>
#include <cstring>

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
  const std::uint16_t left = NextState(static_cast<std::uint16_t>(state.channel[0]), firstByte);
  const std::uint16_t right = NextState(static_cast<std::uint16_t>(state.channel[1]), secondByte);
  state.channel[0] = static_cast<std::int16_t>(left);
  state.channel[1] = static_cast<std::int16_t>(right);
  return {static_cast<std::int16_t>(Output(left)), static_cast<std::int16_t>(Output(right))};
}

void DecodeSdx2Frames(Sdx2State& state, const std::uint8_t* in, std::size_t frames, std::uint8_t* out) {
  // The states stay in full registers for the whole run: adding and masking
  // agree with 16-bit wrap-around in the low half, which is all that is
  // stored, so nothing needs cutting to 16 bits inside the loop. The masks
  // come from a table too: all ones keep the state (a delta byte), zero
  // clears it (an exact byte).
  static constexpr std::array<std::uint32_t, 256> kSquare32 = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::size_t b = 0; b < 256; ++b) table[b] = static_cast<std::uint16_t>(kSquare[b]);
    return table;
  }();
  static constexpr std::array<std::uint32_t, 256> kKeep = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::size_t b = 0; b < 256; ++b) table[b] = (b & 1) != 0 ? 0xFFFFFFFFu : 0u;
    return table;
  }();
  std::uint32_t left = static_cast<std::uint16_t>(state.channel[0]);
  std::uint32_t right = static_cast<std::uint16_t>(state.channel[1]);
  for (const std::uint8_t* end = in + 2 * frames; in != end; in += 2, out += 4) {
    const std::uint8_t first = in[0];
    const std::uint8_t second = in[1];
    left = kSquare32[first] + (left & kKeep[first]);
    right = kSquare32[second] + (right & kKeep[second]);
    // The left sample in the low half, the right in the high half: both
    // doubled, little-endian.
    const std::uint32_t word = ((left << 1) & 0xFFFFu) | (right << 17);
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out, &word, 4);
    } else {
      out[0] = static_cast<std::uint8_t>(word);
      out[1] = static_cast<std::uint8_t>(word >> 8);
      out[2] = static_cast<std::uint8_t>(word >> 16);
      out[3] = static_cast<std::uint8_t>(word >> 24);
    }
  }
  state.channel[0] = static_cast<std::int16_t>(static_cast<std::uint16_t>(left));
  state.channel[1] = static_cast<std::int16_t>(static_cast<std::uint16_t>(right));
}

void DecodeSdx2Mono(std::int16_t& state, const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
  auto channel = static_cast<std::uint16_t>(state);
  for (const std::uint8_t* end = in + count; in != end; ++in, out += 2) {
    channel = NextState(channel, *in);
    const std::uint16_t sample = Output(channel);
    out[0] = static_cast<std::uint8_t>(sample);
    out[1] = static_cast<std::uint8_t>(sample >> 8);
  }
  state = static_cast<std::int16_t>(channel);
}

}  // namespace morvane
