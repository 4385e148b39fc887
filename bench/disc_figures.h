#pragma once

#include <functional>
#include <string>
#include <vector>

#include "report.h"

namespace morvane::bench {

// The disc convert is measured on: a tree of streams with films, sound
// streams and other files (about 600 MB; 6 MB when small) written unpacked
// under disc-files/, and the same tree as an image of 2048-byte blocks
// (disc.iso) and of raw 2352-byte sectors with its cue sheet (disc.cue).
void MakeDiscInputs(const std::string& folder, bool small);

// convert of each image beside convert of the same files unpacked (a folder
// given to convert), each into a folder of its own, interleaved, `runs`
// times after a warm-up; checks every time that the images' outputs are the
// unpacked files' outputs, byte for byte, at the same paths. Raises
// std::runtime_error when they are not.
std::vector<Row> MeasureDisc(const std::string& folder, const std::string& cli, int runs,
                             const std::function<void(const std::string&)>& progress);

}  // namespace morvane::bench
