#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace morvane::test {

// How a program ended that was sent a signal while it wrote.
struct Interrupted {
  int status = -1;                         // the raw wait status; -1 when no temporary appeared
  std::chrono::milliseconds tookToEnd{0};  // from the signal to its end
};

// Starts the program with the arguments, its output thrown away, and sends
// it `signalNumber` as soon as a temporary file appears in `folder`.
Interrupted InterruptWhileWriting(const std::string& program, const std::vector<std::string>& arguments,
                                  const std::string& folder, int signalNumber);

}  // namespace morvane::test
