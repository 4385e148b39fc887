#pragma once

#include <string>

#include "support/stream_builder.h"

namespace morvane::test {

// Plain models of the sound codecs, written from their descriptions rather
// than from the decoders under test: the samples a stream's data must give,
// 16-bit little-endian, channels interleaved left first, as the movies hold
// them. `type` is "SDX2", "CBD2", "ADP4", or "PCM16" / "PCM8" for
// uncompressed data; a unit left incomplete at the end gives nothing.
Bytes ModelSamples(const std::string& type, int channels, const Bytes& data);

// The same samples as a WAV holds them: 8-bit ones unsigned, as value / 256
// + 128; others as they are.
Bytes ModelWavSamples(const std::string& type, int channels, const Bytes& data);

}  // namespace morvane::test
