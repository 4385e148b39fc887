#include "extract/sound_extraction.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include "analysis/map_file.h"
#include "core/support.h"
#include "core/window.h"

namespace morvane {

namespace {

constexpr std::int64_t kCopyBlockSize = 10;
// A long record is copied in pieces of this size, with a look at the
// window's queue in between.
constexpr std::int64_t kCopyPiece = std::int64_t{4} << 20;

std::string CountText(std::uint32_t count) {
  if (count <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
    return DecimalText(static_cast<std::int32_t>(count));
  }
  return std::to_string(count);
}

std::string SoundFileName(const std::string& selectedPath, std::uint32_t count) {
  return selectedPath + CountText(count) + ".sound";
}

// Blocks of 10 while a whole block and at least one byte more remain, then
// single bytes: exactly the length, nothing for a length of 0 or less. The
// count is 64-bit so that a length near 2^31 cannot overflow the test. What
// the file holds goes across in large pieces; when the data runs past the
// end of the file, the copy goes on block by block, and byte by byte, from
// the last whole block the file holds, so that exactly what fitted is kept.
void CopySoundData(ByteFile& input, ByteFile& soundFile, std::int32_t position, std::int32_t length,
                   Window& window) {
  input.Seek(position);
  const std::int64_t held = input.Size() - position;
  const std::int64_t blocks = length > kCopyBlockSize ? (std::int64_t{length} - 1) / kCopyBlockSize : 0;
  const std::int64_t bulk =
      length <= held ? std::max<std::int64_t>(length, 0)
                     : std::min(blocks, std::max<std::int64_t>(held, 0) / kCopyBlockSize) * kCopyBlockSize;
  std::int64_t count = 0;
  while (count < bulk) {
    const std::int64_t piece = std::min(bulk - count, kCopyPiece);
    input.CopyTo(soundFile, static_cast<std::size_t>(piece));
    count += piece;
    if (count < bulk) window.KeepResponsive();
  }
  unsigned char block[kCopyBlockSize];
  while (count + kCopyBlockSize < length) {
    input.Read(block, kCopyBlockSize);
    soundFile.Write(block, kCopyBlockSize);
    count += kCopyBlockSize;
  }
  for (; count < length; ++count) {
    unsigned char byte;
    input.Read(&byte, 1);
    soundFile.Write(&byte, 1);
  }
}

// What the walk leaves behind however it ends: STOP off, the request
// cleared and every file of the walk closed. On the normal road the files
// are closed with Close first, so that a failing flush is reported; here they
// are closed quietly so that an error already raised stays the one shown.
class WalkClosing {
 public:
  WalkClosing(SharedState& state, Window& window, ByteFile& soundFile)
      : state_(state), window_(window), soundFile_(soundFile) {}
  WalkClosing(const WalkClosing&) = delete;
  WalkClosing& operator=(const WalkClosing&) = delete;
  ~WalkClosing() {
    state_.StopRequested = false;
    window_.SetStopEnabled(false);
    state_.InputFile.CloseQuietly();
    state_.SecondFile.CloseQuietly();
    soundFile_.CloseQuietly();
  }

 private:
  SharedState& state_;
  Window& window_;
  ByteFile& soundFile_;
};

}  // namespace

void OpenMapFile(SharedState& state, Window& window) {
  try {
    state.SecondFile.Open(state.SelectedPath + kMapSuffix, ByteFile::Mode::kRead);
  } catch (const CommandError&) {
    window.NotifyUser("Input Error. File \"" + state.SelectedPath + kMapSuffix + "\" not found.\"");
    state.MapMissing = true;
    // No walk follows to close the stream file, so it is closed here: the
    // command must not end holding it.
    state.InputFile.CloseQuietly();
    return;
  }
  // The line names the map with its extension in lower case.
  window.SetMemoText("MAP-file \"" + state.SelectedPath + ".map\" loaded successfully");
}

void ExtractSounds(SharedState& state, Window& window) {
  ByteFile& input = state.InputFile;
  ByteFile& map = state.SecondFile;
  ByteFile soundFile;
  const WalkClosing closing(state, window, soundFile);

  window.SetStopEnabled(true);
  // Unsigned 32-bit: more than 65536 headers number on instead of wrapping
  // round and replacing file 0.
  std::uint32_t soundFileCount = 0;
  bool soundFileOpened = false;

  MapReader reader(map);
  MapRecord record;
  while (reader.Next(record)) {
    if (record.kind == MapRecord::Kind::kShdr) {
      // The header's values are of no use here; a header cut short by the
      // end of the map still gets its sound file.
      if (soundFileOpened) {
        // Also when the last creation failed: closing a file that is not
        // open fails like any other operation on it.
        soundFile.Close();
        window.AppendMemoLine("File \"" + SoundFileName(state.SelectedPath, soundFileCount) + "\" created");
      } else {
        soundFileOpened = true;
      }
      try {
        soundFile.Open(SoundFileName(state.SelectedPath, soundFileCount), ByteFile::Mode::kCreate);
        ++soundFileCount;
      } catch (const CommandError&) {
        // The walk goes on without a sound file; its next write or close
        // then fails as an operation on a file that is not open.
        window.NotifyUser("Output Error. File");
      }
    } else if (record.kind == MapRecord::Kind::kSsmp) {
      CopySoundData(input, soundFile, record.dataPosition, record.dataLength, window);
    }
    window.ProcessPendingMessages();
    if (state.StopRequested) break;
  }

  input.Close();
  map.Close();
  if (soundFile.IsOpen()) soundFile.Close();
}

}  // namespace morvane
