#include "audio/sdx2_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

namespace morvane {
namespace {

// The smallest distance to the target that any of the 256 bytes reaches
// from the channel's state, measured on the decoder's own wrapped output.
int BestReachable(std::int16_t channel, std::int16_t target) {
  int best = 1 << 20;
  for (int byte = 0; byte < 256; ++byte) {
    Sdx2State trial;
    trial.channel[0] = channel;
    const std::int16_t output = DecodeSdx2Frame(trial, static_cast<std::uint8_t>(byte), 0).sample1;
    best = std::min(best, std::abs(int{output} - int{target}));
  }
  return best;
}

std::vector<std::int16_t> Targets() {
  std::vector<std::int16_t> samples;
  // Extremes on both channels, in both orders, then jumps across the range.
  const std::vector<std::int16_t> extremes = {32767, -32768, 32767, 0, -32768, 1, -1, 32766, -32767, 16384};
  for (std::size_t i = 0; i < extremes.size(); ++i) {
    samples.push_back(extremes[i]);
    samples.push_back(extremes[extremes.size() - 1 - i]);
  }
  std::mt19937 random(7);
  std::uniform_int_distribution<int> any(-32768, 32767);
  for (int i = 0; i < 4000; ++i) samples.push_back(static_cast<std::int16_t>(any(random)));
  // A random walk with small steps, where the delta bytes matter most.
  std::uniform_int_distribution<int> step(-600, 600);
  int left = 0, right = 0;
  for (int i = 0; i < 4000; ++i) {
    left = std::clamp(left + step(random), -32768, 32767);
    right = std::clamp(right + step(random), -32768, 32767);
    samples.push_back(static_cast<std::int16_t>(left));
    samples.push_back(static_cast<std::int16_t>(right));
  }
  return samples;
}

TEST(Sdx2EncoderTest, EverySampleIsTheNearestTheDecoderCanReach) {
  const std::vector<std::int16_t> samples = Targets();
  const std::size_t frames = samples.size() / 2;
  Sdx2State encoderState;
  encoderState.channel[0] = 31000;  // a start far from the first targets
  encoderState.channel[1] = -31000;
  Sdx2State decoder = encoderState;
  const std::vector<std::uint8_t> encoded = EncodeSdx2(samples.data(), frames, encoderState);
  ASSERT_EQ(2 * frames, encoded.size());
  for (std::size_t frame = 0; frame < frames; ++frame) {
    const std::int16_t left = samples[2 * frame], right = samples[2 * frame + 1];
    const int bestLeft = BestReachable(decoder.channel[0], left);
    const int bestRight = BestReachable(decoder.channel[1], right);
    const Sdx2Frame decoded = DecodeSdx2Frame(decoder, encoded[2 * frame], encoded[2 * frame + 1]);
    ASSERT_EQ(bestLeft, std::abs(decoded.sample1 - left)) << "frame " << frame;
    ASSERT_EQ(bestRight, std::abs(decoded.sample2 - right)) << "frame " << frame;
  }
  // The encoder's state is the decoder's state after the same bytes.
  EXPECT_EQ(decoder.channel[0], encoderState.channel[0]);
  EXPECT_EQ(decoder.channel[1], encoderState.channel[1]);
}

TEST(Sdx2EncoderTest, FromAnyStateTheNearestByteIsFound) {
  // Pairs of state and target, the first where only a byte that wraps the
  // output around comes near: from -1, delta 7F reaches 32256 while the
  // nearest exact byte gives 31752.
  std::vector<std::pair<std::int16_t, std::int16_t>> cases = {
      {-1, 32766}, {-1, 32767},     {0, -32768},     {32767, 32767}, {-32768, -32768},
      {16384, 0},  {-16385, 32767}, {16129, -32768}, {-250, 32500},  {250, -32500}};
  std::mt19937 random(11);
  std::uniform_int_distribution<int> any(-32768, 32767);
  for (int i = 0; i < 20000; ++i) {
    cases.emplace_back(static_cast<std::int16_t>(any(random)), static_cast<std::int16_t>(any(random)));
  }
  for (const auto& [channel, target] : cases) {
    Sdx2State state;
    state.channel[0] = channel;
    state.channel[1] = channel;
    const std::int16_t frame[2] = {target, target};
    const std::vector<std::uint8_t> encoded = EncodeSdx2(frame, 1, state);
    Sdx2State decoder;
    decoder.channel[0] = channel;
    decoder.channel[1] = channel;
    const Sdx2Frame decoded = DecodeSdx2Frame(decoder, encoded[0], encoded[1]);
    const int best = BestReachable(channel, target);
    ASSERT_EQ(best, std::abs(decoded.sample1 - target)) << channel << " -> " << target;
    ASSERT_EQ(best, std::abs(decoded.sample2 - target)) << channel << " -> " << target;
  }
}

TEST(Sdx2EncoderTest, TheStateCarriesFromOneCallToTheNext) {
  const std::vector<std::int16_t> samples = Targets();
  const std::size_t frames = samples.size() / 2;
  Sdx2State whole;
  const std::vector<std::uint8_t> atOnce = EncodeSdx2(samples.data(), frames, whole);
  Sdx2State pieces;
  std::vector<std::uint8_t> inTwo = EncodeSdx2(samples.data(), 1001, pieces);
  const std::vector<std::uint8_t> rest = EncodeSdx2(samples.data() + 2 * 1001, frames - 1001, pieces);
  inTwo.insert(inTwo.end(), rest.begin(), rest.end());
  EXPECT_EQ(atOnce, inTwo);
  EXPECT_TRUE(EncodeSdx2(samples.data(), 0, pieces).empty());
}

}  // namespace
}  // namespace morvane
