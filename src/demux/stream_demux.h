#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "demux/sound_output.h"

namespace morvane {

// What a file's first bytes say it is.
enum class InputKind {
  kChunkStream,  // its first 8 bytes can be a chunk header
  kForm,         // it begins with "FORM": an IFF file
  kNotAStream,
};
// Looks at the first bytes of an open file.
InputKind KindOfInput(ByteFile& input);
// The same from the file's first bytes (`got` of them: 8 tell all) and its
// size, for a front end that has them already.
InputKind KindOfStart(const unsigned char* start, std::size_t got, std::int64_t size);

struct DemuxOptions {
  // The outputs are named after it: BASEn.sound.wav and BASEn.sound, n
  // counting the sound headers met (as the window numbers its sound files).
  std::string outputBase;
  bool keepSound = false;            // also write each stream's raw data
  std::optional<std::int32_t> rate;  // instead of each header's rate
  bool movies = true;                // each film as BASEn.film.mkv
  bool webm = false;                 // and as BASEn.film.webm, to share
  bool allTracks = false;            // the WebM holds every sound track, not the first alone
  // Only BASEn.film.webm of this film is written (the page's WebM of a
  // film): no WAV, raw sound or movie.
  std::optional<std::size_t> shareFilm;
  bool posters = false;  // and its first key frame as BASEn.film.png
  // A second thread, where there is one, decodes the costly codecs' sound
  // beside the reading and writing, and writes the other outputs' files
  // beside the reading and decoding; the files and messages are the same
  // without it.
  bool secondCore = true;
};

// The batch conversion of one file: a stream's sound headers each start an
// output, and its data blocks go to the present output of their own stream
// number; an AIFC file's SSND data goes to output 0. Each film header starts
// a movie of its film's frames and the sound beside them (FilmRoutes). Each output is decoded
// as its header says, or kept raw when it cannot be. Every file is read
// once, front to back, through fixed buffers. Gives true when every stream
// was converted whole; everything else is told to the sink, and what was
// converted before a problem is kept.
// The source may be a range of another file (a file of a disc image),
// named by its path.
bool DemuxFile(const InputSource& source, const DemuxOptions& options, ConvertSink& sink);

}  // namespace morvane
