#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"

// A plain model of the films' road through the converter, fed by the demux
// target's own walk of the stream: which movies are written, each frame's
// bytes, key flag and time, and for each sound track the samples of its WAV
// it holds and the times of its blocks.
namespace morvane::fuzz {

struct ModelFrame {
  Bytes data;
  bool key = false;
  std::int64_t ms = 0;
};

// A track: the sound's sample frames [from, to) in pieces, one block each.
struct ModelBlock {
  std::int64_t ms, from, to;
};

struct ModelMovie {
  std::size_t number = 0;
  std::vector<ModelFrame> frames;
  std::map<std::size_t, std::vector<ModelBlock>> tracks;  // by sound number
};

class FilmModel {
 public:
  // Every chunk of a sound or film, its time, before it is handled.
  void TimeMet(std::int64_t time);
  // A "FILM" chunk of at least 20 bytes whose first 20 are in the file.
  // Gives false when the walk ends there, cut.
  bool FilmChunk(const Bytes& file, std::int64_t pos, std::int64_t size);
  // A data chunk of a sound with an output: `frames` sample frames from its
  // frame `first` on (0 frames when it is not decoded).
  void SoundData(std::size_t sound, bool decoded, std::int64_t rate, std::int64_t time, std::int64_t first,
                 std::int64_t frames);
  void Finish(bool cut);

  bool whole = true;
  bool anyHeader = false;
  std::vector<ModelMovie> movies;  // the ones written

 private:
  struct Track {
    bool in = false;
    std::int64_t firstTime = 0, skip = 0, samples = 0, rate = 0;
  };
  struct Held {
    std::size_t sound;
    std::int64_t rate, time, first, frames;
  };
  struct Film {
    std::size_t number = 0;
    bool cvid = false, sized = true;
    std::int64_t count = 0, frames = 0, first = 0, lastEnd = 0;
    bool started = false, difference = false, cut = false;
    std::vector<ModelFrame> shown;
    std::vector<Held> held;
    std::map<std::size_t, Track> tracks;
    std::map<std::size_t, std::vector<ModelBlock>> blocks;
    std::map<std::size_t, bool> toldUndecoded;
    int trackCount = 0;
  };
  bool Ended(const Film& film, std::int64_t time) const;
  void Route(Film& film, const Held& chunk);
  void End(std::uint16_t channel);

  std::size_t headers_ = 0;
  std::map<std::uint16_t, std::optional<Film>> live_;
  bool strays_ = false;
};

}  // namespace morvane::fuzz
