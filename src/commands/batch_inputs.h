#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "commands/convert_flow.h"

namespace morvane {

// A file found for a batch.
struct FoundFile {
  std::string path;
  std::string folder;  // the folder it is in
  // Where its outputs go below an output folder chosen for files whose own
  // folder can't be written: the given folder's name and the folders below
  // it, so that two streams of one name in different folders stay apart;
  // empty for a file given itself.
  std::string placeBelow;
  std::int64_t size = 0;
};

struct FoundFiles {
  std::vector<FoundFile> files;
  // What could not be looked at, as a name and what happened.
  std::vector<std::pair<std::string, std::string>> problems;
};

// The files of what was given (dropped on the window): a file as it is, a
// folder walked down every level, each folder's entries in the order of
// their names. The walk leaves out hidden entries (a leading dot: the
// temporaries of a run among them), what an earlier run wrote beside a
// stream, and links to folders; a file given twice is taken once.
FoundFiles FindBatchFiles(const std::vector<std::string>& given);

// Whether `name` is what a run writes beside a stream of the same folder
// (`names`): FILE.MAP, FILEn.sound, FILEn.sound.wav or FILEn.film.mkv.
bool IsOutputOfAStream(const std::string& name, const std::set<std::string>& names);

// Whether a folder can be written, as the front end can tell.
using FolderCheck = std::function<bool(const std::string& folder)>;

// Whether some file's folder can't be written, so that an output folder
// must be chosen for its outputs.
bool NeedsOutputFolder(const FoundFiles& found, const FolderCheck& canWrite);

// Runs of files with one output place each, in the order found: beside each
// file when its folder can be written, else below `outputFolder`.
struct BatchRun {
  std::optional<std::string> outputDir;
  std::vector<std::string> paths;
};
std::vector<BatchRun> PlanBatchRuns(const FoundFiles& found, const FolderCheck& canWrite,
                                    const std::string& outputFolder);

// RunConvert over each run in turn with the settings given (the output
// folder set per run). A run that is refused writes nothing and the others
// go on; a run stopped ends the batch.
struct RunsResult {
  bool whole = false;    // every input of every run was converted whole
  bool stopped = false;  // the batch was ended before its last input
  std::vector<std::string> refusals;
};
RunsResult RunConvertRuns(const std::vector<BatchRun>& runs, ConvertSettings settings, BatchSink& sink);

}  // namespace morvane
