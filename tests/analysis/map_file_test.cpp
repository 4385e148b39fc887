#include "analysis/map_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "analysis_run.h"
#include "core/byte_file.h"

namespace morvane {
namespace {

using test::AnalysisRun;
using test::Bytes;
using test::MapBuilder;
using test::StreamBuilder;
using test::SummaryLines;

std::set<std::string> Names(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

// A sound header chunk of size 64, a sound chunk of size 512 at 64 with 488
// bytes of data, then a "FILL" chunk.
Bytes ExampleStream() {
  StreamBuilder::Header header;
  header.time = 5;
  header.stream = 1;
  StreamBuilder stream;
  stream.Shdr(header);
  stream.Raw({0x53, 0x4E, 0x44, 0x53, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x00, 0x00, 0x00, 0x00, 0x53, 0x53, 0x4D, 0x50, 0x00, 0x00, 0x01, 0xE8});
  stream.Raw(test::PatternBytes(488, 3));
  stream.Chunk("FILL", 16, Bytes(8, 0xFF));
  return stream.bytes();
}

TEST(MapFileTest, ExampleMapOf68Bytes) {
  AnalysisRun run;
  EXPECT_EQ("", run.Analyze(ExampleStream(), "intro.str"));
  const Bytes expected = {
      0x53, 0x4E, 0x44, 0x53, 0x40, 0x00, 0x00, 0x00,                          // "SNDS", chunk size 64
      0x53, 0x48, 0x44, 0x52,                                                  // "SHDR"
      0x01, 0x00, 0x00, 0x00,                                                  // number of buffers
      0x64, 0x00, 0x00, 0x00,                                                  // initial amplitude 100
      0x00, 0x00, 0x00, 0x00,                                                  // initial balance
      0x10, 0x00, 0x00, 0x00,                                                  // sample size 16
      0x22, 0x56, 0x00, 0x00,                                                  // sample rate 22050
      0x02, 0x00, 0x00, 0x00,                                                  // compression ratio
      0x53, 0x44, 0x58, 0x32,                                                  // "SDX2"
      0x02, 0x00, 0x00, 0x00,                                                  // channels
      0x00, 0x00, 0x00, 0x00,                                                  // samples
      0x53, 0x4E, 0x44, 0x53, 0x00, 0x02, 0x00, 0x00,                          // "SNDS", chunk size 512
      0x53, 0x53, 0x4D, 0x50, 0x58, 0x00, 0x00, 0x00, 0xE8, 0x01, 0x00, 0x00,  // "SSMP", 88, 488
  };
  ASSERT_EQ(68u, expected.size());
  EXPECT_EQ(expected, test::ReadAll(run.dir.File("intro.str.MAP")));
  // The 512-byte chunk's time and stream number replace the header's.
  EXPECT_EQ("0", run.window.Label(ValueLabel::Label28));
  EXPECT_EQ("0", run.window.Label(ValueLabel::Label30));
  EXPECT_EQ(run.PathLine() + SummaryLines(2, 1, 1, 0), run.window.memo);
  EXPECT_EQ(3, run.window.pumps);
  // Nothing is written but the map beside the stream.
  EXPECT_EQ((std::set<std::string>{"intro.str", "intro.str.MAP"}), Names(run.dir.path()));
  EXPECT_EQ(ExampleStream(), test::ReadAll(run.Path()));
}

TEST(MapFileTest, EveryPassStartsFromAnEmptyMap) {
  AnalysisRun run;
  run.Place(ExampleStream());
  EXPECT_EQ("", run.Run());
  const Bytes first = run.Map();
  EXPECT_EQ(68u, first.size());
  // The same file again, with the same state and window: identical map, a
  // second path line and summary in the memo.
  EXPECT_EQ("", run.Run());
  EXPECT_EQ(first, run.Map());
  const std::string once = "\r\n" + run.Path() + SummaryLines(2, 1, 1, 0);
  EXPECT_EQ("Information about file:" + once + once, run.window.memo);

  // A file without sound chunks empties the map left by an earlier pass.
  run.Place(StreamBuilder().Chunk("FILL", 8).bytes());
  EXPECT_EQ("", run.Run());
  EXPECT_TRUE(run.Map().empty());
}

TEST(MapFileTest, MapThatCannotBeCreated) {
  Bytes form(54, 0);
  std::copy_n("FORMxxxxAIFC", 12, form.begin());
  form[42] = 0xAC;
  form[43] = 0x44;
  std::copy_n("SDX2", 4, form.begin() + 50);

  struct Case {
    const char* name;
    Bytes stream;
    std::string error;
    bool summary;  // the pass ran to its end and only the map's closing failed
    std::map<ValueLabel, std::string> labels;
  };
  const Case cases[] = {
      {"a sound chunk",
       StreamBuilder().Ssmp({1, 2, 3, 4}, 7, 8).bytes(),
       "I/O error 103",
       false,
       {{ValueLabel::Label28, "Unknown"}}},
      {"an SSND chunk",
       StreamBuilder().Chunk("FILL", 8).Chunk("SSND", 8).bytes(),
       "I/O error 103",
       false,
       {}},
      {"a stream without sound chunks",
       StreamBuilder().Chunk("FILM", 8).Chunk("FILL", 12, {0, 0, 0, 0}).bytes(),
       "I/O error 103",
       true,
       {}},
      {"an IFF audio file",
       form,
       "I/O error 103",
       true,
       {{ValueLabel::Label13, "AIFC"}, {ValueLabel::Label15, "44100 (Hz)"}, {ValueLabel::Label14, "SDX2"}}},
      {"an empty file fails at its first read", {}, "Read beyond end of file", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnalysisRun run;
    run.Place(c.stream);
    // A folder where the map would go.
    std::filesystem::create_directory(run.MapPath());
    EXPECT_EQ(c.error, run.Run());
    EXPECT_EQ(std::vector<std::string>{"Output writing Error "}, run.window.notices);
    EXPECT_EQ(c.summary ? run.PathLine() + SummaryLines(0, 0, 0, 0) : run.PathLine(), run.window.memo);
    EXPECT_EQ(c.summary ? 100 : 0, run.window.gauge.Percent());
    for (const auto& [label, text] : c.labels)
      EXPECT_EQ(text, run.window.Label(label)) << static_cast<int>(label);
    EXPECT_EQ((std::set<std::string>{"intro.str", "intro.str.MAP"}), Names(run.dir.path()));
    EXPECT_TRUE(std::filesystem::is_empty(run.MapPath()));
  }
}

// Whichever file operation of the pass fails, the error ends the pass, both
// files are closed and the map holds the records written before the failure.
TEST(MapFileTest, AFailureAtAnyOperationKeepsTheRecordsBefore) {
  AnalysisRun good;
  const Bytes stream = StreamBuilder()
                           .Ssmp(Bytes(8, 1))
                           .Shdr({})
                           .Chunk("SSND", 12, {1, 2, 3, 4})
                           .Sized("SNDS", {0, 0, 0, 1, 0, 0, 0, 2, 'N', 'O', 'N', 'E'})
                           .bytes();
  ASSERT_EQ("", good.Analyze(stream));
  const Bytes fullMap = good.Map();

  int failures = 0;
  for (std::int64_t k = 1; k < 200; ++k) {
    SCOPED_TRACE(k);
    AnalysisRun run;
    run.beforePass = [k] { faults::FailOperation(k, ENOSPC); };
    run.Place(stream);
    const std::string error = run.Run();
    const bool fired = !faults::detail::armed;
    faults::Disarm();
    if (!fired) {
      // Fewer than k operations: the pass ended well.
      EXPECT_EQ("", error);
      EXPECT_EQ(fullMap, run.Map());
      break;
    }
    ++failures;
    EXPECT_EQ("Disk full", error);
    if (faults::LastFaultWasRename()) {
      // The finished map could not be put in place: no map, no temporary.
      EXPECT_EQ(run.PathLine() + SummaryLines(3, 1, 1, 1), run.window.memo);
      EXPECT_EQ((std::set<std::string>{"intro.str"}), Names(run.dir.path()));
      continue;
    }
    const Bytes map = run.Map();
    ASSERT_LE(map.size(), fullMap.size());
    EXPECT_TRUE(std::equal(map.begin(), map.end(), fullMap.begin()));
    // Only a failure while closing comes after the summary.
    if (run.window.memo == run.PathLine() + SummaryLines(3, 1, 1, 1)) {
      EXPECT_EQ(fullMap, map);
      EXPECT_EQ(100, run.window.gauge.Percent());
    } else {
      EXPECT_EQ(run.PathLine(), run.window.memo);
      EXPECT_EQ(0, run.window.gauge.Percent());
    }
  }
  EXPECT_GT(failures, 10);
}

// Each step of the reader in words: "SNDS size", "SSMP position length",
// "SHDR rate" ("SHDR cut" without values), "?" for a 4-byte step.
std::string Steps(const Bytes& map, std::string& error) {
  test::TempDir dir;
  ByteFile file;
  file.Open(dir.Write("m.MAP", map), ByteFile::Mode::kRead);
  std::string steps;
  try {
    MapReader reader(file);
    MapRecord record;
    while (reader.Next(record)) {
      switch (record.kind) {
        case MapRecord::Kind::kSnds:
          steps += "SNDS " + std::to_string(record.chunkSize);
          break;
        case MapRecord::Kind::kSsmp:
          steps += "SSMP " + std::to_string(record.dataPosition) + " " + std::to_string(record.dataLength);
          break;
        case MapRecord::Kind::kShdr:
          steps += record.header ? "SHDR " + std::to_string(record.header->sampleRate) : "SHDR cut";
          break;
        case MapRecord::Kind::kOther:
          steps += "?";
          break;
      }
      steps += "|";
    }
  } catch (const CommandError& failure) {
    error = failure.text();
  }
  return steps;
}

TEST(MapReaderTest, StepsAsTheExtractionWalks) {
  StreamBuilder::Header header;
  header.sampleRate = 44100;
  const Bytes shdr = MapBuilder().Shdr(header).bytes();
  struct Case {
    const char* name;
    Bytes map;
    std::string steps;
    std::string error;
  };
  const Case cases[] = {
      {"what the analysis writes; an SSND record is three 4-byte steps",
       MapBuilder().Snds(64).Shdr(header).Snds(40).Ssmp(88, 16).Ssnd(12, 100).bytes(),
       "SNDS 64|SHDR 44100|SNDS 40|SSMP 88 16|?|?|?|", ""},
      {"an unknown word, and a kind in lower case, are steps of 4 bytes",
       test::Concat({{'J', 'U', 'N', 'K', 's', 'n', 'd', 's'}, MapBuilder().Snds(8).bytes()}), "?|?|SNDS 8|",
       ""},
      {"a header cut short is still a header, and the last step", Bytes(shdr.begin(), shdr.begin() + 20),
       "SHDR cut|", ""},
      {"an SSMP record cut short", Bytes{'S', 'S', 'M', 'P', 1, 0, 0, 0, 2}, "", "Read beyond end of file"},
      {"a kind cut short after a whole record", test::Concat({MapBuilder().Snds(8).bytes(), {'S', 'N'}}),
       "SNDS 8|", "Read beyond end of file"},
      {"an empty map", {}, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    EXPECT_EQ(c.steps, Steps(c.map, error));
    EXPECT_EQ(c.error, error);
  }
}

TEST(MapWriterTest, ReaderGivesBackWhatTheWriterWrote) {
  StreamBuilder::Header header;
  header.buffers = -3;
  header.sampleRate = 11025;
  header.channels = 1;
  header.samples = 123456;
  test::TempDir dir;
  ByteFile file;
  file.Open(dir.File("m.MAP"), ByteFile::Mode::kCreate);
  MapWriter writer(file);
  MapSoundHeader values{header.buffers,
                        header.amplitude,
                        header.balance,
                        header.sampleSize,
                        header.sampleRate,
                        header.channels,
                        {},
                        header.compressionRatio,
                        header.samples};
  std::copy_n(header.compressionType.begin(), 4, values.compressionType);
  writer.Snds(-1);
  writer.Shdr(values);
  writer.Ssmp(24, 0x7FFFFFFF);
  writer.Ssnd(12, 8);
  file.Close();
  const Bytes map = test::ReadAll(dir.File("m.MAP"));
  EXPECT_EQ(MapBuilder().Snds(-1).Shdr(header).Ssmp(24, 0x7FFFFFFF).Ssnd(12, 8).bytes(), map);

  file.Open(dir.File("m.MAP"), ByteFile::Mode::kRead);
  MapReader reader(file);
  MapRecord record;
  ASSERT_TRUE(reader.Next(record) && reader.Next(record));
  ASSERT_TRUE(record.header.has_value());
  const MapSoundHeader& read = *record.header;
  EXPECT_EQ(std::vector<std::int32_t>({-3, 100, 0, 16, 11025, 1, 2, 123456}),
            std::vector<std::int32_t>({read.buffers, read.amplitude, read.balance, read.sampleSize,
                                       read.sampleRate, read.channels, read.compressionRatio, read.samples}));
  EXPECT_EQ(0, std::memcmp(read.compressionType, "SDX2", 4));
}

}  // namespace
}  // namespace morvane
