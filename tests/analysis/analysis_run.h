#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "commands/command_flow.h"
#include "core/shared_state.h"
#include "support/recording_window.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace morvane::test {

// Analyze File once the dialog has answered, its completion message left
// out so that the window's notices are the pass's own. Records the gauge at
// every pump.
class AnalysisRun {
 public:
  AnalysisRun() {
    window.onPump = [this] {
      percentsDuringPass.push_back(window.gauge.Percent());
      positionsDuringPass.push_back(window.gauge.Position());
      stepsDuringPass.push_back(state.ProgressStep);
    };
    window.onMemoLine = [this] {
      // The pass's first step is the path's line: the map has been created
      // by then and nothing of the pass has touched a file.
      if (!passStarted_ && beforePass) beforePass();
      passStarted_ = true;
      stepAtLastMemoLine = state.ProgressStep;
    };
  }

  // Writes the stream under the name and analyses it. Gives the text of the
  // error that ended the command, empty when it ended well.
  std::string Analyze(const Bytes& stream, const std::string& name = "intro.str") {
    Place(stream, name);
    return Run();
  }

  // Writes the file that Run will analyse.
  void Place(const Bytes& stream, const std::string& name = "intro.str") { path_ = dir.Write(name, stream); }

  // Analyses the file at Path(), again if it was analysed before, with the
  // same state and window.
  std::string Run() {
    passStarted_ = false;
    const CommandResult result = RunAnalyzeFile(state, window, path_, Completion::kSilent);
    EXPECT_TRUE(result.opened);
    // However the pass ends, both files are closed.
    EXPECT_FALSE(state.InputFile.IsOpen());
    EXPECT_FALSE(state.SecondFile.IsOpen());
    return result.error.value_or("");
  }

  const std::string& Path() const { return path_; }
  std::string MapPath() const { return path_ + ".MAP"; }
  Bytes Map() const { return ReadAll(MapPath()); }
  // What the memo shows once the pass has appended the path.
  std::string PathLine() const { return "Information about file:\r\n" + path_; }

  // Called between CreateMapFile and AnalyzeStream.
  std::function<void()> beforePass;

  struct PassWindow : RecordingWindow {
    void AppendMemoLine(const std::string& line) override {
      onMemoLine();
      RecordingWindow::AppendMemoLine(line);
    }
    std::function<void()> onMemoLine;
  };

  TempDir dir;
  SharedState state;
  PassWindow window;
  std::vector<int> percentsDuringPass;
  std::vector<std::int32_t> positionsDuringPass;
  std::vector<int> stepsDuringPass;
  int stepAtLastMemoLine = -1;  // the pass's step where it last wrote to the memo

 private:
  std::string path_;
  bool passStarted_ = false;
};

// The summary lines that follow the path line.
inline std::string SummaryLines(int snds, int shdr, int ssmp, int ssnd) {
  return "\r\nSummary Info:\r\nSNDS chunks founded:" + std::to_string(snds) +
         "\r\nSHDR sub-chunks founded:" + std::to_string(shdr) +
         "\r\nSSMP sub-chunks founded:" + std::to_string(ssmp) +
         "\r\nSSND chunks founded:" + std::to_string(ssnd) + "\r\n";
}

}  // namespace morvane::test
