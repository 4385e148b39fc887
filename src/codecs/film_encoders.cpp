#include "codecs/film_encoders.h"

#include <algorithm>

#include "core/support.h"

namespace morvane {

std::vector<unsigned char> OpusHead(int channels, int preSkip, std::int32_t rate) {
  std::vector<unsigned char> head(19, 0);
  const char magic[] = "OpusHead";
  std::copy(magic, magic + 8, head.begin());
  head[8] = 1;  // the version
  head[9] = static_cast<unsigned char>(channels);
  WriteLittleEndian16(head.data() + 10, static_cast<std::uint16_t>(preSkip));
  WriteLittleEndian32(head.data() + 12, static_cast<std::uint32_t>(rate));
  // The output gain (0) and the mapping family (0: mono or stereo) follow.
  return head;
}

namespace {

unsigned char Clamped(int value) {
  return static_cast<unsigned char>(value < 0 ? 0 : value > 255 ? 255 : value);
}

}  // namespace

void RgbToI420(const unsigned char* rgb, int width, int height, unsigned char* y, int yStride,
               unsigned char* u, unsigned char* v, int uvStride) {
  for (int row = 0; row < height; ++row) {
    const unsigned char* pixel = rgb + static_cast<std::size_t>(row) * static_cast<std::size_t>(width) * 3;
    unsigned char* out = y + static_cast<std::ptrdiff_t>(row) * yStride;
    for (int column = 0; column < width; ++column, pixel += 3)
      out[column] = Clamped(((66 * pixel[0] + 129 * pixel[1] + 25 * pixel[2] + 128) >> 8) + 16);
  }
  // Each chroma sample from the average of its (up to) four pixels.
  for (int row = 0; row < (height + 1) / 2; ++row) {
    for (int column = 0; column < (width + 1) / 2; ++column) {
      int r = 0, g = 0, b = 0, count = 0;
      for (int dy = 0; dy < 2 && 2 * row + dy < height; ++dy) {
        for (int dx = 0; dx < 2 && 2 * column + dx < width; ++dx) {
          const unsigned char* pixel =
              rgb + (static_cast<std::size_t>(2 * row + dy) * static_cast<std::size_t>(width) +
                     static_cast<std::size_t>(2 * column + dx)) *
                        3;
          r += pixel[0];
          g += pixel[1];
          b += pixel[2];
          ++count;
        }
      }
      r = (r + count / 2) / count;
      g = (g + count / 2) / count;
      b = (b + count / 2) / count;
      const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(row) * uvStride + column;
      u[at] = Clamped(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
      v[at] = Clamped(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
    }
  }
}

}  // namespace morvane
