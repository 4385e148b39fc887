#pragma once

#include <optional>
#include <string>
#include <vector>

#include "commands/convert_flow.h"

namespace morvane {

// The commands of morvane-cli. Each runs the steps of the window's command
// of the same name after its dialog, in the same order and with the same
// closing steps, and gives the exit status: 0 success, 1 failure.
// Notices go to stderr, one a line; an error that ends a command is printed
// on stderr as the error box shows it.

// Analyze File on `path`: stdout gets the lines the pass appended to the text
// box and then the fifteen information rows.
int AnalyzeCommand(const std::string& path);
// Extract Chunks: stdout gets the text box's lines once the map was loaded.
int ExtractCommand(const std::string& path);
// SDX2 to WAV with `rateText` in the rate box.
int WavCommand(const std::string& path, const std::string& rateText);
// How convert prints.
struct BatchPrinting {
  bool nullSeparated = false;  // names on stdout ended by NUL bytes
  bool progressBar = false;    // a bar on stderr
};
// Converts every sound stream of each file in one pass over it. stdout gets
// the name of every file written whole, one a line (control characters
// escaped) or each ended by a NUL byte; stderr gets every problem as
// "NAME: what happened". Two inputs whose outputs would share names are a
// usage error (status 2) before anything is written.
int ConvertCommand(const std::vector<std::string>& paths, const ConvertSettings& settings,
                   const BatchPrinting& printing);
// Writes the demo stream to `path`, or with `disc` the demo disc's image.
int MakeDemoCommand(const std::string& path, bool disc);
// Prints a disc image's label and tree (stdout) and what could not be read
// (stderr); 1 when something could not.
int ListCommand(const std::string& imagePath);
// Writes every file of a disc image under outputDir.
int UnpackCommand(const std::string& imagePath, const std::string& outputDir, const BatchPrinting& printing);

}  // namespace morvane
