#pragma once

#include <optional>
#include <string>
#include <vector>

#include "demux/sound_output.h"
#include "disc/disc_file_kind.h"

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

// A part of a disc image as its conversion comes to it: a file of the disc
// at its path there, with what it holds, or a CD audio track.
struct DiscPart {
  std::string path;  // on the disc; of a track, its WAV's name ("Track02.wav")
  std::int64_t size = 0;
  DiscFileKind kind = DiscFileKind::kOther;
  bool audioTrack = false;
};

// Where a batch reports: what the converter tells, and the start of each
// input in turn.
class BatchSink : public ConvertSink {
 public:
  virtual void Start(std::size_t index, const std::string& path) = 0;
  // Asked before each input, and before each file of a disc: true ends the
  // batch there (the window's STOP).
  virtual bool StopRequested() { return false; }
  // Of an image: its label once its file system is read, then each of its
  // files (converted or passed over) and tracks before what it gives.
  virtual void DiscLabel(const std::string& /*label*/) {}
  virtual void DiscPartStart(const DiscPart& /*part*/) {}
};

// How a batch ended.
struct BatchResult {
  // Why nothing was written at all: two inputs whose outputs would share
  // names (a fault of the command line) or an output folder that can't be
  // made.
  std::optional<std::string> refusal;
  bool clash = false;          // the refusal is a clash of names
  bool whole = false;          // every input was converted whole
  bool stopped = false;        // the batch was ended before its last input
  std::size_t passedOver = 0;  // inputs met in a folder that were no stream
};

// An input of a batch and where its outputs go.
struct ConvertInput {
  std::string path;
  std::optional<std::string> outputDir;  // beside the input when none; made when missing
  // Named itself rather than met in a folder: only such a file is told to be
  // no chunk stream; one met in a folder is passed over silently.
  bool named = true;
};

// One input (a file, or a file of a disc image) converted with its outputs
// named from `base`, into folders that stand. Gives true when all of it was
// converted whole.
bool ConvertSource(const InputSource& source, const std::string& base, const ConvertSettings& settings,
                   ConvertSink& sink);

// Converts every sound stream of each file in one pass over it, in the
// order given; a file that fails does not keep the others from their turn.
// Names are checked for clashes and the settings' output folder made before
// anything is written; an input's own output folder is made when it turns
// out to be a stream. An image (a cue sheet, or a file with the disc's volume
// header) is converted whole, its outputs under a folder named after it
// (disc_flow.h) beside it or in its output folder; a file that a cue sheet
// among the inputs names is read through the sheet alone.
BatchResult RunConvert(const std::vector<ConvertInput>& inputs, const ConvertSettings& settings,
                       BatchSink& sink);
// The same for files named themselves, each writing into the settings'
// output folder or beside itself.
BatchResult RunConvert(const std::vector<std::string>& paths, const ConvertSettings& settings,
                       BatchSink& sink);

}  // namespace morvane
