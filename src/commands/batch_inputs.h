#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "commands/convert_flow.h"

namespace morvane {

// A file found for a batch.
struct FoundFile {
  std::string path;
  std::string folder;  // the folder it is in
  // Where its outputs go below an output folder: the given folder's name
  // and the folders below it, so that two streams of one name in different
  // folders stay apart; empty for a file named itself.
  std::string placeBelow;
  std::int64_t size = 0;  // the bytes its conversion reads

  // Named itself (on the command line, dropped alone) rather than met in a
  // folder's walk.
  bool Named() const { return placeBelow.empty(); }
};

struct FoundFiles {
  std::vector<FoundFile> files;
  // What could not be looked at, as a name and what happened.
  std::vector<std::pair<std::string, std::string>> problems;
};

// The one rule of what a walk passes over by an entry's name, for the
// command line, the window and the page alike: hidden entries (a leading
// dot: the temporaries of a run among them) and every name ending as what a
// run writes (FILE.MAP, FILEn.sound, FILEn.sound.wav, FILEn.film.mkv, a
// film's poster and WebM movie). A file of a folder that is no stream is
// passed over too, silently, by the converter (ConvertInput::named).
bool WalkPassesOver(const std::string& name);

// The same for a file met at `place` below a folder given, the folder's own
// name first ("tree/disc1/intro.str", as the page knows a dropped folder's
// files): whether the walk passed over some part of the place below it.
bool WalkPassesOverPlace(const std::string& place);

// The files of what was given (named on the command line, dropped on the
// window): a file as it is, a folder walked down every level, each folder's
// entries in the order of their names. The walk passes over what
// WalkPassesOver says and links to folders; a file given twice is taken
// once. A cue sheet found stands for the files it names, which are left out,
// and its size is theirs.
FoundFiles FindBatchFiles(const std::vector<std::string>& given);

// Whether a folder can be written, as the front end can tell.
using FolderCheck = std::function<bool(const std::string& folder)>;

// Whether some file's folder can't be written, so that an output folder
// must be chosen for its outputs.
bool NeedsOutputFolder(const FoundFiles& found, const FolderCheck& canWrite);

// The inputs of the batch in the order found, each with its output place:
// beside the file when its folder can be written, else below
// `outputFolder`: a file named itself straight in it, a file met in a walk
// at its place below (`convert tree -o out` writes
// out/tree/disc1/intro.str0.sound.wav).
std::vector<ConvertInput> PlanBatchInputs(const FoundFiles& found, const FolderCheck& canWrite,
                                          const std::string& outputFolder);

// How far a batch is over all the bytes of its files, as the window's gauge
// and the command line's bar show it.
class BatchBytes {
 public:
  explicit BatchBytes(const FoundFiles& found);
  // The input now converted, by its path.
  void Start(const std::string& path);
  // The share of the batch done, from 0 to `range`, once `done` bytes of
  // the present input are.
  std::int64_t Position(std::int64_t done, std::int64_t range) const;

 private:
  std::map<std::string, std::int64_t> startOf_;
  std::int64_t total_ = 0;
  std::int64_t before_ = 0;
};

}  // namespace morvane
