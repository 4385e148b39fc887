#pragma once

#include <cstdint>
#include <memory>

#include "audio/codecs/sound_codec.h"

namespace morvane {

// CBD2 (cube-root delta), laid out as SDX2: one byte a sample, stereo
// interleaved left first, each channel with its own running value. The
// value of byte n (signed) is floor(n^3 / 64), computed in integers as
// v = n*256, a = (v*v) >> 15, (a*v) >> 15; an even byte sets the channel's
// value, an odd byte adds to it, in 16-bit wrap-around, and the sample is
// the value itself.
std::int16_t Cbd2Value(std::uint8_t byte);
std::unique_ptr<SoundDecoder> MakeCbd2Decoder(int channels);

}  // namespace morvane
