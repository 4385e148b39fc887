#pragma once

#include <string>
#include <vector>

namespace morvane::bench {

// One program run as a child process, timed from the spawn to the end of
// its wait.
struct ProcessRun {
  double seconds = 0;
  int exitCode = -1;  // -1 when it did not exit normally
};

// Runs argv[0] (looked up in PATH when it has no slash) with stdin from
// /dev/null, stdout into stdoutPath and stderr into stderrPath ("" for
// /dev/null).
ProcessRun RunProcess(const std::vector<std::string>& argv, const std::string& stdoutPath,
                      const std::string& stderrPath);

std::string ReadText(const std::string& path);

// `peak FILE PROGRAM ARGS...`: runs the program as a child of this small
// process and writes its peak resident memory in kilobytes to FILE; exits as
// the program did. The kernel counts into a child's peak the memory of the
// process that forked it, so a child of the benchmark itself would carry the
// benchmark's own.
int RunPeakLauncher(int argc, char** argv);

}  // namespace morvane::bench
