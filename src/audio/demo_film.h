#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvane {

// The demo's film: the moving test pattern as Cinepak key frames, one every
// `frameTicks` from time 0 for as long as the first sound stream plays, on
// film channel 0. Each frame's chunk carries the key flag, as newer streams
// set it.
struct DemoFilmOptions {
  int width = 320;  // multiples of 4, at most kCinepakMaxSide
  int height = 240;
  std::int32_t frameTicks = 20;  // each frame's duration, in 1/240 s: 12 frames a second; 0: no film
  std::size_t chunkSize = 0;     // each frame's chunk padded up to at least this size, a multiple of 4
};

// Raises std::invalid_argument for options the film cannot be made from.
void CheckDemoFilm(const DemoFilmOptions& options);

// Frames in a film beside a sound stream of `seconds`.
std::size_t DemoFilmFrameCount(const DemoFilmOptions& options, double seconds);

// The largest chunk the film may hold (in practice a frame's).
std::size_t DemoFilmLargestChunk(const DemoFilmOptions& options);

// Makes the film's chunks, whole. The pattern repeats, so each of its
// distinct frames is encoded once and kept: a stream of hundreds of
// megabytes costs no more encoding than a short one.
class DemoFilm {
 public:
  DemoFilm(const DemoFilmOptions& options, double seconds);

  std::size_t FrameCount() const { return frameCount_; }
  std::int32_t FrameTime(std::size_t frame) const;

  // The "FHDR" chunk, and the "FRME" chunk of a frame.
  std::vector<unsigned char> HeaderChunk() const;
  std::vector<unsigned char> FrameChunk(std::size_t frame);

 private:
  DemoFilmOptions options_;
  std::size_t frameCount_;
  std::vector<std::vector<unsigned char>> encoded_;  // by place in the pattern's loop
};

}  // namespace morvane
