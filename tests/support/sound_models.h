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

// SDX2 stereo data of `frames` frames whose bytes at even offsets carry a
// tone of `leftHz` and those at odd offsets one of `rightHz`, at `rate`:
// exact bytes only, each the even byte whose signed square, doubled, comes
// nearest a sine of amplitude 20000.
Bytes TwoToneSdx2(double leftHz, double rightHz, int rate, std::size_t frames);

// How strong a tone of `hz` is in one channel of 16-bit little-endian
// samples, channels interleaved: the Goertzel power over the samples,
// relative to their energy and count: a pure tone gives about 0.5, a
// tone that is not there nearly 0.
double ToneLevel(const Bytes& pcm, int channels, int channel, double hz, int rate);

}  // namespace morvane::test
