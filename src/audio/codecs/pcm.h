#pragma once

#include <memory>

#include "audio/codecs/sound_codec.h"

namespace morvane {

// Uncompressed sound: signed big-endian 16-bit samples, or signed 8-bit
// ones (widened x256 into 16 bits), channels interleaved.
std::unique_ptr<SoundDecoder> MakePcm16Decoder(int channels);
std::unique_ptr<SoundDecoder> MakePcm8Decoder(int channels);

}  // namespace morvane
