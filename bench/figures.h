#pragma once

#include <string>

namespace morvane::bench {

struct FigureOptions {
  std::string folder;  // the inputs, made by `generate`
  std::string cli;     // the morvane-cli program
  std::string doc;     // where to write the Performance section, or ""
  int runs = 7;
  bool small = false;        // a quick run: outputs checked, timings not judged
  bool convertOnly = false;  // only the figures of convert with films
  bool discOnly = false;     // only the figures of convert of a disc image
};

// Measures every figure beside its reference, runs times each, interleaved,
// checks every output each time, and prints the table. Gives 1 when an output
// was wrong or a program failed, else 0, whether the targets are met or not.
int RunFigures(const FigureOptions& options);

}  // namespace morvane::bench
