#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "video/film_codec.h"

namespace morvane {

// The largest picture the decoder takes, either way: it keeps two pictures
// of that size, so memory stays bounded (about 25 MB at most) whatever the
// film's header says.
inline constexpr int kCinepakMaxDecodeSide = 2048;

// One film's Cinepak decoder: keeps its codebooks and its picture from frame to frame.
//
// A frame is a 10-byte header (flags, 24-bit length, width, height, strip
// count) and its strips; a strip is a 1-byte id, a 24-bit size counting its
// 12-byte header, its rectangle (top, left, bottom, right; a top of 0 starts
// it where the previous strip ended, and its bottom is then its height), and
// its chunks, each a 1-byte id and a 24-bit size counting the 4-byte
// header. A strip keeps its two codebooks (V4: the 2x2 patches of detailed
// blocks; V1: patches whose four lumas each cover 2x2 pixels) from frame to
// frame, and unless the frame's flag bit 0 is set each strip starts from the
// codebooks the strip above it left. Each codebook entry is turned into RGB
// as it is loaded, with the codec's integer steps: R = Y + 2V,
// G = Y - U/2 - V (U/2 rounded toward zero), B = Y + 2U, each clamped to
// 0..255, so that the picture is byte for byte what FFmpeg's decoder gives.
class CinepakDecoder final : public FilmDecoder {
 public:
  // The film's picture size, from 1 to kCinepakMaxDecodeSide either way;
  // raises std::invalid_argument for another.
  CinepakDecoder(int width, int height);  // the film's picture size
  // Decodes one frame (its bytes as the movie stores them) onto the picture. Gives "" when the
  // frame decoded whole, else what was wrong (the picture then holds what could be decoded).
  // The text names the frame by its place among the frames given ("frame 3: ...", from 1).
  std::string Decode(const unsigned char* frame, std::size_t size) override;
  // The picture: Width() x Height() pixels, three bytes each (red, green, blue), rows top to bottom.
  const std::vector<unsigned char>& Rgb() const override;
  int Width() const override;
  int Height() const override;

  // Whether a frame whose strips are all intra-coded has been decoded: until
  // then, parts of the picture may be the black it starts from.
  bool HasKeyFrame() const { return keySeen_; }
  // Frames given to Decode so far.
  long long Frames() const { return frames_; }

  // Each entry: four pixels (top left, top right, bottom left, bottom
  // right), three bytes each.
  using Entry = std::array<unsigned char, 12>;
  struct Codebooks {
    std::array<Entry, 256> v4{}, v1{};
  };
  // Strips past this many in a frame are not decoded.
  static constexpr std::size_t kMostStrips = 32;

 private:
  struct Rectangle {
    int left = 0, top = 0, right = 0, bottom = 0;
  };
  std::string DecodeStrip(Codebooks& books, const Rectangle& area, const unsigned char* data,
                          std::size_t size);
  std::string DecodeVectors(const Codebooks& books, const Rectangle& area, int chunkId,
                            const unsigned char* data, std::size_t size);

  int width_, height_;
  int paddedWidth_, paddedHeight_;  // up to whole 4x4 blocks
  std::size_t stride_;              // bytes a row of the picture in work, which blocks may overrun
  std::vector<unsigned char> work_;
  std::vector<unsigned char> rgb_;
  std::vector<Codebooks> strips_;
  long long frames_ = 0;
  bool keySeen_ = false;
};

}  // namespace morvane
