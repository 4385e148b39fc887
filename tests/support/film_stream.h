#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace morvane::test {

// A stream of films with their sound, of any length, for the benchmark, the
// Windows leg's round trip and the fuzz seeds: each film a header and frames
// laid out as Cinepak's (a key frame every `keyEvery`, the others "DFRM"),
// each with an SDX2 stereo sound stream whose data chunk comes before each
// frame. The films follow one another, or with `together` run at once on
// channels of their own, their chunks interleaved.
struct FilmStreamOptions {
  double seconds = 2.0;  // of each film
  int films = 2;
  bool together = false;
  int framesPerSecond = 15;
  std::size_t frameBytes = 2000;
  int keyEvery = 10;
  std::int32_t rate = 22050;
};

using FilmStreamSink = std::function<void(const unsigned char* bytes, std::size_t count)>;
// Writes it chunk by chunk. Gives the bytes written.
std::int64_t WriteFilmStream(const FilmStreamOptions& options, const FilmStreamSink& sink);

}  // namespace morvane::test
