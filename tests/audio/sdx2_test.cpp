#include "audio/sdx2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace morvane {
namespace {

struct FrameRow {
  std::uint8_t first, second;
  std::int16_t sample1, sample2;
  std::int16_t stateAfter1, stateAfter2;
};

// Runs the rows in order over one state that starts at 0.
void ExpectSequence(const std::vector<FrameRow>& rows) {
  Sdx2State state;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const FrameRow& row = rows[i];
    const Sdx2Frame frame = DecodeSdx2Frame(state, row.first, row.second);
    EXPECT_EQ(row.sample1, frame.sample1) << "row " << i;
    EXPECT_EQ(row.sample2, frame.sample2) << "row " << i;
    EXPECT_EQ(row.stateAfter1, state.channel[0]) << "row " << i;
    EXPECT_EQ(row.stateAfter2, state.channel[1]) << "row " << i;
  }
}

// Left first: the byte at the lower offset of each pair gives the left
// sample (sample1), the other the right one.
TEST(Sdx2Test, WorkedExample) {
  ExpectSequence({
      {0x10, 0x20, 512, 2048, 256, 1024},
      {0x03, 0x05, 530, 2098, 265, 1049},
      {0xF0, 0xE1, -512, 176, -256, 88},
      {0x7F, 0x81, 31746, -32082, 15873, -16041},
      {0x80, 0x7E, -32768, 31752, -16384, 15876},
  });
}

TEST(Sdx2Test, WrapAroundExample) {
  ExpectSequence({
      {0x7F, 0x7F, 32258, 32258, 16129, 16129},
      {0x7F, 0x7F, -1020, -1020, 32258, 32258},
      {0x7F, 0x7F, 31238, 31238, -17149, -17149},
      {0x80, 0x00, -32768, 0, -16384, 0},
  });
}

TEST(Sdx2Test, SignedSquaresOfTellingBytes) {
  // From a state of 0 an exact and a delta byte both leave q in the state.
  const std::vector<std::pair<std::uint8_t, std::int16_t>> squares = {
      {0x00, 0},      {0x01, 1},      {0x02, 4},    {0x10, 256},  {0x11, 289}, {0x7E, 15876}, {0x7F, 16129},
      {0x80, -16384}, {0x81, -16129}, {0xF0, -256}, {0xF1, -225}, {0xFE, -4},  {0xFF, -1}};
  for (const auto& [byte, q] : squares) {
    Sdx2State state;
    const Sdx2Frame frame = DecodeSdx2Frame(state, byte, byte);
    EXPECT_EQ(q, state.channel[0]) << int{byte};
    EXPECT_EQ(q, state.channel[1]) << int{byte};
    EXPECT_EQ(static_cast<std::int16_t>(2 * q), frame.sample1) << int{byte};
  }
}

TEST(Sdx2Test, ExactBytesIgnoreHistoryAndDeltaBytesAdd) {
  struct Case {
    std::int16_t before;
    std::uint8_t byte;
    std::int16_t after, output;
  };
  const std::vector<Case> cases = {
      {12345, 0x00, 0, 0},            // exact: the history is gone
      {-20000, 0x10, 256, 512},       //
      {1000, 0xFF, 999, 1998},        // FF lowers by 1, the output by 2
      {-5, 0x01, -4, -8},             // 01 raises by 1
      {16384, 0x01, 16385, -32766},   // the doubled state wraps
      {-16384, 0xFF, -16385, 32766},  //
      {32767, 0x01, -32768, 0},       // the sum wraps past 32767
      {-32768, 0xFF, 32767, -2},      // and below -32768
      {30000, 0x7F, -19407, 26722},   // 46129 wraps to -19407
  };
  for (const Case& c : cases) {
    // The same byte through either channel: the first byte feeds channel[0].
    Sdx2State left;
    left.channel[0] = c.before;
    EXPECT_EQ(c.output, DecodeSdx2Frame(left, c.byte, 0x00).sample1) << c.before << " " << int{c.byte};
    EXPECT_EQ(c.after, left.channel[0]);
    Sdx2State right;
    right.channel[1] = c.before;
    EXPECT_EQ(c.output, DecodeSdx2Frame(right, 0x00, c.byte).sample2) << c.before << " " << int{c.byte};
    EXPECT_EQ(c.after, right.channel[1]);
  }
}

TEST(Sdx2Test, ExtremePairsAndLeftFirst) {
  Sdx2State state;
  state.channel[0] = 777;
  state.channel[1] = -777;
  Sdx2Frame frame = DecodeSdx2Frame(state, 0x80, 0x80);
  EXPECT_EQ(-32768, frame.sample1);
  EXPECT_EQ(-32768, frame.sample2);
  frame = DecodeSdx2Frame(state, 0x7E, 0x7E);
  EXPECT_EQ(31752, frame.sample1);
  EXPECT_EQ(31752, frame.sample2);
  // The first byte of the pair is the left channel.
  frame = DecodeSdx2Frame(state, 0x10, 0x20);
  EXPECT_EQ(512, frame.sample1);
  EXPECT_EQ(2048, frame.sample2);
}

// The run decoder gives what the frame decoder gives frame after frame, and
// carries the states over from one run to the next wherever the runs split.
TEST(Sdx2Test, RunsDecodeAsFrameAfterFrame) {
  std::vector<std::uint8_t> input;
  // Every pair of bytes once, then a stretch of delta bytes that drives the
  // states round the 16-bit range.
  for (int first = 0; first < 256; ++first)
    for (int second = 0; second < 256; ++second) {
      input.push_back(static_cast<std::uint8_t>(first));
      input.push_back(static_cast<std::uint8_t>(second));
    }
  for (int i = 0; i < 4000; ++i) {
    input.push_back(i % 3 == 0 ? 0x7F : 0x81);
    input.push_back(0x7F);
  }
  const std::size_t frames = input.size() / 2;
  std::vector<std::uint8_t> expected;
  Sdx2State one;
  for (std::size_t i = 0; i < frames; ++i) {
    const Sdx2Frame frame = DecodeSdx2Frame(one, input[2 * i], input[2 * i + 1]);
    for (const std::int16_t sample : {frame.sample1, frame.sample2}) {
      expected.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(sample)));
      expected.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(sample) >> 8));
    }
  }
  for (const std::size_t run : {std::size_t{1}, std::size_t{7}, std::size_t{2048}, frames}) {
    SCOPED_TRACE(run);
    Sdx2State state;
    std::vector<std::uint8_t> out(4 * frames, 0xEE);
    for (std::size_t at = 0; at < frames; at += run)
      DecodeSdx2Frames(state, input.data() + 2 * at, std::min(run, frames - at), out.data() + 4 * at);
    EXPECT_EQ(expected, out);
    EXPECT_EQ(one.channel[0], state.channel[0]);
    EXPECT_EQ(one.channel[1], state.channel[1]);
  }
}

}  // namespace
}  // namespace morvane
