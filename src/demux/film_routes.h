#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/byte_file.h"
#include "demux/film_output.h"
#include "demux/sound_output.h"

namespace morvane {

// The films of one stream, followed by the converter's walk: a film header
// opens film n (n counting the headers from 0), the frames of its channel
// go to it, and the data chunks of the sound streams that play while it
// runs go to its movie as well. A film runs until its last frame by its
// header's count has come and a later chunk's time is past that frame's
// end, or until a new header of its channel, or the end of the file.
class FilmRoutes {
 public:
  // Films that may be open at once; each holds a file buffer and its cues.
  static constexpr std::size_t kMostLiveFilms = 8;

  // With `posters`, each film's poster BASEn.film.png is written too.
  FilmRoutes(ByteFile& input, const std::string& path, const std::string& outputBase, ConvertSink& sink,
             bool posters = false);
  ~FilmRoutes();
  FilmRoutes(const FilmRoutes&) = delete;
  FilmRoutes& operator=(const FilmRoutes&) = delete;

  // A "FILM" chunk at `start` whose first 20 bytes (id, size, time, channel
  // word, sub-type) are in `head`, read from the input, which stands after
  // them. Gives false when the file ends inside what the chunk needs read.
  bool FilmChunk(std::int64_t start, const unsigned char* head, std::int32_t chunkSize);
  // The time of a chunk that has one: the films it has passed end.
  void TimeMet(std::int32_t time);
  // A data chunk of the sound written by `output`: its `bytes` of data go
  // through the output next, and its samples to every movie that takes it.
  void SoundBegins(SoundOutput& output, std::size_t number, std::int32_t time, std::int64_t bytes);
  void SoundEnds(SoundOutput& output);
  // The walk has ended; `cut` when the file ended inside a chunk.
  void Finish(bool cut);

  // Each film is also written as BASEn.film.webm (FilmWebm); with `only`,
  // film `only` alone is, and nothing else: no movie.
  void ShareAsWebm(bool allTracks, std::optional<std::size_t> only) {
    webm_ = true;
    allTracks_ = allTracks;
    only_ = only;
  }

  bool AnyFilm() const { return headers_ > 0; }
  // A film is open now: the sound chunks may go to it.
  bool AnyLive() const { return !live_.empty(); }
  bool Whole() const { return whole_; }

 private:
  void Header(std::int64_t start, std::uint16_t channel);
  bool Frame(std::int64_t start, const unsigned char* head, std::uint16_t channel, std::int32_t chunkSize);
  void End(std::uint16_t channel);

  ByteFile& input_;
  const std::string& path_;
  std::string outputBase_;
  bool posters_;
  std::string baseName_;  // the input's name without its folder: the movies' identifiers
  ConvertSink& sink_;
  std::int64_t size_;
  std::size_t headers_ = 0;
  std::map<std::uint16_t, std::unique_ptr<FilmOutput>> live_;  // by channel
  std::set<std::uint16_t> skipped_;               // channels whose film is left out: too many at once
  std::map<std::uint16_t, std::int64_t> strays_;  // frames outside any film, by channel
  std::vector<FilmOutput*> takers_;               // of the sound chunk in hand
  std::unique_ptr<unsigned char[]> frame_;
  bool whole_ = true;
  bool webm_ = false, allTracks_ = false;
  std::optional<std::size_t> only_;
};

}  // namespace morvane
