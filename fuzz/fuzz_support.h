#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "commands/command_flow.h"
#include "core/shared_state.h"

// What the fuzz targets share: one folder per process for the files a pass
// reads and writes, plain POSIX access to it that does not go through the
// file layer under test, and a check that aborts with a message.
namespace morvane::fuzz {

using Bytes = std::vector<unsigned char>;

// The folder of this process, made on first use (in $TMPDIR, else /dev/shm,
// else /tmp) and removed with everything in it when the process exits.
const std::string& Folder();
std::string InFolder(const std::string& name);

// Whole-file access beside the file layer: the targets check the passes'
// files with it, so it must not share the passes' faults.
void WriteWhole(const std::string& path, const unsigned char* bytes, std::size_t count);
bool ReadWhole(const std::string& path, Bytes& out);
// Writes the input under the name and removes the output a run before left
// beside it; gives the input's path.
std::string FreshInput(const std::string& name, const unsigned char* bytes, std::size_t count,
                       const std::string& output);
// The names in the folder, sorted.
std::vector<std::string> FolderEntries();
void RemoveInFolder(const std::string& name);

// What every command's end must show, however it ends: its file opened, its
// files closed, the closing steps done (flags reset, progress step back at
// 1), no notice on the way, and an error only where it did not complete,
// one of those a pass may end with. Gives the error's text, empty if none.
std::string CheckedEnd(const SharedState& state, const CommandResult& result);

// The texts a pass may end with on files it can read and write.
bool IsKnownErrorText(const std::string& text);

[[noreturn]] void Fail(const char* file, int line, const std::string& what);

// The walks read numbers of the map little-endian.
inline std::int32_t LittleEndianAt(const unsigned char* bytes) {
  return static_cast<std::int32_t>(std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
                                   (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24));
}
inline void AppendLittleEndian(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

// One SDX2 byte for one channel, by the defining computation: the byte in
// the high half of a 16-bit value, times itself or its complement, upper
// half; an odd byte adds to the state, an even one sets it.
inline std::uint16_t ModelDecodeByte(std::uint16_t& state, std::uint8_t byte) {
  const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(byte << 8));
  const std::int32_t m = v >= 0 ? v : static_cast<std::int16_t>(~v);
  const std::int32_t product = std::int32_t{v} * m;
  const auto q = static_cast<std::uint16_t>(static_cast<std::uint32_t>(product) >> 16);
  state = (byte & 1) != 0 ? static_cast<std::uint16_t>(state + q) : q;
  return static_cast<std::uint16_t>(state * 2);
}

}  // namespace morvane::fuzz

#define FUZZ_CHECK(condition, what)                                                                       \
  do {                                                                                                    \
    if (!(condition)) ::morvane::fuzz::Fail(__FILE__, __LINE__, std::string(#condition) + ": " + (what)); \
  } while (false)
