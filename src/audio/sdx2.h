#pragma once

#include <cstddef>
#include <cstdint>

namespace morvane {

// The decoder's two channel states, alive for one decode run.
struct Sdx2State {
  std::int16_t channel[2] = {0, 0};  // [0] left, [1] right
};

struct Sdx2Frame {
  std::int16_t sample1;  // left
  std::int16_t sample2;  // right
};

// Decodes one frame. Streams store their sound in the frame order of the
// AIFF files it was cut from: the first byte of the pair (the lower offset)
// is the left channel, the second byte the right one, each with its own
// running state.
Sdx2Frame DecodeSdx2Frame(Sdx2State& state, std::uint8_t firstByte, std::uint8_t secondByte);

// Decodes a run of frames (two bytes each) into 16-bit samples (four bytes a
// frame, left then right, little-endian), exactly as DecodeSdx2Frame frame
// after frame would.
void DecodeSdx2Frames(Sdx2State& state, const std::uint8_t* in, std::size_t frames, std::uint8_t* out);

// Mono SDX2: one channel state, each byte one sample by the same exact and
// delta rule, each sample doubled and written as 16 bits, little-endian.
void DecodeSdx2Mono(std::int16_t& state, const std::uint8_t* in, std::size_t count, std::uint8_t* out);

}  // namespace morvane
