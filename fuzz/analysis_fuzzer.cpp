// The analysis pass over arbitrary stream bytes. The map it leaves must be a
// whole number of well-formed records in the allowed groups, with chunk
// starts in stream order, and byte for byte the map of a plain model of the
// walk; the pass must end with the model's error or none.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "analysis/map_file.h"
#include "commands/command_flow.h"
#include "core/shared_state.h"
#include "fuzz_support.h"
#include "support/recording_window.h"

namespace {

using morvane::fuzz::AppendLittleEndian;
using morvane::fuzz::Bytes;
using morvane::fuzz::LittleEndianAt;

constexpr std::int64_t kPositionLimit = std::int64_t{1} << 31;

struct Expected {
  Bytes map;
  std::string error;  // empty when the pass ends well
};

std::int32_t BigEndianAt(const std::uint8_t* bytes) {
  return static_cast<std::int32_t>((std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                                   (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]});
}

struct ModelStop {
  std::string error;
};

// The walk as the stream format describes it, over the bytes in memory.
Expected ModelAnalysis(const std::uint8_t* data, std::size_t size) {
  Expected out;
  const auto need = [&](std::int64_t at, std::int64_t count) {
    if (at + count > static_cast<std::int64_t>(size)) throw ModelStop{"Read beyond end of file"};
  };
  const auto kind = [&](const char* id) { out.map.insert(out.map.end(), id, id + 4); };
  const auto number = [&](std::int32_t value) {
    AppendLittleEndian(out.map, static_cast<std::uint32_t>(value));
  };
  try {
    need(0, 4);
    if (std::memcmp(data, "FORM", 4) == 0) {
      need(8, 4);
      need(42, 4);
      need(50, 4);
      return out;
    }
    std::int64_t position = 0;
    while (position < static_cast<std::int64_t>(size)) {
      const std::int64_t start = position;
      need(start, 8);
      const std::int32_t chunkSize = BigEndianAt(data + start + 4);
      if (std::memcmp(data + start, "SNDS", 4) == 0) {
        kind("SNDS");
        number(chunkSize);
        need(start + 8, 12);
        const std::uint8_t* sub = data + start + 16;
        if (std::memcmp(sub, "SSMP", 4) == 0) {
          need(start + 20, 4);
          kind("SSMP");
          number(static_cast<std::int32_t>(start + 24));
          number(BigEndianAt(data + start + 20));
        } else if (std::memcmp(sub, "SHDR", 4) == 0) {
          need(start + 20, 44);
          const std::uint8_t* f = data + start + 20;
          kind("SHDR");
          // buffers, amplitude, balance, sample size, rate, ratio; type; channels, samples
          for (int field : {1, 2, 3, 5, 6, 7}) number(BigEndianAt(f + 4 * field));
          out.map.insert(out.map.end(), f + 32, f + 36);
          number(BigEndianAt(f + 36));
          number(BigEndianAt(f + 40));
        }
      } else if (std::memcmp(data + start, "SSND", 4) == 0) {
        kind("SSND");
        number(chunkSize);
        number(static_cast<std::int32_t>(start + 8));
      }
      const std::int64_t next = start + chunkSize;
      if (next < 0 || next >= kPositionLimit) throw ModelStop{"I/O error 22"};
      if (chunkSize < 1) break;
      position = next;
    }
  } catch (const ModelStop& stop) {
    out.error = stop.error;
  }
  return out;
}

struct Counts {
  unsigned snds = 0, shdr = 0, ssmp = 0, ssnd = 0;
};

// Reads the map as groups: "SNDS" alone or followed by "SSMP" or "SHDR", or
// "SSND". Every record is whole and the chunk starts that the records give
// away rise with the stream.
Counts CheckMapShape(const Bytes& map) {
  Counts counts;
  std::size_t at = 0;
  std::int64_t lastStart = -1;  // of the last chunk whose start the map tells
  std::int64_t nextAtLeast = 0;
  bool ended = false;  // a chunk of size below 1 ends the walk
  const auto take = [&](std::size_t length) {
    FUZZ_CHECK(at + length <= map.size(), "record cut at " + std::to_string(at));
    const std::size_t record = at;
    at += length;
    return record;
  };
  const auto chunkAt = [&](std::int64_t start) {
    FUZZ_CHECK(start > lastStart, "chunk starts out of stream order");
    FUZZ_CHECK(start >= nextAtLeast, "chunk starts inside the chunk before it");
    lastStart = start;
  };
  while (at < map.size()) {
    FUZZ_CHECK(!ended, "records after a chunk of size below 1");
    const std::size_t record = take(4);
    const unsigned char* id = map.data() + record;
    if (std::memcmp(id, "SNDS", 4) == 0) {
      ++counts.snds;
      take(4);
      const std::int32_t chunkSize = LittleEndianAt(map.data() + record + 4);
      std::int64_t start = -1;
      if (at + 4 <= map.size() && std::memcmp(map.data() + at, "SSMP", 4) == 0) {
        ++counts.ssmp;
        const std::size_t ssmp = take(12);
        start = std::int64_t{LittleEndianAt(map.data() + ssmp + 4)} - 24;
        chunkAt(start);
      } else if (at + 4 <= map.size() && std::memcmp(map.data() + at, "SHDR", 4) == 0) {
        ++counts.shdr;
        take(morvane::kShdrRecordSize);
      }
      if (chunkSize < 1) ended = true;
      if (start >= 0) nextAtLeast = start + chunkSize;
    } else if (std::memcmp(id, "SSND", 4) == 0) {
      ++counts.ssnd;
      take(8);
      const std::int32_t chunkSize = LittleEndianAt(map.data() + record + 4);
      const std::int64_t start = std::int64_t{LittleEndianAt(map.data() + record + 8)} - 8;
      chunkAt(start);
      if (chunkSize < 1) ended = true;
      nextAtLeast = start + chunkSize;
    } else {
      FUZZ_CHECK(false, "a record of a kind the analysis never writes");
    }
  }
  return counts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace morvane;
  const std::string stream = fuzz::FreshInput("s", data, size, "s.MAP");
  const std::string mapPath = stream + ".MAP";

  // One state for the whole run, as the program keeps one for all its
  // commands; what a command leaves in it must not upset the next.
  static SharedState state;
  test::RecordingWindow window;
  const std::string error = fuzz::CheckedEnd(state, RunAnalyzeFile(state, window, stream));
  FUZZ_CHECK(state.TotalSize == static_cast<std::int32_t>(size), "TotalSize");

  const Expected expected = ModelAnalysis(data, size);
  FUZZ_CHECK(error == expected.error, "error '" + error + "', expected '" + expected.error + "'");
  Bytes map;
  FUZZ_CHECK(fuzz::ReadWhole(mapPath, map), "the map is gone");
  FUZZ_CHECK(map == expected.map, "the map differs from the model's (" + std::to_string(map.size()) +
                                      " bytes, " + std::to_string(expected.map.size()) + " expected)");
  const Counts counts = CheckMapShape(map);

  // Only a pass that ends well fills the gauge and appends the summary.
  const std::string summary =
      "\r\nSummary Info:\r\nSNDS chunks founded:" + std::to_string(counts.snds % 65536) +
      "\r\nSHDR sub-chunks founded:" + std::to_string(counts.shdr % 65536) +
      "\r\nSSMP sub-chunks founded:" + std::to_string(counts.ssmp % 65536) +
      "\r\nSSND chunks founded:" + std::to_string(counts.ssnd % 65536) + "\r\n";
  const std::string pathLine = "Information about file:\r\n" + stream;
  if (error.empty()) {
    FUZZ_CHECK(window.memo == pathLine + summary, "the summary");
    FUZZ_CHECK(window.gauge.Position() == window.gauge.Maximum(), "the gauge is not full");
  } else {
    FUZZ_CHECK(window.memo == pathLine, "text added to the memo after an error");
    FUZZ_CHECK(window.gauge.Position() == 0, "the gauge moved after an error");
  }

  const auto entries = fuzz::FolderEntries();
  FUZZ_CHECK(entries.size() == 2 && entries[0] == "s" && entries[1] == "s.MAP", "a file beside the map");
  return 0;
}
