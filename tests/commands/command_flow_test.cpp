#include "commands/command_flow.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/wav_image.h"
#include "support/recording_window.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace morvane {
namespace {

using test::Bytes;
using test::StreamBuilder;
using Notices = std::vector<std::string>;

class CountingWindow : public test::RecordingWindow {
 public:
  void FileOpenEnded() override { ++fileOpenEnds; }
  int fileOpenEnds = 0;
};

enum class Command { kAnalyze, kAnalyzeSilently, kExtract, kWav, kPlay };

Bytes TwoStreams() {
  return StreamBuilder()
      .Shdr({})
      .Ssmp(test::PatternBytes(30, 1))
      .Shdr({})
      .Ssmp(test::PatternBytes(9, 2))
      .bytes();
}

// What each case leaves: the path the dialog answered, made ready in the folder.
struct Case {
  const char* name;
  Command command;
  std::function<std::string(const test::TempDir&)> place;
  bool opened;
  Notices notices;  // the notices of the result, the completion message left out
  std::optional<std::string> error;
  bool completed;
  Notices shown;  // every box the window showed, in order
  bool mapMissing = false;
};

std::string Analyzed(const test::TempDir& dir) {
  const std::string path = dir.Write("a.str", TwoStreams());
  SharedState state;
  test::RecordingWindow window;
  EXPECT_FALSE(RunAnalyzeFile(state, window, path).Failed());
  return path;
}

std::string Sound(const test::TempDir& dir) { return dir.Write("a.sound", test::PatternBytes(300, 3)); }

// The place, with a folder where the named output would go.
std::function<std::string(const test::TempDir&)> Blocked(
    const char* output, std::function<std::string(const test::TempDir&)> place) {
  return [output, place](const test::TempDir& dir) {
    std::filesystem::create_directory(dir.File(output));
    return place(dir);
  };
}

TEST(CommandFlowTest, EachWayACommandEndsIsReportedAndClosedTheSame) {
  const auto cancelled = [](const test::TempDir&) { return std::string(" \t"); };
  const auto missing = [](const test::TempDir& dir) { return dir.File("none.str"); };
  const auto stream = [](const test::TempDir& dir) { return dir.Write("a.str", TwoStreams()); };
  const Case cases[] = {
      {"analyze: cancelled", Command::kAnalyze, cancelled, false, {}, {}, false, {}},
      {"extract: cancelled", Command::kExtract, cancelled, false, {}, {}, false, {}},
      {"wav: cancelled", Command::kWav, cancelled, false, {}, {}, false, {}},
      {"play: cancelled", Command::kPlay, cancelled, false, {}, {}, false, {}},
      {"analyze: no such file",
       Command::kAnalyze,
       missing,
       false,
       {"Input Error "},
       {},
       false,
       {"Input Error "}},
      {"play: no such file", Command::kPlay, missing, false, {"Input Error "}, {}, false, {"Input Error "}},
      {"analyze: runs through", Command::kAnalyze, stream, true, {}, {}, true, {"Process finished"}},
      {"analyze: runs through without its message",
       Command::kAnalyzeSilently,
       stream,
       true,
       {},
       {},
       true,
       {}},
      {"analyze: a stream cut inside a chunk header",
       Command::kAnalyze,
       [](const test::TempDir& dir) {
         return dir.Write("a.str", {'S', 'N', 'D', 'S', 0});
       },
       true,
       {},
       "Read beyond end of file",
       false,
       {}},
      {"analyze: the map cannot be created and the pass goes on",
       Command::kAnalyze,
       Blocked("a.str.MAP", stream),
       true,
       {"Output writing Error "},
       "I/O error 103",
       false,
       {"Output writing Error "}},
      {"extract: no map", Command::kExtract, stream, true, {"MAP?"}, {}, false, {"MAP?"}, true},
      {"extract: runs through", Command::kExtract, Analyzed, true, {}, {}, true, {"Process Completed"}},
      {"extract: a sound file cannot be created",
       Command::kExtract,
       Blocked("a.str1.sound", Analyzed),
       true,
       {"Output Error. File"},
       "I/O error 103",
       false,
       {"Output Error. File"}},
      {"wav: runs through", Command::kWav, Sound, true, {}, {}, true, {"Process Completed"}},
      {"wav: the WAV cannot be created",
       Command::kWav,
       Blocked("a.sound.wav", Sound),
       true,
       {},
       "Cannot create file WAV?",
       false,
       {}},
      {"play: runs through, no message", Command::kPlay, Sound, true, {}, {}, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string path = c.place(dir);
    auto fill = [&path](Notices texts) {
      for (std::string& text : texts) {
        if (text == "MAP?") text = "Input Error. File \"" + path + ".MAP\" not found.\"";
      }
      return texts;
    };
    std::optional<std::string> error = c.error;
    if (error == "Cannot create file WAV?") error = "Cannot create file " + path + ".wav";

    SharedState state;
    CountingWindow window;
    window.rate = "22050";
    test::RecordingPlayer player;
    CommandResult result;
    switch (c.command) {
      case Command::kAnalyze:
        result = RunAnalyzeFile(state, window, path);
        break;
      case Command::kAnalyzeSilently:
        result = RunAnalyzeFile(state, window, path, Completion::kSilent);
        break;
      case Command::kExtract:
        result = RunExtractChunks(state, window, path);
        break;
      case Command::kWav:
        result = RunSdx2ToWav(state, window, path, &player);
        break;
      case Command::kPlay:
        result = RunPlay(state, window, path, player);
        break;
    }

    EXPECT_EQ(c.opened, result.opened);
    EXPECT_EQ(fill(c.notices), result.notices);
    EXPECT_EQ(error, result.error);
    EXPECT_EQ(c.completed, result.completed);
    EXPECT_EQ(c.mapMissing, result.mapMissing);
    // Only a run that reached its end with nothing to tell counts as done.
    EXPECT_EQ(!(c.completed && c.notices.empty()), result.Failed());
    EXPECT_EQ(fill(c.shown), window.notices);
    // The end of FileOpen is reached once whatever follows, and the closing
    // steps leave nothing open or set.
    EXPECT_EQ(1, window.fileOpenEnds);
    EXPECT_FALSE(state.FileOpened);
    EXPECT_FALSE(state.MapMissing);
    EXPECT_FALSE(state.StopRequested);
    EXPECT_FALSE(state.InputFile.IsOpen());
    EXPECT_FALSE(state.SecondFile.IsOpen());
    // PLAY leaves the step where its decode left it.
    EXPECT_EQ(c.command == Command::kPlay && c.completed ? 0 : 1, int{state.ProgressStep});
    // The player is stopped only once a file was opened; PLAY keeps its image.
    EXPECT_EQ(c.opened && (c.command == Command::kWav || c.command == Command::kPlay) ? 1 : 0, player.stops);
    if (c.command == Command::kPlay && c.completed) {
      ASSERT_EQ(1u, player.played.size());
      EXPECT_EQ(state.WaveImage, player.played[0]);
    } else {
      EXPECT_TRUE(player.played.empty());
    }
  }
}

// Analyze, Extract and SDX2 to WAV set the gauge to 0 once their file is
// open, whatever follows; a cancelled command and PLAY leave it where it is.
TEST(CommandFlowTest, TheGaugeStartsAtZeroOnlyOnceAFileIsOpen) {
  test::TempDir dir;
  SharedState state;
  CountingWindow window;
  window.gauge.SetPosition(40);
  RunExtractChunks(state, window, "");
  EXPECT_EQ(40, window.gauge.Position());  // a cancelled command leaves the gauge
  RunExtractChunks(state, window, dir.Write("a.str", TwoStreams()));
  EXPECT_EQ(0, window.gauge.Position());  // the map is missing, yet the gauge was reset
  test::RecordingPlayer player;
  window.gauge.SetPosition(40);
  RunPlay(state, window, Sound(dir), player);
  EXPECT_EQ(window.gauge.Maximum(), window.gauge.Position());  // PLAY moves on from where it stood
}

}  // namespace
}  // namespace morvane
