#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/sdx2.h"

namespace morvane {

// Encodes stereo 16-bit PCM as SDX2: for each sample and channel it picks the
// exact or delta byte whose decoded value comes closest, tracking the
// decoder's own state so that errors do not build up. `interleaved` holds
// frames as left, right; the output holds one byte pair per frame in file
// order, left first, as the decoder reads them.
std::vector<std::uint8_t> EncodeSdx2(const std::int16_t* interleaved, std::size_t frames, Sdx2State& state);

}  // namespace morvane
