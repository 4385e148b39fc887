#include "video/cinepak.h"

namespace morvane {

namespace {

std::uint16_t BigEndian16(const unsigned char* bytes) {
  return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

}  // namespace

bool IsCinepakIntraFrame(const unsigned char* frame, std::size_t size) {
  if (size < kCinepakFrameHeaderSize) return false;
  const std::size_t strips = BigEndian16(frame + 8);
  if (strips == 0) return false;
  std::size_t at = kCinepakFrameHeaderSize;
  for (std::size_t strip = 0; strip < strips; ++strip) {
    if (size - at < kCinepakStripHeaderSize) return false;
    const std::uint16_t id = BigEndian16(frame + at);
    const std::size_t stripSize = BigEndian16(frame + at + 2);
    if (id != kCinepakIntraStrip || stripSize < kCinepakStripHeaderSize || stripSize > size - at)
      return false;
    at += stripSize;
  }
  return true;
}

}  // namespace morvane
