#pragma once

#include <cstddef>
#include <vector>

namespace morvane {

// The demo film's picture: colour bars crossed by a dark sweep, a grey ramp,
// and below them a three-digit frame counter beside a bouncing square, so
// that any single frame shows which one it is. Every edge falls on even
// pixels. It repeats every kTestPatternLoop frames: the counter shows the
// frame's place in the loop.
inline constexpr std::size_t kTestPatternLoop = 120;

// Width x height pixels (multiples of 4), three bytes each (red, green,
// blue), rows top to bottom.
std::vector<unsigned char> TestPatternPicture(std::size_t frame, int width, int height);

}  // namespace morvane
