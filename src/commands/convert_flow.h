#pragma once

#include <optional>
#include <string>
#include <vector>

#include "demux/sound_output.h"

namespace morvane {

// How a batch conversion runs.
struct ConvertSettings {
  std::optional<std::string> rateText;   // the rate box's text, instead of each header's rate
  std::optional<std::string> outputDir;  // instead of beside each input
  bool keepSound = false;                // also FILEn.sound
  bool map = false;                      // also FILE.MAP, as Analyze File writes it
  bool movies = true;                    // each film as FILEn.film.mkv
  bool webm = false;                     // and as FILEn.film.webm, to share
  bool allTracks = false;                // every sound track in the WebM, not the first alone
  // Only FILEn.film.webm of this film (the page's WebM of a film card).
  std::optional<std::size_t> shareFilm;
  bool posters = true;  // and its first key frame as FILEn.film.png
};

// Where a batch reports: what the converter tells, and the start of each
// input in turn.
class BatchSink : public ConvertSink {
 public:
  virtual void Start(std::size_t index, const std::string& path) = 0;
  // Asked before each input: true ends the batch there (the window's STOP).
  virtual bool StopRequested() { return false; }
};

// How a batch ended.
struct BatchResult {
  // Why nothing was written at all: two inputs whose outputs would share
  // names (a fault of the command line) or an output folder that can't be
  // made.
  std::optional<std::string> refusal;
  bool clash = false;    // the refusal is a clash of names
  bool whole = false;    // every input was converted whole
  bool stopped = false;  // the batch was ended before its last input
};

// Converts every sound stream of each file in one pass over it, in the
// order given; a file that fails does not keep the others from their turn.
// Names are checked for clashes and the output folder made before anything
// is written.
BatchResult RunConvert(const std::vector<std::string>& paths, const ConvertSettings& settings,
                       BatchSink& sink);

}  // namespace morvane
