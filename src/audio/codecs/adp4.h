#pragma once

#include <cstdint>
#include <memory>

#include "audio/codecs/sound_codec.h"

namespace morvane {

// ADP4, 4-bit IMA ADPCM in mono: two samples a byte, the high nibble first,
// no block headers; the predictor and the step index start at 0 and carry
// on from chunk to chunk of one stream. The predictor is clamped to 16
// bits (never wrapped) and the index to the table's 89 steps.
struct Adp4State {
  std::int32_t predictor = 0;
  int index = 0;
};
// Decodes one nibble (0 to 15) and gives the sample.
std::int16_t DecodeAdp4Nibble(Adp4State& state, int nibble);
std::unique_ptr<SoundDecoder> MakeAdp4Decoder(int channels);

}  // namespace morvane
