// The map walk over arbitrary map bytes against an arbitrary stream. Input:
// one byte that picks the pump after which STOP is clicked (0: never), two
// bytes of map length (little-endian, cut to what follows), the map, then the
// stream. Every sound file must hold exactly the bytes a plain model of the
// walk copies into it (so its length is the sum of its copied lengths), the
// walk must end with the model's error or none, and no file but the map and
// the numbered sound files may appear in the folder.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "commands/command_flow.h"
#include "core/shared_state.h"
#include "fuzz_support.h"
#include "support/recording_window.h"

namespace {

using morvane::fuzz::Bytes;
using morvane::fuzz::LittleEndianAt;

constexpr std::int64_t kCopyBlock = 10;

struct Expected {
  std::vector<Bytes> soundFiles;
  std::string error;
};

struct ModelStop {
  std::string error;
};

// The walk as the map format and the extraction describe it. Creating a
// sound file cannot fail in the fuzz folder, so a header always opens one.
Expected ModelWalk(const Bytes& map, const Bytes& stream, unsigned stopAfterPump) {
  Expected out;
  const auto mapSize = static_cast<std::int64_t>(map.size());
  const auto streamSize = static_cast<std::int64_t>(stream.size());
  const auto needMap = [&](std::int64_t at, std::int64_t count) {
    if (at + count > mapSize) throw ModelStop{"Read beyond end of file"};
  };
  std::int64_t at = 0;
  bool soundFileOpen = false;
  unsigned pumps = 0;
  try {
    while (at < mapSize) {
      needMap(at, 4);
      const unsigned char* id = map.data() + at;
      at += 4;
      if (std::memcmp(id, "SNDS", 4) == 0) {
        needMap(at, 4);
        at += 4;
      } else if (std::memcmp(id, "SHDR", 4) == 0) {
        at += 36;
        out.soundFiles.emplace_back();
        soundFileOpen = true;
      } else if (std::memcmp(id, "SSMP", 4) == 0) {
        needMap(at, 8);
        const std::int64_t position = LittleEndianAt(map.data() + at);
        const std::int64_t length = LittleEndianAt(map.data() + at + 4);
        at += 8;
        if (position < 0) throw ModelStop{"I/O error 22"};
        // Blocks of 10 while more than 10 remain, then single bytes; a piece
        // that runs past the stream's end is not written.
        std::int64_t count = 0;
        const auto copy = [&](std::int64_t piece) {
          if (position + count + piece > streamSize) throw ModelStop{"Read beyond end of file"};
          if (!soundFileOpen) throw ModelStop{"I/O error 103"};
          const auto from = stream.begin() + position + count;
          out.soundFiles.back().insert(out.soundFiles.back().end(), from, from + piece);
          count += piece;
        };
        while (count + kCopyBlock < length) copy(kCopyBlock);
        while (count < length) copy(1);
      }
      if (++pumps == stopAfterPump) break;
    }
  } catch (const ModelStop& stop) {
    out.error = stop.error;
  }
  return out;
}

std::string SoundName(std::size_t number) { return "s" + std::to_string(number) + ".sound"; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace morvane;
  if (size < 3) return 0;
  const unsigned stopAfterPump = data[0];
  std::size_t mapLength = data[1] | (std::size_t{data[2]} << 8);
  mapLength = std::min(mapLength, size - 3);
  const Bytes map(data + 3, data + 3 + mapLength);
  const Bytes streamBytes(data + 3 + mapLength, data + size);

  static const std::string stream = fuzz::InFolder("s");
  // Sound files of the previous input go first, so that each file found
  // after the walk is one this walk wrote.
  for (const std::string& name : fuzz::FolderEntries()) {
    if (name != "s" && name != "s.MAP") fuzz::RemoveInFolder(name);
  }
  fuzz::WriteWhole(stream, streamBytes.data(), streamBytes.size());
  fuzz::WriteWhole(stream + ".MAP", map.data(), map.size());

  // One state for the whole run, as the program keeps one for all its
  // commands; what a command leaves in it must not upset the next.
  static SharedState state;
  test::RecordingWindow window;
  unsigned pumps = 0;
  window.onPump = [&] {
    if (++pumps == stopAfterPump) state.StopRequested = true;
  };
  const std::string error = fuzz::CheckedEnd(state, RunExtractChunks(state, window, stream));
  FUZZ_CHECK(!window.stopEnabled && !window.stopChanges.empty() && window.stopChanges.front(), "STOP");

  const Expected expected = ModelWalk(map, streamBytes, stopAfterPump);
  FUZZ_CHECK(error == expected.error, "error '" + error + "', expected '" + expected.error + "'");

  std::string memo = "MAP-file \"" + stream + ".map\" loaded successfully";
  for (std::size_t number = 1; number < expected.soundFiles.size(); ++number) {
    memo += "\r\nFile \"" + stream + std::to_string(number) + ".sound\" created";
  }
  FUZZ_CHECK(window.memo == memo, "the memo");

  Bytes mapAfter;
  FUZZ_CHECK(fuzz::ReadWhole(stream + ".MAP", mapAfter) && mapAfter == map, "the walk changed the map");
  std::set<std::string> expectedNames = {"s", "s.MAP"};
  for (std::size_t number = 0; number < expected.soundFiles.size(); ++number) {
    expectedNames.insert(SoundName(number));
  }
  const auto entries = fuzz::FolderEntries();
  for (const std::string& name : entries)
    FUZZ_CHECK(expectedNames.count(name) == 1, "unexpected file " + name);
  FUZZ_CHECK(entries.size() == expectedNames.size(), "a sound file is missing");
  Bytes content;
  for (std::size_t number = 0; number < expected.soundFiles.size(); ++number) {
    FUZZ_CHECK(fuzz::ReadWhole(fuzz::InFolder(SoundName(number)), content),
               "cannot read " + SoundName(number));
    FUZZ_CHECK(content == expected.soundFiles[number],
               SoundName(number) + " holds " + std::to_string(content.size()) + " bytes, expected " +
                   std::to_string(expected.soundFiles[number].size()));
  }
  return 0;
}
