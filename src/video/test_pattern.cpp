#include "video/test_pattern.h"

#include <algorithm>
#include <array>

namespace morvane {

namespace {

struct Colour {
  unsigned char red, green, blue;
};

constexpr std::array<Colour, 7> kBars = {
    {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0}, {255, 0, 255}, {255, 0, 0}, {0, 0, 255}}};
constexpr Colour kSweep = {32, 32, 32};
constexpr Colour kBand = {24, 24, 24};
constexpr Colour kDigit = {255, 255, 255};
constexpr Colour kSquare = {255, 128, 0};

// The digits 0 to 9 in three columns and five rows, a row's bits left to
// right.
constexpr std::array<std::array<unsigned char, 5>, 10> kGlyphs = {{{7, 5, 5, 5, 7},
                                                                   {2, 6, 2, 2, 7},
                                                                   {7, 1, 7, 4, 7},
                                                                   {7, 1, 7, 1, 7},
                                                                   {5, 5, 7, 1, 1},
                                                                   {7, 4, 7, 1, 7},
                                                                   {7, 4, 7, 5, 7},
                                                                   {7, 1, 1, 1, 1},
                                                                   {7, 5, 7, 5, 7},
                                                                   {7, 5, 7, 1, 7}}};
// The moving parts' periods, each dividing the loop.
constexpr int kSweepFrames = 40;
constexpr int kBounceFrames = 60;
static_assert(kTestPatternLoop % kSweepFrames == 0 && kTestPatternLoop % kBounceFrames == 0);

int Even(int value) { return value & ~1; }

class Canvas {
 public:
  Canvas(int width, int height)
      : width_(width), height_(height), pixels_(3 * static_cast<std::size_t>(width) * height) {}

  // Fills [x0, x1) x [y0, y1), clipped to the picture.
  void Fill(int x0, int y0, int x1, int y1, Colour colour) {
    for (int y = std::max(y0, 0); y < std::min(y1, height_); ++y) {
      for (int x = std::max(x0, 0); x < std::min(x1, width_); ++x) {
        unsigned char* pixel = &pixels_[3 * (static_cast<std::size_t>(y) * width_ + x)];
        pixel[0] = colour.red;
        pixel[1] = colour.green;
        pixel[2] = colour.blue;
      }
    }
  }

  std::vector<unsigned char> Take() { return std::move(pixels_); }

 private:
  int width_, height_;
  std::vector<unsigned char> pixels_;
};

}  // namespace

std::vector<unsigned char> TestPatternPicture(std::size_t frame, int width, int height) {
  const int phase = static_cast<int>(frame % kTestPatternLoop);
  Canvas canvas(width, height);
  const int barsEnd = Even(height * 3 / 5);
  const int rampEnd = barsEnd + Even(height / 8);

  for (int bar = 0; bar < 7; ++bar)
    canvas.Fill(Even(bar * width / 7), 0, Even((bar + 1) * width / 7), barsEnd, kBars[bar]);
  const int sweepWidth = std::max(2, Even(width / 40));
  const int sweepX = Even((phase % kSweepFrames) * (width - sweepWidth) / (kSweepFrames - 1));
  canvas.Fill(sweepX, 0, sweepX + sweepWidth, barsEnd, kSweep);

  // Black to white in steps of two pixels.
  const int steps = width / 2;
  for (int step = 0; step < steps; ++step) {
    const auto level = static_cast<unsigned char>(step * 255 / std::max(1, steps - 1));
    canvas.Fill(2 * step, barsEnd, 2 * step + 2, rampEnd, {level, level, level});
  }

  canvas.Fill(0, rampEnd, width, height, kBand);
  const int cell = std::max(2, Even((height - rampEnd) / 7));
  const int top = rampEnd + Even((height - rampEnd - 5 * cell) / 2);
  int x = 2 * cell;
  for (const int digit : {phase / 100, phase / 10 % 10, phase % 10}) {
    for (int row = 0; row < 5; ++row) {
      for (int column = 0; column < 3; ++column) {
        if ((kGlyphs[digit][row] >> (2 - column) & 1) == 0) continue;
        canvas.Fill(x + column * cell, top + row * cell, x + (column + 1) * cell, top + (row + 1) * cell,
                    kDigit);
      }
    }
    x += 4 * cell;
  }
  // The square bounces between the counter and the right edge.
  const int side = 5 * cell;
  const int left = x + cell;
  const int travel = std::max(0, width - 2 * cell - side - left);
  const int half = kBounceFrames / 2;
  const int bounce = phase % kBounceFrames;
  const int squareX = left + Even((bounce < half ? bounce : kBounceFrames - bounce) * travel / half);
  canvas.Fill(squareX, top, squareX + side, top + side, kSquare);
  return canvas.Take();
}

}  // namespace morvane
