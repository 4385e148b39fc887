#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morvane::test {

// What a run of morvane-cli left: its exit status and its two streams.
struct CliRun {
  int status = -1;  // the exit status, or -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs the built morvane-cli with the arguments, in `folder` when given.
// With `stderrTerminal` its stderr is a pseudo-terminal (whose line
// discipline turns "\n" into "\r\n").
CliRun RunCli(const std::vector<std::string>& arguments, const std::string& folder = {},
              bool stderrTerminal = false);

// The 32-bit little-endian number at `offset` of a file's bytes.
std::uint32_t LittleEndian32At(const std::vector<unsigned char>& bytes, std::size_t offset);

}  // namespace morvane::test
