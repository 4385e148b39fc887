#pragma once

#include <cstddef>
#include <cstdint>

namespace morvane {

// The decoder's two channel states, alive for one decode run.
struct Sdx2State {
  std::int16_t channel[2] = {0, 0};  // [0] gives output sample 1, [1] sample 2
};

struct Sdx2Frame {
  std::int16_t sample1;  // left
  std::int16_t sample2;  // right
};

// Decodes one frame. The channels are crossed against the byte order: the
// second byte feeds output sample 1 (left), the first byte output sample 2.
Sdx2Frame DecodeSdx2Frame(Sdx2State& state, std::uint8_t firstByte, std::uint8_t secondByte);

// Decodes a run of frames (two bytes each) into 16-bit samples (four bytes a
// frame, output sample 1 then 2, little-endian), exactly as DecodeSdx2Frame
// frame after frame would.
void DecodeSdx2Frames(Sdx2State& state, const std::uint8_t* in, std::size_t frames, std::uint8_t* out);

// Mono SDX2: one channel state, each byte one sample by the same exact and
// delta rule, each sample doubled and written as 16 bits, little-endian.
void DecodeSdx2Mono(std::int16_t& state, const std::uint8_t* in, std::size_t count, std::uint8_t* out);

}  // namespace morvane
