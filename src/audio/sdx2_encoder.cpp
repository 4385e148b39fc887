#include "audio/sdx2_encoder.h"

#include <array>
#include <cstdlib>

namespace morvane {

namespace {

constexpr int kClassSize = 128;  // exact bytes (bit 0 clear) and delta bytes (bit 0 set)
constexpr int kValueCount = 65536;
constexpr int kValueOffset = 32768;
constexpr int kNearestAcrossWrap = 510;

std::int16_t Wrap16(int value) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(value)); }

// One class of bytes sorted by their doubled signed square 2q, with, for
// every 16-bit value v, the index of the last entry whose 2q is at most v
// (0 when there is none), so that the nearest entries are found in one step.
struct ByteClass {
  std::array<std::uint8_t, kClassSize> byte{};
  std::array<int, kClassSize> twiceSquare{};
  std::array<std::uint8_t, kValueCount> lastAtMost{};
};

ByteClass MakeByteClass(int firstSigned) {
  ByteClass table;
  // The signed values of one class, ascending, step 2: the signed square
  // s x |s| rises with s, so the entries come out sorted.
  for (int i = 0; i < kClassSize; ++i) {
    const int s = firstSigned + 2 * i;
    table.byte[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(s);
    table.twiceSquare[static_cast<std::size_t>(i)] = 2 * s * std::abs(s);
  }
  int index = 0;
  for (int value = -kValueOffset; value < kValueOffset; ++value) {
    while (index + 1 < kClassSize && table.twiceSquare[static_cast<std::size_t>(index + 1)] <= value) ++index;
    table.lastAtMost[static_cast<std::size_t>(value + kValueOffset)] = static_cast<std::uint8_t>(index);
  }
  return table;
}

const ByteClass& ExactBytes() {
  static const ByteClass table = MakeByteClass(-128);
  return table;
}

const ByteClass& DeltaBytes() {
  static const ByteClass table = MakeByteClass(-127);
  return table;
}

// The byte whose decoded output, wrapped as the decoder wraps it, lies
// nearest the target, for a channel whose state is `channel`.
std::uint8_t ChooseByte(std::int16_t channel, std::int16_t target) {
  const ByteClass& exact = ExactBytes();
  const ByteClass& delta = DeltaBytes();
  std::uint8_t best = 0;
  int bestDistance = kValueCount;
  auto consider = [&](std::uint8_t byte, std::int16_t output) {
    const int distance = std::abs(int{output} - int{target});
    if (distance < bestDistance) {
      bestDistance = distance;
      best = byte;
    }
  };

  // An exact byte outputs 2q, which never wraps: the entries on either side
  // of the target are the only ones to try.
  const int e = exact.lastAtMost[static_cast<std::size_t>(target + kValueOffset)];
  for (const int i : {e, e + 1}) {
    if (i >= kClassSize) continue;
    consider(exact.byte[static_cast<std::size_t>(i)], Wrap16(exact.twiceSquare[static_cast<std::size_t>(i)]));
  }

  // A delta byte outputs 2(S + q), wrapped. The output rises by 2q minus
  // the wrap, so the entries on either side of the wrapped rise still
  // needed are the nearest that stay on the target's side of the wrap.
  auto considerDelta = [&](int i) {
    const int q = delta.twiceSquare[static_cast<std::size_t>(i)] / 2;
    consider(delta.byte[static_cast<std::size_t>(i)], Wrap16(2 * Wrap16(channel + q)));
  };
  const std::int16_t rise = Wrap16(int{target} - 2 * int{channel});
  const int d = delta.lastAtMost[static_cast<std::size_t>(rise + kValueOffset)];
  considerDelta(d);
  if (d + 1 < kClassSize) considerDelta(d + 1);
  // Across the wrap only the two ends of the class come near, and never
  // nearer than 65536 - 2 x 16129 - 32768 = 510.
  if (bestDistance > kNearestAcrossWrap) {
    considerDelta(0);
    considerDelta(kClassSize - 1);
  }
  return best;
}

}  // namespace

std::vector<std::uint8_t> EncodeSdx2(const std::int16_t* interleaved, std::size_t frames, Sdx2State& state) {
  std::vector<std::uint8_t> encoded(2 * frames);
  std::uint8_t* out = encoded.data();
  for (std::size_t frame = 0; frame < frames; ++frame) {
    const std::int16_t left = interleaved[2 * frame];
    const std::int16_t right = interleaved[2 * frame + 1];
    // Left first, as the decoder reads the pair.
    const std::uint8_t firstByte = ChooseByte(state.channel[0], left);
    const std::uint8_t secondByte = ChooseByte(state.channel[1], right);
    // The decoder itself moves the state on, so the two can never drift apart.
    DecodeSdx2Frame(state, firstByte, secondByte);
    out[0] = firstByte;
    out[1] = secondByte;
    out += 2;
  }
  return encoded;
}

}  // namespace morvane
