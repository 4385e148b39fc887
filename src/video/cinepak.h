#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvane {

// Cinepak ("cvid"), the codec of the films in most streams: a frame is a
// 10-byte header (flags, 24-bit length, width, height, strip count) and its
// strips, each a 12-byte header (a 1-byte id, a 24-bit size counting the
// header, then top, left, bottom, right) and its chunks (a 1-byte id, a
// 24-bit size counting the 4-byte header). Numbers big-endian. The demo's
// encoder writes frames through this layout and the converter reads it to
// tell key frames.
inline constexpr std::size_t kCinepakFrameHeaderSize = 10;
inline constexpr std::size_t kCinepakStripHeaderSize = 12;
inline constexpr std::size_t kCinepakChunkHeaderSize = 4;
inline constexpr std::uint8_t kCinepakIntraStrip = 0x10;
inline constexpr std::uint8_t kCinepakInterStrip = 0x11;
// The chunks of a strip that the encoder writes: a full codebook of 2x2
// colour vectors for the blocks drawn from four of them (V4) and one for the
// blocks drawn from one, each of its four lumas covering 2x2 pixels (V1);
// then the blocks' indices, with a flag bit per block (set: V4), or
// without flags when every block is V1.
inline constexpr std::uint8_t kCinepakV4Codebook = 0x20;
inline constexpr std::uint8_t kCinepakV1Codebook = 0x22;
inline constexpr std::uint8_t kCinepakIntraVectors = 0x30;
inline constexpr std::uint8_t kCinepakV1Vectors = 0x32;
// The largest picture the encoder takes, either way.
inline constexpr int kCinepakMaxSide = 1024;

// Whether the frame holds at least one strip and every strip it holds is
// intra-coded: such a frame needs no earlier one. A frame whose strips run
// past its bytes is not. Strips of any size count, those over 64 KiB too.
bool IsCinepakIntraFrame(const unsigned char* frame, std::size_t size);

// Encodes a picture as one key frame: every strip intra-coded with its own
// codebooks. `rgb` holds width x height pixels, three bytes each (red,
// green, blue), rows top to bottom. Width and height must be multiples of
// 4 from 4 to kCinepakMaxSide: Cinepak draws whole 4x4 blocks, and rather
// than invent the missing pixels the encoder raises std::invalid_argument.
// The same picture always gives the same bytes (integer arithmetic only).
std::vector<unsigned char> EncodeCinepakKeyFrame(const unsigned char* rgb, int width, int height);

// The most bytes EncodeCinepakKeyFrame writes for a picture of that size;
// raises std::invalid_argument as it does.
std::size_t CinepakKeyFrameBound(int width, int height);

}  // namespace morvane
