#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace morvane {

// The progress bar of a batch on stderr: one line for the whole batch, the
// bar filled by the share of all its bytes done (as the window's gauge),
// then how many of its files are done and what is being done to the
// present one. It is drawn only on a terminal;
// every line printed through it, on stdout or stderr, first takes the bar
// away and then puts it back, so that the lines stay whole.
class BatchProgress {
 public:
  BatchProgress(std::size_t files, bool shown);
  ~BatchProgress();
  BatchProgress(const BatchProgress&) = delete;
  BatchProgress& operator=(const BatchProgress&) = delete;

  // The range of the share of the batch done.
  static constexpr std::int64_t kRange = 1000;

  void Show(std::size_t done, std::int64_t share, const std::string& step);
  // The line and its end: a line feed, or a NUL byte for a list of names.
  void PrintLine(std::FILE* stream, const std::string& line, char end = '\n');
  // Draws the full bar and ends its line.
  void Finish();

 private:
  void Draw();
  void Erase();

  bool shown_;
  bool drawn_ = false;
  bool finished_ = false;
  std::size_t files_;
  std::size_t done_ = 0;
  std::int64_t share_ = 0;
  std::string step_;
};

}  // namespace morvane
