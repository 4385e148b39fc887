#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "report.h"

namespace morvane::bench {

// The streams that convert is measured on, made by `generate` beside the
// other inputs: one film of large frames, and two films at once of small
// frames interleaved with their sound, each with an SDX2 stream; and a
// stream of sound alone in each of the codecs that cost the most to decode
// (CBD2 stereo, ADP4 mono), with no film.
struct FilmShape {
  std::string name, file;
  std::int64_t size = 0;
  int films = 0, frames = 0;  // frames of each film
  std::string codec = "-";    // of a stream of sound alone; "-" for the films
  bool SoundAlone() const { return codec != "-"; }
  int Wavs() const { return SoundAlone() ? 1 : films; }
};
inline constexpr char kFilmShapesName[] = "films.txt";

std::vector<FilmShape> MakeFilmInputs(const std::string& folder, bool small);
std::vector<FilmShape> LoadFilmShapes(const std::string& folder);

// One shape's timings, each run beside the others: `cp` of the stream, `dd`
// of it through a program's own memory, convert with its movies, convert
// --no-movies, the bare floor that reads the stream and writes as many
// bytes into as many files as convert (bare-convert-floor), and convert's
// peak memory in bytes (a run of its own under the peak launcher).
struct ConvertTimings {
  FilmShape shape;
  std::vector<double> copy, dd, convert, noMovies, floor, peak;
  std::int64_t written = 0;  // the bytes of the movies and WAVs
};

// Runs every figure `runs` times after a warm-up; checks each time that
// convert printed the names it must, that every movie holds its films'
// frames and that the WAVs are the same bytes with and without movies.
// Raises std::runtime_error when an output is wrong.
std::vector<ConvertTimings> MeasureConvert(const std::string& folder, const std::string& cli,
                                           const std::string& self, int runs,
                                           const std::function<void(const std::string&)>& progress);

// The table's rows of those timings: convert beside `cp` (judged), `dd`, the
// bare floor and --no-movies beside it, and its peak memory (judged); for a
// stream of sound alone, convert beside the bare floor (judged, within 1.25
// times it) and its peak memory.
std::vector<Row> ConvertRows(const std::vector<ConvertTimings>& timings);

// convert --webm of the demo stream (its film of 4 s, 320x240, and its two
// sound streams) beside FFmpeg's libvpx-vp9 and libopus encoding that
// film's movie at the same settings (judged: at most 1.25×), and beside the
// same convert without --webm; and judged on its own: under 10 s. Checks
// each run that the WebM holds the film's 48 frames and a sound track, and
// that FFmpeg wrote its file.
std::vector<Row> MeasureWebm(const std::string& folder, const std::string& cli, int runs,
                             const std::function<void(const std::string&)>& progress);

}  // namespace morvane::bench
