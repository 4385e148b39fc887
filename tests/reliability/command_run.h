#pragma once

#ifdef _WIN32
#include <windows.h>
#endif
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "analysis/map_file.h"
#include "audio/wav_image.h"
#include "commands/command_flow.h"
#include "core/byte_file.h"
#include "core/errors.h"
#include "core/shared_state.h"
#include "support/recording_window.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace morvane::test {

// How a command ended, as these tests look at it.
struct Outcome {
  std::vector<std::string> notices;  // NotifyUser boxes before the end, in order
  std::string error;                 // the error box's text before its full stop; empty if none
  bool completed = false;            // the completion message would follow
  bool mapMissing = false;           // Extract Chunks: OpenMapFile found no map
};

inline Outcome Seen(const CommandResult& result) {
  return {result.notices, result.error.value_or(""), result.completed, result.mapMissing};
}

// The three commands once the open dialog has answered with `path`.
inline Outcome RunAnalyze(SharedState& state, RecordingWindow& window, const std::string& path) {
  return Seen(RunAnalyzeFile(state, window, path));
}
inline Outcome RunExtract(SharedState& state, RecordingWindow& window, const std::string& path) {
  return Seen(RunExtractChunks(state, window, path));
}
inline Outcome RunConvert(SharedState& state, RecordingWindow& window, const std::string& path) {
  return Seen(RunSdx2ToWav(state, window, path));
}

// A command that an error ended after the given notices: no completion
// message, and the state's files closed.
inline void ExpectEndedBy(const std::string& error, const std::vector<std::string>& notices,
                          const Outcome& out, const SharedState& state) {
  EXPECT_FALSE(out.completed);
  EXPECT_EQ(notices, out.notices);
  EXPECT_EQ(error, out.error);
  EXPECT_FALSE(state.InputFile.IsOpen());
  EXPECT_FALSE(state.SecondFile.IsOpen());
}

// Sound streams as such files lay them out: three streams, each a header
// chunk and many data chunks of differing lengths, with film, filler,
// control and "SSND" chunks between them.
inline Bytes RealisticStream(int dataChunksPerStream = 12) {
  StreamBuilder s;
  s.Sized("CTRL", PatternBytes(8, 1));
  for (int stream = 0; stream < 3; ++stream) {
    StreamBuilder::Header header;
    header.sampleRate = 22050 * (stream + 1);
    header.stream = stream;
    header.samples = 4000 + stream;
    s.Shdr(header);
    for (int i = 0; i < dataChunksPerStream; ++i) {
      if (i % 3 == 0) s.Sized("FILM", PatternBytes(40, static_cast<std::uint32_t>(100 + i)));
      // Lengths of 1 to 163 bytes: single bytes only, whole blocks and blocks
      // with a tail all occur.
      const auto length = static_cast<std::size_t>(1 + (i * 37 + stream * 11) % 163);
      s.Ssmp(PatternBytes(length, static_cast<std::uint32_t>(stream * 100 + i)), i, stream);
      if (i % 4 == 1) s.Sized("FILL", Bytes(16, 0));
    }
    s.Sized("SSND", PatternBytes(24, static_cast<std::uint32_t>(900 + stream)));
  }
  s.Sized("JOIN", PatternBytes(4, 7));
  return s.bytes();
}

// The names in a folder, sorted.
inline std::set<std::string> FolderNames(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(Utf8(entry.path().filename()));
  return names;
}

// File descriptors (on Windows, handles) this process holds; -1 when they
// cannot be counted (Wine gives 0 for every process).
inline int OpenDescriptors() {
#ifdef _WIN32
  DWORD count = 0;
  if (!::GetProcessHandleCount(::GetCurrentProcess(), &count) || count == 0) return -1;
  return static_cast<int>(count);
#else
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
#endif
}

inline bool IsPrefix(const Bytes& part, const Bytes& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

inline std::string MapMissingText(const std::string& path) {
  return "Input Error. File \"" + path + ".MAP\" not found.\"";
}

inline std::string SoundPath(const std::string& path, int number) {
  return path + std::to_string(number) + ".sound";
}

}  // namespace morvane::test
