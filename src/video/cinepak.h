#pragma once

#include <cstddef>
#include <cstdint>

namespace morvane {

// Cinepak ("cvid"), the codec of the films in most streams: a frame is a
// 10-byte header (flags, 24-bit length, width, height, strip count) and its
// strips, each a 12-byte header (id, size counting the header, then top,
// left, bottom, right) and its chunks (id, size counting the 4-byte header).
// Numbers big-endian. The demo's encoder writes frames through this layout
// and the converter reads it to tell key frames.
inline constexpr std::size_t kCinepakFrameHeaderSize = 10;
inline constexpr std::size_t kCinepakStripHeaderSize = 12;
inline constexpr std::size_t kCinepakChunkHeaderSize = 4;
inline constexpr std::uint16_t kCinepakIntraStrip = 0x1000;
inline constexpr std::uint16_t kCinepakInterStrip = 0x1100;

// Whether the frame holds at least one strip and every strip it holds is
// intra-coded: such a frame needs no earlier one. A frame whose strips run
// past its bytes is not.
bool IsCinepakIntraFrame(const unsigned char* frame, std::size_t size);

}  // namespace morvane
