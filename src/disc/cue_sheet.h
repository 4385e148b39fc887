#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

// A cue sheet: the files of a disc image and the tracks in them. Each FILE
// line names a file (beside the sheet) that the TRACK lines after it lie
// in; each track's INDEX 00 (where there is one) and 01 are times of
// mm:ss:ff, 75 frames a second, from the start of its file.
struct CueTrack {
  int number = 0;
  std::string mode;                            // as written: "MODE1/2048", "MODE1/2352", "AUDIO", ...
  std::size_t file = 0;                        // index into CueSheet::files
  std::optional<std::int64_t> index0, index1;  // in frames
};

struct CueFile {
  std::string path;  // resolved beside the sheet
  std::string type;  // "BINARY" (samples little-endian), "MOTOROLA" (big-endian), ...
};

struct CueSheet {
  std::vector<CueFile> files;
  std::vector<CueTrack> tracks;
  // Lines that could not be read, as "line N: what".
  std::vector<std::string> problems;
};

// Reads a sheet's text; FILE names are taken beside `folder` (the sheet's
// own), or by their last part there when a sheet names a path of another
// machine.
CueSheet ParseCueSheet(const std::string& text, const std::string& folder);

// The bytes of a sector of a track of this mode: 2048 for MODE1/2048, 2336
// for MODE2/2336, 2448 for CDG, 2352 for the others.
std::int64_t SectorSizeOfMode(const std::string& mode);

// Whether a path names a cue sheet (by its ".cue" ending, in any case).
bool IsCueSheetName(const std::string& path);

}  // namespace morvane
