#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "analysis_run.h"

namespace morvane {
namespace {

using test::AnalysisRun;
using test::Bytes;
using test::Concat;
using test::MapBuilder;
using test::StreamBuilder;
using test::SummaryLines;

constexpr std::int32_t kMaxSize = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMinSize = std::numeric_limits<std::int32_t>::min();

// The fields after an "SNDS" header: time, stream number, sub-chunk id.
Bytes SoundFields(std::int32_t time, std::int32_t stream, const std::string& subId) {
  Bytes out;
  test::AppendBigEndian32(out, time);
  test::AppendBigEndian32(out, stream);
  test::AppendId(out, subId);
  return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Cut(const Bytes& bytes, std::size_t length) { return Bytes(bytes.begin(), bytes.begin() + length); }

struct Counts {
  int snds, shdr, ssmp, ssnd;
};

// Walks that end well: the records, the summary and one pump per chunk.
TEST(AnalyzeStreamTest, WalksThatEndWell) {
  struct Case {
    const char* name;
    Bytes stream;
    Bytes map;
    Counts counts;
    long long pumps;
  };
  const Case cases[] = {
      {"skipped kinds, unknown ids and ids compared case-sensitively",
       StreamBuilder()
           .Chunk("FILM", 16, test::PatternBytes(8, 1))
           .Chunk("JOIN", 8)
           .Chunk("CTRL", 12, {1, 2, 3, 4})
           .Chunk("FILL", 8)
           .Chunk("EZFL", 8)
           .Chunk(std::string("XY\0Z", 4), 8)
           .Chunk("SSnd", 8)
           .Chunk("snds", 8)  // read as a sound chunk it would run off the end
           .bytes(),
       {},
       {0, 0, 0, 0},
       8},
      {"chunks of size 8 are empty and the next follows directly",
       StreamBuilder().Chunk("SSND", 8).Chunk("SSND", 8).Ssmp({9, 9, 9, 9}).Chunk("FILL", 8).bytes(),
       MapBuilder().Ssnd(8, 8).Ssnd(8, 16).Snds(28).Ssmp(40, 4).bytes(),
       {1, 0, 1, 2},
       4},
      {"a sound chunk whose sub-chunk is neither SSMP nor SHDR",
       StreamBuilder()
           .Sized("SNDS", Concat({SoundFields(1, 2, "SXYZ"), {0, 0, 0, 9}}))
           .Sized("SNDS", SoundFields(1, 2, "ssmp"))
           .bytes(),
       MapBuilder().Snds(24).Snds(20).bytes(),
       {2, 0, 0, 0},
       2},
      {"size 0 ends the walk after the chunk is handled",
       StreamBuilder().Ssmp(Bytes(8, 7)).Chunk("SSND", 0).Ssmp(Bytes(4, 1)).bytes(),
       MapBuilder().Snds(32).Ssmp(24, 8).Ssnd(0, 40).bytes(),
       {1, 0, 1, 1},
       2},
      {"a sound chunk of size 0 still has its fields read",
       StreamBuilder()
           .Chunk("SNDS", 0, Concat({SoundFields(0, 0, "SSMP"), {0, 0, 0, 99}}))
           .Ssmp(Bytes(4, 1))
           .bytes(),
       MapBuilder().Snds(0).Ssmp(24, 99).bytes(),
       {1, 0, 1, 0},
       1},
      {"a negative size that moves back to 0 ends the walk",
       StreamBuilder().Chunk("FILL", 8).Chunk("SSND", -8).Ssmp({1}).bytes(),
       MapBuilder().Ssnd(-8, 16).bytes(),
       {0, 0, 0, 1},
       2},
      {"a size running past the end of the file",
       StreamBuilder()
           .Chunk("SNDS", 1000, Concat({SoundFields(0, 0, "SSMP"), {0, 0, 0, 16}, Bytes(16, 5)}))
           .bytes(),
       MapBuilder().Snds(1000).Ssmp(24, 16).bytes(),
       {1, 0, 1, 0},
       1},
      {"the largest size from offset 0 reaches the last position",
       StreamBuilder().Chunk("SSND", kMaxSize, Bytes(8, 0)).bytes(),
       MapBuilder().Ssnd(kMaxSize, 8).bytes(),
       {0, 0, 0, 1},
       1},
      {"an SSMP sound chunk of size 20 takes the next chunk's id as data length",
       StreamBuilder().Chunk("SNDS", 20, SoundFields(3, 4, "SSMP")).Chunk("FILL", 8).Chunk("SSND", 8).bytes(),
       MapBuilder().Snds(20).Ssmp(24, 0x46494C4C).Ssnd(8, 36).bytes(),
       {1, 0, 1, 1},
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnalysisRun run;
    EXPECT_EQ("", run.Analyze(c.stream));
    EXPECT_EQ(c.map, run.Map());
    EXPECT_EQ(run.PathLine() + SummaryLines(c.counts.snds, c.counts.shdr, c.counts.ssmp, c.counts.ssnd),
              run.window.memo);
    EXPECT_EQ(c.pumps, run.window.pumps);
    EXPECT_EQ(100, run.window.gauge.Percent());
    EXPECT_TRUE(run.window.notices.empty());
  }
}

// Every way the walk fails: the error, the records written before it, the
// labels it had set, and nothing of what would have followed.
TEST(AnalyzeStreamTest, FailuresKeepWhatWasWrittenBefore) {
  using Labels = std::map<ValueLabel, std::string>;
  const std::string kBeyondEnd = "Read beyond end of file";
  const std::string kBadMove = "I/O error 22";
  StreamBuilder::Header header;
  header.sampleRate = 37800;
  header.time = 11;
  const Bytes ssmp = StreamBuilder().Ssmp(Bytes(8, 3)).bytes();
  const Bytes ssmpMap = MapBuilder().Snds(32).Ssmp(24, 8).bytes();
  const Bytes fields = Concat({SoundFields(5, 6, "SSMP"), {0, 0, 0, 40}});
  const Bytes headerChunk = StreamBuilder().Shdr(header).bytes();

  struct Case {
    const char* name;
    Bytes stream;
    std::string error;
    Bytes map;
    long long pumps;
    Labels labels;
  };
  const Case cases[] = {
      {"empty file", {}, kBeyondEnd, {}, 0, {}},
      {"1 byte", Text("S"), kBeyondEnd, {}, 0, {}},
      {"2 bytes", Text("SN"), kBeyondEnd, {}, 0, {}},
      {"3 bytes", Text("FOR"), kBeyondEnd, {}, 0, {}},
      {"a FILM chunk of 16 and a 4-byte tail",
       Concat({StreamBuilder().Chunk("FILM", 16, Bytes(8, 0)).bytes(), Text("SNDS")}),
       kBeyondEnd,
       {},
       1,
       {}},
      {"1 byte after the last whole chunk", Concat({ssmp, Text("F")}), kBeyondEnd, ssmpMap, 1, {}},
      {"4 bytes after the last whole chunk", Concat({ssmp, Text("SNDS")}), kBeyondEnd, ssmpMap, 1, {}},
      {"7 bytes after the last whole chunk",
       Concat({ssmp, Text("SSND"), {0, 0, 0}}),
       kBeyondEnd,
       ssmpMap,
       1,
       {}},
      {"a sound chunk cut inside its time",
       Cut(StreamBuilder().Chunk("SNDS", 64, fields).bytes(), 10),
       kBeyondEnd,
       MapBuilder().Snds(64).bytes(),
       0,
       {{ValueLabel::Label28, "Unknown"}}},
      {"a sound chunk cut inside its stream number",
       Cut(StreamBuilder().Chunk("SNDS", 64, fields).bytes(), 14),
       kBeyondEnd,
       MapBuilder().Snds(64).bytes(),
       0,
       {{ValueLabel::Label28, "Unknown"}, {ValueLabel::Label30, "Unknown"}}},
      {"a sound chunk cut inside its sub-chunk id",
       Cut(StreamBuilder().Chunk("SNDS", 64, fields).bytes(), 18),
       kBeyondEnd,
       MapBuilder().Snds(64).bytes(),
       0,
       {{ValueLabel::Label28, "5"}, {ValueLabel::Label30, "6"}}},
      {"an SSMP sub-chunk cut inside its data length",
       Cut(StreamBuilder().Chunk("SNDS", 64, fields).bytes(), 23),
       kBeyondEnd,
       MapBuilder().Snds(64).bytes(),
       0,
       {{ValueLabel::Label28, "5"}}},
      {"an SHDR sub-chunk cut inside its fields",
       Concat({ssmp, Cut(headerChunk, 60)}),
       kBeyondEnd,
       MapBuilder().Snds(32).Ssmp(24, 8).Snds(64).bytes(),
       1,
       {{ValueLabel::Label28, "11"}, {ValueLabel::Label15, "Unknown"}, {ValueLabel::Label22, "Unknown"}}},
      {"a whole sound header, then a sound chunk cut short",
       Concat({headerChunk, Cut(ssmp, 12)}),
       kBeyondEnd,
       MapBuilder().Snds(64).Shdr(header).Snds(32).bytes(),
       1,
       {{ValueLabel::Label15, "37800 (Hz)"}, {ValueLabel::Label28, "11"}}},
      {"size -1 at offset 0", StreamBuilder().Chunk("FILL", -1).bytes(), kBadMove, {}, 0, {}},
      {"the most negative size", StreamBuilder().Chunk("FILL", kMinSize).bytes(), kBadMove, {}, 0, {}},
      {"a negative size that moves before 0 after its record is written",
       StreamBuilder().Chunk("FILL", 8).Chunk("SSND", -9).bytes(),
       kBadMove,
       MapBuilder().Ssnd(-9, 16).bytes(),
       1,
       {}},
      {"a size that moves to 2^31",
       StreamBuilder().Chunk("FILL", 8).Chunk("FILL", kMaxSize - 7).bytes(),
       kBadMove,
       {},
       1,
       {}},
      {"a size that moves past 2^31 after its record is written",
       Concat({ssmp, StreamBuilder().Chunk("SSND", kMaxSize).bytes()}),
       kBadMove,
       MapBuilder().Snds(32).Ssmp(24, 8).Ssnd(kMaxSize, 40).bytes(),
       1,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnalysisRun run;
    EXPECT_EQ(c.error, run.Analyze(c.stream));
    EXPECT_EQ(c.map, run.Map());
    // The path line only: no summary after an error.
    EXPECT_EQ(run.PathLine(), run.window.memo);
    EXPECT_EQ(c.pumps, run.window.pumps);
    for (const auto& [label, text] : c.labels)
      EXPECT_EQ(text, run.window.Label(label)) << static_cast<int>(label);
    // Progress is never called: the gauge stays at 0.
    EXPECT_EQ(0, run.window.gauge.Position());
    EXPECT_EQ(0, run.window.gauge.Percent());
    EXPECT_EQ(1, run.state.ProgressStep);
  }
}

TEST(AnalyzeStreamTest, LabelsShowTheSoundHeader) {
  StreamBuilder::Header plain;
  plain.version = 3;
  plain.buffers = 4;
  plain.amplitude = 100;
  plain.balance = -50;
  plain.dataFormat = "SDX2";
  plain.sampleSize = 16;
  plain.sampleRate = 22050;
  plain.compressionRatio = 2;
  plain.compressionType = "SDX2";
  plain.channels = 2;
  plain.samples = 44100;
  plain.time = 1234;
  plain.stream = 7;

  StreamBuilder::Header odd;
  odd.version = -1;
  odd.buffers = kMaxSize;
  odd.amplitude = kMinSize;
  odd.balance = 0;
  odd.dataFormat = std::string("AB\0D", 4);  // cut at the zero byte
  odd.sampleSize = 0;
  odd.sampleRate = -22050;
  odd.compressionRatio = 0;
  odd.compressionType = std::string("\0XYZ", 4);
  odd.channels = 1;
  odd.samples = 0;
  odd.time = -5;
  odd.stream = 65536;

  struct Case {
    const char* name;
    StreamBuilder::Header header;
    std::map<ValueLabel, std::string> labels;
  };
  const Case cases[] = {
      {"plain values",
       plain,
       {{ValueLabel::Label16, "3"},
        {ValueLabel::Label17, "4"},
        {ValueLabel::Label18, "100"},
        {ValueLabel::Label19, "-50"},
        {ValueLabel::Label20, "SDX2"},
        {ValueLabel::Label21, "16 (Bit)"},
        {ValueLabel::Label15, "22050 (Hz)"},
        {ValueLabel::Label24, "2"},
        {ValueLabel::Label14, "SDX2"},
        {ValueLabel::Label23, "2"},
        {ValueLabel::Label22, "44100"},
        {ValueLabel::Label28, "1234"},
        {ValueLabel::Label30, "7"},
        {ValueLabel::Label13, "Unknown"},
        {ValueLabel::Label26, "Unknown"}}},
      {"extreme numbers and zero bytes in the four characters",
       odd,
       {{ValueLabel::Label16, "-1"},
        {ValueLabel::Label17, "2147483647"},
        {ValueLabel::Label18, "-2147483648"},
        {ValueLabel::Label19, "0"},
        {ValueLabel::Label20, "AB"},
        {ValueLabel::Label21, "0 (Bit)"},
        {ValueLabel::Label15, "-22050 (Hz)"},
        {ValueLabel::Label24, "0"},
        {ValueLabel::Label14, ""},
        {ValueLabel::Label23, "1"},
        {ValueLabel::Label22, "0"},
        {ValueLabel::Label28, "-5"},
        {ValueLabel::Label30, "65536"},
        {ValueLabel::Label13, "Unknown"},
        {ValueLabel::Label26, "Unknown"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnalysisRun run;
    EXPECT_EQ("", run.Analyze(StreamBuilder().Shdr(c.header).bytes()));
    for (const auto& [label, text] : c.labels)
      EXPECT_EQ(text, run.window.Label(label)) << static_cast<int>(label);
    EXPECT_EQ(MapBuilder().Snds(64).Shdr(c.header).bytes(), run.Map());
    EXPECT_EQ(run.PathLine() + SummaryLines(1, 1, 0, 0), run.window.memo);
  }
}

// A mono voice stream's header as real streams lay it out, byte by byte:
// the word at 48 is the channel count (1), the word at 56 the compression
// ratio (2). The map keeps the header's words in file order, as it always has.
TEST(AnalyzeStreamTest, AMonoHeaderShowsOneChannelAndItsMapKeepsTheFileOrder) {
  const Bytes stream = {'S', 'N', 'D', 'S', 0, 0, 0, 64, 0, 0, 0,    0,    0, 0, 0, 0,
                        'S', 'H', 'D', 'R',                                             // time, stream
                        0,   0,   0,   0,   0, 0, 0, 1,  0, 0, 0,    0,    0, 0, 0, 0,  // version, buffers..
                        'S', 'D', 'X', '2', 0, 0, 0, 16, 0, 0, 0x56, 0x22,              // 16 bits, 22050 Hz
                        0,   0,   0,   1,                                               // 48: channels
                        'S', 'D', 'X', '2',                                             // 52: compression
                        0,   0,   0,   2,                                               // 56: ratio
                        0,   0,   0,   0};
  AnalysisRun run;
  EXPECT_EQ("", run.Analyze(stream));
  EXPECT_EQ("1", run.window.Label(ValueLabel::Label23));  // "Number Of Channels:"
  EXPECT_EQ("2", run.window.Label(ValueLabel::Label24));  // "Compression Ratio:"
  const Bytes map = {'S', 'N', 'D', 'S', 64, 0, 0,  0, 'S', 'H', 'D',  'R',  1, 0, 0, 0, 0, 0,
                     0,   0,   0,   0,   0,  0, 16, 0, 0,   0,   0x22, 0x56, 0, 0, 1, 0, 0, 0,  // 48
                     'S', 'D', 'X', '2', 2,  0, 0,  0, 0,   0,   0,    0};  // 52, 56, samples
  EXPECT_EQ(map, run.Map());
}

TEST(AnalyzeStreamTest, HeaderRecordKeepsNineFieldsLittleEndian) {
  StreamBuilder::Header header;
  header.version = 0x01020304;  // not recorded
  header.dataFormat = "DFMT";   // not recorded
  header.buffers = 0x11223344;
  header.amplitude = -2;
  header.balance = 0x7F;
  header.sampleSize = 8;
  header.sampleRate = 0x5622;
  header.compressionRatio = 3;
  header.compressionType = "SDX2";
  header.channels = 1;
  header.samples = 0x00ABCDEF;
  AnalysisRun run;
  EXPECT_EQ("", run.Analyze(StreamBuilder().Shdr(header).bytes()));
  const Bytes expected = {
      'S',  'N',  'D',  'S',  0x40, 0x00, 0x00, 0x00,  //
      'S',  'H',  'D',  'R',                           //
      0x44, 0x33, 0x22, 0x11,                          // buffers
      0xFE, 0xFF, 0xFF, 0xFF,                          // amplitude
      0x7F, 0x00, 0x00, 0x00,                          // balance
      0x08, 0x00, 0x00, 0x00,                          // sample size
      0x22, 0x56, 0x00, 0x00,                          // rate
      0x01, 0x00, 0x00, 0x00,                          // channels, the word at 48
      'S',  'D',  'X',  '2',                           // compression type, as its bytes
      0x03, 0x00, 0x00, 0x00,                          // compression ratio, the word at 56
      0xEF, 0xCD, 0xAB, 0x00,                          // samples
  };
  EXPECT_EQ(expected, run.Map());
}

TEST(AnalyzeStreamTest, StreamOf409SoundChunks) {
  StreamBuilder stream;
  stream.Shdr({});
  for (int i = 0; i < 408; ++i) stream.Ssmp(test::PatternBytes(16 + i % 5, i), i * 100, i % 3);
  AnalysisRun run;
  EXPECT_EQ("", run.Analyze(stream.bytes()));

  EXPECT_EQ("Information about file:\r\n" + run.Path() +
                "\r\nSummary Info:\r\nSNDS chunks founded:409\r\nSHDR sub-chunks founded:1\r\n"
                "SSMP sub-chunks founded:408\r\nSSND chunks founded:0\r\n",
            run.window.memo);
  // The last sound chunk's time and stream number.
  EXPECT_EQ("40700", run.window.Label(ValueLabel::Label28));
  EXPECT_EQ("2", run.window.Label(ValueLabel::Label30));

  const Bytes map = run.Map();
  ASSERT_EQ(std::size_t{8 + 40 + 408 * 20}, map.size());
  // The last group: "SNDS" and "SSMP" with the position of its data.
  const std::int32_t lastStart = static_cast<std::int32_t>(stream.size()) - (24 + 16 + 407 % 5);
  EXPECT_EQ(MapBuilder().Snds(24 + 16 + 407 % 5).Ssmp(lastStart + 24, 16 + 407 % 5).bytes(),
            Bytes(map.end() - 20, map.end()));

  // One pump per chunk; the gauge stands still during the pass and is full
  // after it.
  EXPECT_EQ(409, run.window.pumps);
  EXPECT_EQ(std::vector<int>(409, 0), run.percentsDuringPass);
  EXPECT_EQ(std::vector<std::int32_t>(409, 0), run.positionsDuringPass);
  EXPECT_EQ(std::vector<int>(409, 1), run.stepsDuringPass);
  EXPECT_EQ(static_cast<std::int32_t>(stream.size()), run.window.gauge.Maximum());
  EXPECT_EQ(run.window.gauge.Maximum(), run.window.gauge.Position());
  EXPECT_EQ(100, run.window.gauge.Percent());
  EXPECT_EQ(0, run.stepAtLastMemoLine);
}

TEST(AnalyzeStreamTest, SecondSoundHeaderOverwritesTheLabels) {
  StreamBuilder::Header first;
  first.sampleRate = 22050;
  first.channels = 1;
  first.compressionType = "SDX2";
  StreamBuilder::Header second;
  second.sampleRate = 44100;
  second.channels = 2;
  second.compressionType = "NONE";
  second.time = 9;
  AnalysisRun run;
  EXPECT_EQ("", run.Analyze(StreamBuilder().Shdr(first).Ssmp({1, 2, 3, 4}).Shdr(second).bytes()));
  EXPECT_EQ("44100 (Hz)", run.window.Label(ValueLabel::Label15));
  EXPECT_EQ("2", run.window.Label(ValueLabel::Label23));
  EXPECT_EQ("NONE", run.window.Label(ValueLabel::Label14));
  EXPECT_EQ("9", run.window.Label(ValueLabel::Label28));
  EXPECT_EQ(MapBuilder().Snds(64).Shdr(first).Snds(28).Ssmp(88, 4).Snds(64).Shdr(second).bytes(), run.Map());
  EXPECT_EQ(run.PathLine() + SummaryLines(3, 2, 1, 0), run.window.memo);
}

TEST(AnalyzeStreamTest, StreamWithoutSoundChunksKeepsTheLabels) {
  AnalysisRun run;
  const ValueLabel all[] = {ValueLabel::Label13, ValueLabel::Label14, ValueLabel::Label15,
                            ValueLabel::Label16, ValueLabel::Label17, ValueLabel::Label18,
                            ValueLabel::Label19, ValueLabel::Label20, ValueLabel::Label21,
                            ValueLabel::Label22, ValueLabel::Label23, ValueLabel::Label24,
                            ValueLabel::Label26, ValueLabel::Label28, ValueLabel::Label30};
  // Labels from an earlier pass.
  for (ValueLabel label : all) run.window.labels[label] = "was " + std::to_string(static_cast<int>(label));
  EXPECT_EQ("",
            run.Analyze(StreamBuilder().Chunk("FILM", 12, {0, 0, 0, 0}).Chunk("SSND", 10, {1, 2}).bytes()));
  for (ValueLabel label : all) {
    EXPECT_EQ("was " + std::to_string(static_cast<int>(label)), run.window.Label(label))
        << static_cast<int>(label);
  }
  EXPECT_EQ(run.PathLine() + SummaryLines(0, 0, 0, 1), run.window.memo);
  EXPECT_EQ(MapBuilder().Ssnd(10, 20).bytes(), run.Map());
}

TEST(AnalyzeStreamTest, VideoFormatShowsTheFirstFilmHeaderWithinTheFile) {
  const Bytes film = StreamBuilder().Fhdr({.width = 320, .height = 240}).bytes();
  struct Case {
    const char* name;
    Bytes stream;
    std::string shown;
  };
  const Case cases[] = {
      {"the first film header, after a frame",
       StreamBuilder()
           .FilmFrame({.data = {1, 2, 3}})
           .Fhdr({.width = 320, .height = 240})
           .Fhdr({.compression = "rle ", .width = 64, .height = 48})
           .bytes(),
       "cvid 320x240"},
      {"four characters cut at a zero byte",
       StreamBuilder().Fhdr({.compression = std::string("ab\0d", 4), .width = 7, .height = -1}).bytes(),
       "ab 7x-1"},
      {"a header whose fields run past the file is not read", Bytes(film.begin(), film.end() - 1), "Unknown"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnalysisRun run;
    EXPECT_EQ("", run.Analyze(c.stream));
    EXPECT_EQ(c.shown, run.window.Label(ValueLabel::Label26));
    EXPECT_EQ(run.PathLine() + SummaryLines(0, 0, 0, 0), run.window.memo);
    EXPECT_TRUE(run.Map().empty());
  }
  // The next file without a film shows none, whether its walk ends well or not.
  AnalysisRun run;
  EXPECT_EQ("", run.Analyze(film));
  EXPECT_EQ("cvid 320x240", run.window.Label(ValueLabel::Label26));
  EXPECT_EQ("Read beyond end of file", run.Analyze(Text("SND"), "other.str"));
  EXPECT_EQ("Unknown", run.window.Label(ValueLabel::Label26));
}

TEST(AnalyzeStreamTest, CountersWrapAfter65535) {
  StreamBuilder stream;
  for (int i = 0; i < 65536; ++i) stream.Ssmp({});
  stream.Sized("SNDS", SoundFields(0, 0, "NONE"));
  AnalysisRun run;
  EXPECT_EQ("", run.Analyze(stream.bytes()));
  EXPECT_EQ(run.PathLine() + SummaryLines(1, 0, 0, 0), run.window.memo);
  EXPECT_EQ(65537, run.window.pumps);
  const Bytes map = run.Map();
  ASSERT_EQ(std::size_t{65536 * 20 + 8}, map.size());
  EXPECT_EQ(MapBuilder().Snds(24).Ssmp(65535 * 24 + 24, 0).Snds(20).bytes(),
            Bytes(map.end() - 28, map.end()));
}

// An IFF audio file: "FORM", then an FVER chunk before the COMM chunk, so
// that the rate's mantissa starts at 42 and the compression type at 50.
Bytes AifcFile(const std::string& formType, unsigned char rateHigh, unsigned char rateLow,
               const std::string& compression) {
  Bytes out = Text("FORM");
  test::AppendBigEndian32(out, 100);
  test::AppendId(out, formType);
  out.insert(out.end(), {'F', 'V', 'E', 'R', 0, 0, 0, 4, 0xA2, 0x80, 0x51, 0x40});
  out.insert(out.end(), {'C', 'O', 'M', 'M', 0, 0, 0, 24, 0, 2, 0, 0, 0x10, 0, 0, 16, 0x40, 0x0E});
  out.insert(out.end(), {rateHigh, rateLow, 0, 0, 0, 0, 0, 0});
  test::AppendId(out, compression);
  out.insert(out.end(), {4, 'S', 'D', 'X', '2', 0});
  // Chunks that the walk would record: an IFF file is never walked.
  const Bytes sound = StreamBuilder().Ssmp({1, 2, 3, 4}).Chunk("SSND", 8).bytes();
  out.insert(out.end(), sound.begin(), sound.end());
  return out;
}

// An IFF chunk: id, big-endian size of the body (as declared), the body and
// a pad byte after an odd body.
Bytes IffChunk(const std::string& id, const Bytes& body, std::int64_t declared = -1) {
  Bytes out = Text(id);
  test::AppendBigEndian32(out, static_cast<std::int32_t>(declared < 0 ? body.size() : declared));
  out.insert(out.end(), body.begin(), body.end());
  if (body.size() % 2 == 1) out.push_back(0);
  return out;
}

// A COMM body: 2 channels, 1000 frames, 16 bits, the rate as an 80-bit
// extended number, then for AIFF-C the compression type and its name.
Bytes CommBody(long double rate, const std::string& compression) {
  Bytes out = {0, 2, 0, 0, 0x03, 0xE8, 0, 16};
  int exponent = 0;
  const long double fraction = std::frexp(rate, &exponent);  // rate = fraction * 2^exponent
  const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 64));
  const int biased = rate == 0 ? 0 : exponent - 1 + 16383;
  out.push_back(static_cast<unsigned char>(biased >> 8));
  out.push_back(static_cast<unsigned char>(biased));
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(mantissa >> shift));
  if (!compression.empty()) out = Concat({out, Text(compression), {4, 'n', 'a', 'm', 'e', 0}});
  return out;
}

Bytes Form(const std::string& formType, std::initializer_list<Bytes> chunks) {
  Bytes body = Text(formType);
  for (const Bytes& chunk : chunks) body.insert(body.end(), chunk.begin(), chunk.end());
  Bytes out = Text("FORM");
  test::AppendBigEndian32(out, static_cast<std::int32_t>(body.size()));
  return Concat({out, body});
}

TEST(AnalyzeStreamTest, IffAudioFileShowsItsFormTypeAndItsCommonChunk) {
  const Bytes fver = IffChunk("FVER", {0xA2, 0x80, 0x51, 0x40});
  const Bytes sound = IffChunk("SSND", test::PatternBytes(40, 3));
  Bytes noComm = test::PatternBytes(40, 4);
  noComm[10] = 0x1F, noComm[11] = 0x40;  // 8000 at offset 42
  std::copy_n("ABCD", 4, noComm.begin() + 18);
  struct Case {
    const char* name;
    Bytes file;
    std::string format, frequency, compression;
  };
  const Case cases[] = {
      {"AIFC at 44100 Hz", AifcFile("AIFC", 0xAC, 0x44, "SDX2"), "AIFC", "44100 (Hz)", "SDX2"},
      {"AIFF at 65535 Hz", AifcFile("AIFF", 0xFF, 0xFF, "NONE"), "AIFF", "65535 (Hz)", "NONE"},
      {"a form type cut at a zero byte, no AIFF-C", AifcFile(std::string("AI\0C", 4), 0x56, 0x22, "SD"), "AI",
       "22050 (Hz)", "NONE"},
      // Where the fixed read sees 44100 (0xAC44), the exponent halves it.
      {"AIFC at 22050 Hz", Form("AIFC", {fver, IffChunk("COMM", CommBody(22050, "SDX2")), sound}), "AIFC",
       "22050 (Hz)", "SDX2"},
      {"AIFC at 192000 Hz", Form("AIFC", {fver, IffChunk("COMM", CommBody(192000, "sowt")), sound}), "AIFC",
       "192000 (Hz)", "sowt"},
      {"the whole part of a fraction", Form("AIFC", {fver, IffChunk("COMM", CommBody(11025.75L, "NONE"))}),
       "AIFC", "11025 (Hz)", "NONE"},
      {"below one hertz", Form("AIFC", {fver, IffChunk("COMM", CommBody(0.5L, "NONE")), sound}), "AIFC",
       "0 (Hz)", "NONE"},
      {"plain AIFF without FVER", Form("AIFF", {IffChunk("COMM", CommBody(8000, "")), sound}), "AIFF",
       "8000 (Hz)", "NONE"},
      {"an odd chunk before COMM is padded",
       Form("AIFC", {IffChunk("NAME", Text("tones")), IffChunk("COMM", CommBody(11025, "ima4")), sound}),
       "AIFC", "11025 (Hz)", "ima4"},
      // No whole COMM chunk: the fixed reads stand.
      {"a COMM chunk cut by the end of the file",
       Form("AIFC", {fver, IffChunk("COMM", CommBody(22050, "SDX2"), 200)}), "AIFC", "44100 (Hz)", "SDX2"},
      {"no COMM chunk", Form("AIFC", {fver, IffChunk("SSND", noComm)}), "AIFC", "8000 (Hz)", "ABCD"},
      {"a chunk size past the end before COMM",
       Form("AIFC", {fver, IffChunk("SSND", noComm, 0xFFFFFFF0), IffChunk("COMM", CommBody(22050, "SDX2"))}),
       "AIFC", "8000 (Hz)", "ABCD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnalysisRun run;
    EXPECT_EQ("", run.Analyze(c.file));
    EXPECT_EQ(c.format, run.window.Label(ValueLabel::Label13));
    EXPECT_EQ(c.frequency, run.window.Label(ValueLabel::Label15));
    EXPECT_EQ(c.compression, run.window.Label(ValueLabel::Label14));
    EXPECT_EQ("Unknown", run.window.Label(ValueLabel::Label28));
    EXPECT_EQ("Unknown", run.window.Label(ValueLabel::Label21));
    EXPECT_EQ(run.PathLine() + SummaryLines(0, 0, 0, 0), run.window.memo);
    EXPECT_TRUE(run.Map().empty());
    EXPECT_EQ(0, run.window.pumps);
    EXPECT_EQ(100, run.window.gauge.Percent());
  }
}

TEST(AnalyzeStreamTest, ShortIffAudioFileFailsAtTheReadThatRunsOut) {
  const Bytes whole = AifcFile("AIFC", 0xAC, 0x44, "SDX2");
  struct Case {
    std::size_t length;
    std::string format, frequency;  // what the reads before the failing one showed
  };
  const Case cases[] = {
      {4, "Unknown", "Unknown"},  {8, "Unknown", "Unknown"},  {11, "Unknown", "Unknown"},
      {12, "AIFC", "Unknown"},    {41, "AIFC", "Unknown"},    {45, "AIFC", "Unknown"},
      {46, "AIFC", "44100 (Hz)"}, {50, "AIFC", "44100 (Hz)"}, {53, "AIFC", "44100 (Hz)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    AnalysisRun run;
    EXPECT_EQ("Read beyond end of file", run.Analyze(Cut(whole, c.length)));
    EXPECT_EQ(c.format, run.window.Label(ValueLabel::Label13));
    EXPECT_EQ(c.frequency, run.window.Label(ValueLabel::Label15));
    EXPECT_EQ("Unknown", run.window.Label(ValueLabel::Label14));
    EXPECT_EQ(run.PathLine(), run.window.memo);
    EXPECT_TRUE(run.Map().empty());
    EXPECT_EQ(0, run.window.gauge.Percent());
  }
  AnalysisRun run;
  EXPECT_EQ("", run.Analyze(Cut(whole, 54)));
  EXPECT_EQ("SDX2", run.window.Label(ValueLabel::Label14));
}

}  // namespace
}  // namespace morvane
