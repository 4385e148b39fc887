#pragma once

#include <optional>
#include <string>
#include <vector>

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
// Analyze, extract and convert every sound file of each stream, at the rate
// of its own sound header unless `rateText` is given. stdout gets one line
// per file written; a file that fails is reported on stderr and the others
// go on; with `progressBar` a bar on stderr shows the batch.
int ConvertCommand(const std::vector<std::string>& paths, const std::optional<std::string>& rateText,
                   bool progressBar);
// Writes the demo stream to `path`.
int MakeDemoCommand(const std::string& path);

}  // namespace morvane
