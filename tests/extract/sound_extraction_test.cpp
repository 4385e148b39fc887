#include "extract/sound_extraction.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/chunk_stream.h"
#include "analysis/map_file.h"
#include "core/errors.h"
#include "core/shared_state.h"
#include "support/recording_window.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace morvane {
namespace {

using namespace test;

// A stream file with its map beside it, opened as the Extract Chunks command
// opens them, and the walk run over them.
class ExtractTest : public ::testing::Test {
 protected:
  ExtractTest() : stream_(PatternBytes(400, 3)) {}

  // Writes the stream and the map and opens both.
  void Prepare(const Bytes& map) {
    stem_ = dir_.Write("intro.str", stream_);
    dir_.Write("intro.str.MAP", map);
    OpenSelectedFile(state_, window_, stem_);
    ASSERT_TRUE(state_.FileOpened);
    OpenMapFile(state_, window_);
    ASSERT_FALSE(state_.MapMissing);
  }

  // Runs the walk; gives the text of the error that ended it, empty when it
  // ended well.
  std::string Walk() {
    try {
      ExtractSounds(state_, window_);
      return "";
    } catch (const CommandError& failure) {
      return failure.text();
    }
  }

  // The walk, and the checks of what holds however it ends.
  std::string Extract() {
    const std::string error = Walk();
    EXPECT_FALSE(state_.StopRequested);
    EXPECT_FALSE(window_.stopEnabled);
    EXPECT_EQ((std::vector<bool>{true, false}), window_.stopChanges);
    EXPECT_FALSE(state_.InputFile.IsOpen());
    EXPECT_FALSE(state_.SecondFile.IsOpen());
    return error;
  }

  std::string SoundPath(std::uint32_t number) const { return stem_ + std::to_string(number) + ".sound"; }
  Bytes Sound(std::uint32_t number) const { return ReadAll(SoundPath(number)); }
  std::string LoadedLine() const { return "MAP-file \"" + stem_ + ".map\" loaded successfully"; }
  std::string CreatedLine(std::uint32_t number) const {
    return "\r\nFile \"" + SoundPath(number) + "\" created";
  }
  Bytes Data(std::size_t from, std::size_t count) const { return Slice(stream_, from, count); }

  // Sound files in the folder, whatever their number.
  int SoundFileCount() const {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      if (entry.path().extension() == ".sound") ++count;
    }
    return count;
  }

  test::TempDir dir_;
  Bytes stream_;
  std::string stem_;
  SharedState state_;
  test::RecordingWindow window_;
};

TEST_F(ExtractTest, EmptyMapCreatesNoSoundFile) {
  Prepare({});
  EXPECT_EQ("", Extract());
  EXPECT_EQ(LoadedLine(), window_.memo);
  EXPECT_EQ(0, SoundFileCount());
  EXPECT_TRUE(window_.notices.empty());
  EXPECT_EQ(0, window_.pumps);
}

TEST_F(ExtractTest, OneHeaderCollectsEveryDataRecordInMapOrder) {
  Prepare(MapBuilder()
              .Snds()
              .Shdr()
              .Snds(512)
              .Ssmp(100, 30)
              .Snds()
              .Ssmp(10, 25)
              .Ssmp(300, 7)
              .Ssmp(100, 3)
              .bytes());
  EXPECT_EQ("", Extract());
  EXPECT_EQ(Concat({Data(100, 30), Data(10, 25), Data(300, 7), Data(100, 3)}), Sound(0));
  EXPECT_EQ(1, SoundFileCount());
  EXPECT_EQ(LoadedLine(), window_.memo);
  // One pump per record.
  EXPECT_EQ(8, window_.pumps);
}

TEST_F(ExtractTest, ThreeHeadersGiveThreeFilesAndTwoCreatedLines) {
  Prepare(MapBuilder()
              .Snds()
              .Shdr()
              .Ssmp(0, 12)
              .Snds()
              .Shdr()
              .Ssmp(50, 40)
              .Ssmp(20, 1)
              .Snds()
              .Shdr()
              .Ssmp(200, 11)
              .bytes());
  EXPECT_EQ("", Extract());
  EXPECT_EQ(Data(0, 12), Sound(0));
  EXPECT_EQ(Concat({Data(50, 40), Data(20, 1)}), Sound(1));
  EXPECT_EQ(Data(200, 11), Sound(2));
  EXPECT_EQ(3, SoundFileCount());
  EXPECT_EQ(LoadedLine() + CreatedLine(1) + CreatedLine(2), window_.memo);
  EXPECT_TRUE(window_.notices.empty());
}

TEST_F(ExtractTest, EveryLengthCopiesExactlyThatManyBytes) {
  // Blocks of 10 go while more than 10 bytes remain, then single bytes; a
  // length of 0 or less copies nothing and the walk goes on.
  for (std::int32_t length : {0, 1, 5, 10, 11, 20, 25, 30, 31, 250, -1, -30}) {
    SCOPED_TRACE(length);
    window_.stopChanges.clear();
    // Each walk replaces file 0 with what this map gives.
    Prepare(MapBuilder().Shdr().Ssmp(40, length).Ssmp(5, 3).bytes());
    EXPECT_EQ("", Extract());
    const Bytes expected = Concat({Data(40, length > 0 ? static_cast<std::size_t>(length) : 0), Data(5, 3)});
    EXPECT_EQ(expected, Sound(0));
  }
}

TEST_F(ExtractTest, SsndRecordsAndUnknownWordsChangeNothing) {
  const Bytes plain =
      MapBuilder().Snds().Shdr().Snds().Ssmp(8, 33).Snds().Shdr().Snds().Ssmp(90, 9).Ssmp(0, 4).bytes();
  const Bytes mixed = MapBuilder()
                          .Ssnd(4096, 8)
                          .Snds()
                          .Shdr()
                          .Ssnd(16, 200)
                          .Snds()
                          .Ssmp(8, 33)
                          .Id("FILL")
                          .Snds()
                          .Shdr()
                          .Ssnd(-1, 0)
                          .Ssnd(0, 0)
                          .Snds()
                          .Ssmp(90, 9)
                          .Ssmp(0, 4)
                          .Ssnd(12, 388)
                          .bytes();
  Prepare(plain);
  EXPECT_EQ("", Extract());
  const Bytes first = Sound(0), second = Sound(1);
  EXPECT_EQ(Data(8, 33), first);
  EXPECT_EQ(Concat({Data(90, 9), Data(0, 4)}), second);
  const std::string memo = window_.memo;
  const long long plainPumps = window_.pumps;

  window_.stopChanges.clear();
  window_.pumps = 0;
  Prepare(mixed);
  EXPECT_EQ("", Extract());
  EXPECT_EQ(first, Sound(0));
  EXPECT_EQ(second, Sound(1));
  EXPECT_EQ(2, SoundFileCount());
  EXPECT_EQ(memo, window_.memo);
  // Each SSND record is passed over in three 4-byte steps, one pump each.
  EXPECT_EQ(plainPumps + 5 * 3 + 1, window_.pumps);
}

TEST_F(ExtractTest, ExistingSoundFilesAreReplacedEvenByNothing) {
  dir_.Write("intro.str0.sound", PatternBytes(1000, 9));
  dir_.Write("intro.str1.sound", PatternBytes(10, 9));
  Prepare(MapBuilder().Shdr().Ssmp(7, 5).Shdr().bytes());
  EXPECT_EQ("", Extract());
  EXPECT_EQ(Data(7, 5), Sound(0));
  EXPECT_EQ(Bytes{}, Sound(1));
}

TEST_F(ExtractTest, MapCutInsideHeaderValuesStillCreatesItsFile) {
  for (std::size_t kept : {0, 20, 35}) {
    SCOPED_TRACE(kept);
    MapBuilder map;
    map.Shdr().Ssmp(0, 6).Id("SHDR").Raw(Bytes(kept, 0x11));
    window_.stopChanges.clear();
    window_.notices.clear();
    Prepare(map.bytes());
    EXPECT_EQ("", Extract());
    EXPECT_EQ(Data(0, 6), Sound(0));
    ASSERT_TRUE(Exists(SoundPath(1)));
    EXPECT_EQ(Bytes{}, Sound(1));
    EXPECT_EQ(LoadedLine() + CreatedLine(1), window_.memo);
    EXPECT_TRUE(window_.notices.empty());
  }
}

// Each case: a map that begins with a good sound file 0 holding 12 bytes, then
// a record the walk must fail on, with the error's exact text.
TEST_F(ExtractTest, BrokenRecordsEndTheWalkWithTheirError) {
  struct Case {
    const char* name;
    MapBuilder tail;
    std::string text;
  };
  const Case cases[] = {
      {"map cut after SSMP id and position", MapBuilder().Id("SSMP").Value(40), "Read beyond end of file"},
      {"map cut after SSMP id", MapBuilder().Id("SSMP"), "Read beyond end of file"},
      {"map cut after SNDS id", MapBuilder().Id("SNDS"), "Read beyond end of file"},
      {"map cut inside an id", MapBuilder().Raw({'S', 'S'}), "Read beyond end of file"},
      {"position at the end of the stream", MapBuilder().Ssmp(400, 1), "Read beyond end of file"},
      {"position beyond the end of the stream", MapBuilder().Ssmp(100000, 20), "Read beyond end of file"},
      {"negative position", MapBuilder().Ssmp(-1, 0), "I/O error 22"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_.stopChanges.clear();
    MapBuilder map;
    map.Shdr().Ssmp(3, 12).Raw(c.tail.bytes());
    Prepare(map.bytes());
    EXPECT_EQ(c.text, Extract());
    EXPECT_EQ(Data(3, 12), Sound(0));
  }
}

TEST_F(ExtractTest, ShortStreamKeepsWhatWasCopiedBeforeTheFailingRead) {
  // The stream holds `available` bytes from the position; the block or byte
  // that meets the end is not written.
  struct Case {
    std::int32_t length;
    std::size_t available;
    std::size_t kept;
  };
  for (const Case c : {Case{30, 15, 10}, Case{30, 23, 23}, Case{21, 20, 20}, Case{21, 19, 10}, Case{7, 3, 3},
                       Case{12, 0, 0}}) {
    SCOPED_TRACE(c.length * 1000 + static_cast<int>(c.available));
    window_.stopChanges.clear();
    const auto position = static_cast<std::int32_t>(stream_.size() - c.available);
    Prepare(MapBuilder().Shdr().Ssmp(1, 4).Ssmp(position, c.length).bytes());
    EXPECT_EQ("Read beyond end of file", Extract());
    EXPECT_EQ(Concat({Data(1, 4), Data(static_cast<std::size_t>(position), c.kept)}), Sound(0));
  }
}

TEST_F(ExtractTest, SoundFileThatCannotBeCreated) {
  // A folder with the sound file's name cannot be created as a file.
  struct Case {
    const char* name;
    MapBuilder tail;  // after the header of the file that cannot be created
    std::string text;
  };
  const Case cases[] = {
      {"next data record", MapBuilder().Snds().Ssmp(5, 5), "I/O error 103"},
      {"next header", MapBuilder().Snds().Shdr(), "I/O error 103"},
      {"map ends first", MapBuilder().Snds().Ssmp(5, 0), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_.stopChanges.clear();
    window_.notices.clear();
    std::filesystem::create_directory(dir_.File("intro.str1.sound"));
    MapBuilder map;
    map.Shdr().Ssmp(0, 8).Shdr().Raw(c.tail.bytes());
    Prepare(map.bytes());
    EXPECT_EQ(c.text, Extract());
    EXPECT_EQ((std::vector<std::string>{"Output Error. File"}), window_.notices);
    EXPECT_EQ(Data(0, 8), Sound(0));
    // The created line came before the failure and stays.
    EXPECT_EQ(LoadedLine() + CreatedLine(1), window_.memo.substr(0, (LoadedLine() + CreatedLine(1)).size()));
    EXPECT_TRUE(std::filesystem::is_directory(SoundPath(1)));
    EXPECT_FALSE(Exists(SoundPath(2)));
  }
}

TEST_F(ExtractTest, DataBeforeAnyHeader) {
  Prepare(MapBuilder().Snds().Ssmp(0, 0).Ssmp(0, 5).Shdr().bytes());
  EXPECT_EQ("I/O error 103", Extract());
  EXPECT_EQ(0, SoundFileCount());
}

TEST_F(ExtractTest, MissingMapIsReportedAndLeavesTheMemo) {
  stem_ = dir_.Write("intro.str", stream_);
  OpenSelectedFile(state_, window_, stem_);
  window_.memo = "Information about file:\r\nearlier text";
  OpenMapFile(state_, window_);
  EXPECT_TRUE(state_.MapMissing);
  EXPECT_FALSE(state_.SecondFile.IsOpen());
  EXPECT_EQ("Information about file:\r\nearlier text", window_.memo);
  EXPECT_EQ((std::vector<std::string>{"Input Error. File \"" + stem_ + ".MAP\" not found.\""}),
            window_.notices);

  // Picking the map itself looks for the map's name followed by ".MAP".
  const std::string map = dir_.Write("intro.str.MAP", MapBuilder().Shdr().bytes());
  SharedState other;
  test::RecordingWindow window;
  OpenSelectedFile(other, window, map);
  OpenMapFile(other, window);
  EXPECT_TRUE(other.MapMissing);
  EXPECT_EQ((std::vector<std::string>{"Input Error. File \"" + map + ".MAP\" not found.\""}), window.notices);
}

TEST_F(ExtractTest, NumberingGoesOnBeyond65536Headers) {
  if (UnderWine()) GTEST_SKIP() << "65538 files in one folder take Wine many minutes";
  const auto started = std::chrono::steady_clock::now();
  MapBuilder map;
  map.Shdr().Ssmp(9, 5);
  for (int i = 1; i < 65538; ++i) map.Shdr();
  Prepare(map.bytes());
  EXPECT_EQ("", Extract());
  EXPECT_EQ(Data(9, 5), Sound(0));
  EXPECT_TRUE(Exists(SoundPath(65535)));
  EXPECT_TRUE(Exists(SoundPath(65536)));
  EXPECT_TRUE(Exists(SoundPath(65537)));
  EXPECT_FALSE(Exists(SoundPath(65538)));
  const std::string last = CreatedLine(65537);
  ASSERT_GE(window_.memo.size(), last.size());
  EXPECT_EQ(last, window_.memo.substr(window_.memo.size() - last.size()));
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  RecordProperty("seconds", std::to_string(seconds));
}

TEST_F(ExtractTest, StopEndsTheWalkRightAfterTheCurrentRecord) {
  // Records: 1 header, 2 data, 3 data, 4 header, 5 data, 6 data.
  const Bytes map = MapBuilder().Shdr().Ssmp(0, 10).Ssmp(10, 10).Shdr().Ssmp(20, 10).Ssmp(30, 10).bytes();
  struct Case {
    int stopAfter;
    Bytes first;
    bool secondExists;
    Bytes second;
  };
  const Case cases[] = {
      {1, {}, false, {}},         {2, Data(0, 10), false, {}},          {3, Data(0, 20), false, {}},
      {4, Data(0, 20), true, {}}, {5, Data(0, 20), true, Data(20, 10)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stopAfter);
    std::filesystem::remove_all(SoundPath(1));
    window_.stopChanges.clear();
    window_.pumps = 0;
    window_.onPump = [this, &c] {
      // What the STOP button's click does.
      if (window_.pumps == c.stopAfter) {
        state_.StopRequested = true;
        window_.SetStopEnabled(false);
      }
    };
    Prepare(map);
    window_.stopChanges.clear();
    EXPECT_EQ("", Walk());
    EXPECT_EQ(c.stopAfter, window_.pumps);
    EXPECT_FALSE(state_.StopRequested);
    EXPECT_EQ((std::vector<bool>{true, false, false}), window_.stopChanges);
    EXPECT_FALSE(state_.InputFile.IsOpen());
    EXPECT_FALSE(state_.SecondFile.IsOpen());
    // Complete on disk: the file was flushed and closed.
    EXPECT_EQ(c.first, Sound(0));
    EXPECT_EQ(c.secondExists, Exists(SoundPath(1)));
    if (c.secondExists) {
      EXPECT_EQ(c.second, Sound(1));
    }
  }
  window_.onPump = nullptr;
}

// Analyze File, then Extract Chunks on the same stream: each sound file holds
// exactly the sound data of its stream, in order.
TEST(ExtractAfterAnalysisTest, SoundFilesHoldEachStreamsData) {
  const Bytes a = PatternBytes(37, 1), b = PatternBytes(100, 2), c = PatternBytes(10, 3),
              d = PatternBytes(1, 4), e = PatternBytes(64, 5);
  test::StreamBuilder stream;
  stream.Sized("FILM", PatternBytes(20, 6))
      .Shdr({})
      .Ssmp(a)
      .Sized("FILL", PatternBytes(8, 7))
      .Ssmp(b)
      .Sized("SSND", PatternBytes(16, 8))
      .Shdr({})
      .Ssmp(c)
      .Ssmp(d)
      .Sized("CTRL", {})
      .Shdr({})
      .Ssmp({})
      .Ssmp(e);
  test::TempDir dir;
  const std::string path = dir.Write("movie.str", stream.bytes());
  SharedState state;
  test::RecordingWindow window;

  OpenSelectedFile(state, window, path);
  ASSERT_TRUE(state.FileOpened);
  CreateMapFile(state, window);
  AnalyzeStream(state, window);

  OpenSelectedFile(state, window, path);
  ASSERT_TRUE(state.FileOpened);
  OpenMapFile(state, window);
  ASSERT_FALSE(state.MapMissing);
  ExtractSounds(state, window);

  EXPECT_EQ(Concat({a, b}), ReadAll(path + "0.sound"));
  EXPECT_EQ(Concat({c, d}), ReadAll(path + "1.sound"));
  EXPECT_EQ(e, ReadAll(path + "2.sound"));
  EXPECT_FALSE(Exists(path + "3.sound"));
  EXPECT_EQ("MAP-file \"" + path + ".map\" loaded successfully\r\nFile \"" + path +
                "1.sound\" created\r\nFile \"" + path + "2.sound\" created",
            window.memo);
  EXPECT_TRUE(window.notices.empty());
}

}  // namespace
}  // namespace morvane
