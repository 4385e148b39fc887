#pragma once

#include <memory>

#include "audio/codecs/sound_codec.h"

namespace morvane {

// SDX2 (squared delta), one byte a sample, stereo interleaved left first:
// the decoder of audio/sdx2.h behind the codec table.
std::unique_ptr<SoundDecoder> MakeSdx2Decoder(int channels);

}  // namespace morvane
