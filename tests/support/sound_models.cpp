#include "support/sound_models.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace morvane::test {

namespace {

void Put(Bytes& out, std::int32_t sample) {
  const auto value = static_cast<std::uint16_t>(sample);
  out.push_back(static_cast<unsigned char>(value));
  out.push_back(static_cast<unsigned char>(value >> 8));
}

int Signed(unsigned char byte) { return byte < 128 ? byte : byte - 256; }

// SDX2: s times |s|, doubled on output.
std::int32_t Sdx2(std::int32_t& state, unsigned char byte) {
  const int s = Signed(byte);
  const int q = s * (s < 0 ? -s : s);
  state = static_cast<std::int16_t>((byte & 1) ? state + q : q);
  return static_cast<std::int16_t>(2 * state);
}

// CBD2: floor(n^3 / 64), the sample itself.
std::int32_t Cbd2(std::int32_t& state, unsigned char byte) {
  const long long cube = static_cast<long long>(Signed(byte)) * Signed(byte) * Signed(byte);
  const long long floored = (cube - ((cube % 64) + 64) % 64) / 64;
  state = static_cast<std::int16_t>((byte & 1) ? state + floored : floored);
  return state;
}

// The 89 steps of 4-bit IMA ADPCM.
const std::vector<int> kImaSteps = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

struct Adpcm {
  int predictor = 0, index = 0;
  int Nibble(int nibble) {
    const int step = kImaSteps[static_cast<std::size_t>(index)];
    int diff = step >> 3;
    if (nibble & 4) diff += step;
    if (nibble & 2) diff += step >> 1;
    if (nibble & 1) diff += step >> 2;
    predictor += (nibble & 8) ? -diff : diff;
    if (predictor > 32767) predictor = 32767;
    if (predictor < -32768) predictor = -32768;
    static const int kMoves[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
    index += kMoves[nibble & 7];
    if (index < 0) index = 0;
    if (index > 88) index = 88;
    return predictor;
  }
};

}  // namespace

Bytes ModelSamples(const std::string& type, int channels, const Bytes& data) {
  Bytes out;
  const auto n = static_cast<std::size_t>(channels);
  if (type == "SDX2" || type == "CBD2") {
    std::vector<std::int32_t> states(n, 0);
    for (std::size_t i = 0; i + n <= data.size(); i += n)
      for (std::size_t c = 0; c < n; ++c)
        Put(out, type == "SDX2" ? Sdx2(states[c], data[i + c]) : Cbd2(states[c], data[i + c]));
  } else if (type == "ADP4") {
    Adpcm state;
    for (const unsigned char byte : data) {
      Put(out, state.Nibble(byte >> 4));
      Put(out, state.Nibble(byte & 15));
    }
  } else if (type == "PCM16") {
    for (std::size_t i = 0; i + 2 * n <= data.size(); i += 2 * n)
      for (std::size_t c = 0; c < n; ++c) Put(out, Signed(data[i + 2 * c]) * 256 + data[i + 2 * c + 1]);
  } else if (type == "PCM8") {
    for (std::size_t i = 0; i + n <= data.size(); i += n)
      for (std::size_t c = 0; c < n; ++c) Put(out, Signed(data[i + c]) * 256);
  }
  return out;
}

Bytes ModelWavSamples(const std::string& type, int channels, const Bytes& data) {
  const Bytes samples = ModelSamples(type, channels, data);
  if (type != "PCM8") return samples;
  Bytes out;
  for (std::size_t i = 0; i + 1 < samples.size(); i += 2)
    out.push_back(static_cast<unsigned char>(Signed(samples[i + 1]) + 128));
  return out;
}

Bytes TwoToneSdx2(double leftHz, double rightHz, int rate, std::size_t frames) {
  const double pi = std::acos(-1.0);
  Bytes out;
  for (std::size_t i = 0; i < frames; ++i) {
    for (const double hz : {leftHz, rightHz}) {
      // The state is half the sample; s, even, with s * |s| nearest it.
      const double state = 10000.0 * std::sin(2 * pi * hz * static_cast<double>(i) / rate);
      const int s = 2 * static_cast<int>(std::lround(std::sqrt(std::fabs(state)) / 2)) * (state < 0 ? -1 : 1);
      out.push_back(static_cast<unsigned char>(s & 0xFF));
    }
  }
  return out;
}

double ToneLevel(const Bytes& pcm, int channels, int channel, double hz, int rate) {
  const double pi = std::acos(-1.0);
  const double coefficient = 2 * std::cos(2 * pi * hz / rate);
  double previous = 0, earlier = 0, energy = 0;
  std::size_t count = 0;
  const auto frameBytes = static_cast<std::size_t>(2 * channels);
  for (std::size_t at = 2 * static_cast<std::size_t>(channel); at + 1 < pcm.size(); at += frameBytes) {
    const double x = static_cast<std::int16_t>(pcm[at] | pcm[at + 1] << 8) / 32768.0;
    const double now = x + coefficient * previous - earlier;
    earlier = previous;
    previous = now;
    energy += x * x;
    ++count;
  }
  if (count == 0 || energy == 0) return 0;
  const double power = previous * previous + earlier * earlier - coefficient * previous * earlier;
  return power / (energy * static_cast<double>(count));
}

}  // namespace morvane::test
