#include "commands/command_flow.h"

#include <functional>

#include "analysis/chunk_stream.h"
#include "analysis/map_file.h"
#include "audio/wav_image.h"
#include "core/errors.h"
#include "core/window.h"
#include "extract/sound_extraction.h"

namespace morvane {

namespace {

// The window as the passes of one command see it: everything goes through
// to the real one, and the boxes shown on the way are kept for the result.
class NoticeKeeper final : public Window {
 public:
  NoticeKeeper(Window& window, CommandResult& result) : window_(window), result_(result) {}

  void SetLabel(ValueLabel label, const std::string& text) override { window_.SetLabel(label, text); }
  std::string MemoText() const override { return window_.MemoText(); }
  void SetMemoText(const std::string& text) override { window_.SetMemoText(text); }
  void AppendMemoLine(const std::string& line) override { window_.AppendMemoLine(line); }
  GaugeModel& Gauge() override { return window_.Gauge(); }
  void SetStopEnabled(bool enabled) override { window_.SetStopEnabled(enabled); }
  std::string RateText() const override { return window_.RateText(); }
  void NotifyUser(const std::string& text) override {
    result_.notices.push_back(text);
    window_.NotifyUser(text);
  }
  void ProcessPendingMessages() override { window_.ProcessPendingMessages(); }
  void KeepResponsive() override { window_.KeepResponsive(); }
  void FileOpenEnded() override { window_.FileOpenEnded(); }

  // The command has ended well: its message, which is no notice of trouble.
  void Complete(const char* message, Completion completion) {
    result_.completed = true;
    if (completion == Completion::kShown) window_.NotifyUser(message);
  }

 private:
  Window& window_;
  CommandResult& result_;
};

// The one road of every command: the rest of FileOpen, then the work if the
// file was opened, inside the one place that catches a command's error; the
// closing steps run however it ends.
CommandResult RunCommand(SharedState& state, Window& target, const std::string& path,
                         const std::function<void(NoticeKeeper&, CommandResult&)>& work,
                         const std::function<void()>& closing) {
  CommandResult result;
  NoticeKeeper window(target, result);
  result.error = RunCommandSteps(
      [&] {
        OpenSelectedFile(state, window, path);
        window.FileOpenEnded();
        result.opened = state.FileOpened;
        if (state.FileOpened) work(window, result);
      },
      closing);
  return result;
}

}  // namespace

CommandResult RunAnalyzeFile(SharedState& state, Window& window, const std::string& path,
                             Completion completion) {
  return RunCommand(
      state, window, path,
      [&](NoticeKeeper& shown, CommandResult&) {
        shown.Gauge().SetPosition(0);
        CreateMapFile(state, shown);
        AnalyzeStream(state, shown);
        shown.Complete("Process finished", completion);
      },
      [&] {
        state.FileOpened = false;
        state.ProgressStep = 1;
      });
}

CommandResult RunExtractChunks(SharedState& state, Window& window, const std::string& path,
                               Completion completion) {
  return RunCommand(
      state, window, path,
      [&](NoticeKeeper& shown, CommandResult& result) {
        shown.Gauge().SetPosition(0);
        OpenMapFile(state, shown);
        result.mapMissing = state.MapMissing;
        // A missing map has been told already; no completion message follows.
        if (state.MapMissing) return;
        ExtractSounds(state, shown);
        // A walk ended by STOP is a normal end too.
        shown.Complete("Process Completed", completion);
      },
      [&] {
        state.MapMissing = false;
        state.FileOpened = false;
        state.ProgressStep = 1;
      });
}

CommandResult RunSdx2ToWav(SharedState& state, Window& window, const std::string& path,
                           SoundPlayer* earlierPlay, Completion completion, WavRoad road) {
  return RunCommand(
      state, window, path,
      [&](NoticeKeeper& shown, CommandResult&) {
        shown.Gauge().SetPosition(0);
        // A conversion ends the sound of an earlier PLAY and frees it.
        if (earlierPlay != nullptr) earlierPlay->Stop();
        if (road == WavRoad::kStreamed) {
          StreamToWav(state, shown);
        } else {
          ConvertToWav(state, shown);
        }
        shown.Complete("Process Completed", completion);
      },
      [&] {
        state.FileOpened = false;
        state.ProgressStep = 1;
      });
}

CommandResult RunPlay(SharedState& state, Window& window, const std::string& path, SoundPlayer& player) {
  return RunCommand(
      state, window, path,
      [&](NoticeKeeper& shown, CommandResult&) {
        player.Stop();
        state.SourceImage.reset();
        state.WaveImage.reset();
        PrepareWave(state, shown);
        PlayInMemory(state, shown, player);
        shown.Complete("", Completion::kSilent);
      },
      [&] { state.FileOpened = false; });
}

}  // namespace morvane
