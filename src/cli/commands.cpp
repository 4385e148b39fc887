#include "cli/commands.h"

#include <cstdio>
#include <functional>
#include <new>

#include "analysis/chunk_stream.h"
#include "analysis/map_file.h"
#include "audio/demo_stream.h"
#include "audio/wav_image.h"
#include "cli/batch_progress.h"
#include "cli/console_window.h"
#include "cli/map_headers.h"
#include "core/errors.h"
#include "core/shared_state.h"
#include "core/support.h"
#include "extract/sound_extraction.h"

namespace morvane {

namespace {

// How one command ended.
struct Outcome {
  bool opened = false;               // the file was opened
  bool troubled = false;             // a notice told of a failure before the command's own message
  std::optional<std::string> error;  // the error that ended the command's work
  bool Succeeded() const { return opened && !troubled && !error; }
};

// Analyze File from the end of its dialog on. With `announce` the command
// shows its "Process finished" as the window does.
Outcome Analyze(SharedState& state, ConsoleWindow& window, const std::string& path, bool announce) {
  Outcome outcome;
  const std::size_t noticesBefore = window.NoticeCount();
  outcome.error = RunCommandSteps(
      [&] {
        OpenSelectedFile(state, window, path);
        outcome.opened = state.FileOpened;
        if (state.FileOpened) {
          window.Gauge().SetPosition(0);
          CreateMapFile(state, window);
          AnalyzeStream(state, window);
          outcome.troubled = window.NoticeCount() != noticesBefore;
          if (announce) window.NotifyUser("Process finished");
        }
      },
      [&] {
        state.FileOpened = false;
        state.ProgressStep = 1;
      });
  return outcome;
}

// Extract Chunks from the end of its dialog on; `mapLoaded` tells whether
// the map was found (and the text box's text replaced).
Outcome Extract(SharedState& state, ConsoleWindow& window, const std::string& path, bool announce,
                bool& mapLoaded) {
  Outcome outcome;
  const std::size_t noticesBefore = window.NoticeCount();
  mapLoaded = false;
  outcome.error = RunCommandSteps(
      [&] {
        OpenSelectedFile(state, window, path);
        outcome.opened = state.FileOpened;
        if (state.FileOpened) {
          window.Gauge().SetPosition(0);
          OpenMapFile(state, window);
          if (!state.MapMissing) {
            mapLoaded = true;
            ExtractSounds(state, window);
            outcome.troubled = window.NoticeCount() != noticesBefore;
            if (announce) window.NotifyUser("Process Completed");
          } else {
            outcome.troubled = true;
          }
        }
      },
      [&] {
        state.MapMissing = false;
        state.FileOpened = false;
        state.ProgressStep = 1;
      });
  return outcome;
}

// SDX2 to WAV from the end of its dialog on, with the rate box's text set.
Outcome Wav(SharedState& state, ConsoleWindow& window, const std::string& path, bool announce) {
  Outcome outcome;
  const std::size_t noticesBefore = window.NoticeCount();
  outcome.error = RunCommandSteps(
      [&] {
        OpenSelectedFile(state, window, path);
        outcome.opened = state.FileOpened;
        if (state.FileOpened) {
          window.Gauge().SetPosition(0);
          ConvertToWav(state, window);
          outcome.troubled = window.NoticeCount() != noticesBefore;
          if (announce) window.NotifyUser("Process Completed");
        }
      },
      [&] {
        state.FileOpened = false;
        state.ProgressStep = 1;
      });
  return outcome;
}

void PrintOut(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void PrintError(const std::string& text) {
  const std::string line = ErrorBoxText(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

// Says why the file was refused, after the window's "Input Error ".
void PrintRefusal(const SharedState& state) {
  if (!state.InputRefusal.empty()) PrintError(state.SelectedPath + ": " + state.InputRefusal);
}

int ExitStatus(const Outcome& outcome, const SharedState& state) {
  PrintRefusal(state);
  if (outcome.error) PrintError(*outcome.error);
  return outcome.Succeeded() ? 0 : 1;
}

// One stream file of a batch: analysis, extraction, and a conversion of
// every sound file. Lines on stdout name the files that each step that
// succeeded has written; what goes wrong is told on stderr, each line
// headed by the file it concerns. The first step that fails ends the file;
// a failed conversion does not keep the other sound files from theirs.
bool ConvertStream(const std::string& path, const std::optional<std::string>& rateText, std::size_t index,
                   BatchProgress& progress) {
  auto tell = [&progress](const std::string& file, const std::string& text) {
    progress.PrintLine(stderr, file + ": " + text);
  };
  auto failed = [&tell](const std::string& file, const Outcome& outcome) {
    if (outcome.error) tell(file, ErrorBoxText(*outcome.error));
    return !outcome.Succeeded();
  };
  auto wrote = [&progress](const std::string& file) { progress.PrintLine(stdout, file); };
  auto noticesOf = [&tell](const std::string& file) {
    return [&tell, file](const std::string& text) { tell(file, text); };
  };

  {
    progress.Show(index, path + ": analyze");
    SharedState state;
    ConsoleWindow window(noticesOf(path));
    if (failed(path, Analyze(state, window, path, false))) {
      if (!state.InputRefusal.empty()) tell(path, state.InputRefusal);
      return false;
    }
    wrote(path + kMapSuffix);
  }
  {
    progress.Show(index, path + ": extract");
    SharedState state;
    ConsoleWindow window(noticesOf(path));
    bool mapLoaded = false;
    if (failed(path, Extract(state, window, path, false, mapLoaded))) return false;
  }

  std::vector<std::optional<std::int32_t>> rates;
  if (const auto error = RunCommandSteps([&] { rates = SoundHeaderRates(path + kMapSuffix); }, [] {})) {
    tell(path + kMapSuffix, ErrorBoxText(*error));
    return false;
  }
  for (std::size_t n = 0; n < rates.size(); ++n) wrote(path + std::to_string(n) + ".sound");

  bool allConverted = true;
  for (std::size_t n = 0; n < rates.size(); ++n) {
    const std::string soundPath = path + std::to_string(n) + ".sound";
    // Without --rate each sound file takes the rate of the header that started it.
    if (!rateText && !rates[n]) {
      tell(soundPath, "No sample rate: its sound header is cut short in the map.");
      allConverted = false;
      continue;
    }
    SharedState state;
    ConsoleWindow window(noticesOf(soundPath));
    window.SetRateText(rateText ? *rateText : DecimalText(*rates[n]));
    const std::string step = soundPath + ": wav ";
    window.Gauge().onRepaint = [&] {
      progress.Show(index, step + std::to_string(window.Gauge().Percent()) + "%");
    };
    progress.Show(index, step + "0%");
    if (failed(soundPath, Wav(state, window, soundPath, false))) {
      allConverted = false;
      continue;
    }
    wrote(soundPath + ".wav");
  }
  return allConverted;
}

}  // namespace

int AnalyzeCommand(const std::string& path) {
  SharedState state;
  ConsoleWindow window;
  const std::string memoBefore = window.MemoText();
  const Outcome outcome = Analyze(state, window, path, true);
  // After an error too: the lines appended so far and the rows as far as
  // they were set.
  PrintOut(AppendedLines(memoBefore, window.MemoText()) + window.InformationRows());
  return ExitStatus(outcome, state);
}

int ExtractCommand(const std::string& path) {
  SharedState state;
  ConsoleWindow window;
  bool mapLoaded = false;
  const Outcome outcome = Extract(state, window, path, true, mapLoaded);
  if (mapLoaded) PrintOut(PrintedLines(window.MemoText()));
  return ExitStatus(outcome, state);
}

int WavCommand(const std::string& path, const std::string& rateText) {
  SharedState state;
  ConsoleWindow window;
  window.SetRateText(rateText);
  const Outcome outcome = Wav(state, window, path, true);
  return ExitStatus(outcome, state);
}

int ConvertCommand(const std::vector<std::string>& paths, const std::optional<std::string>& rateText,
                   bool progressBar) {
  BatchProgress progress(paths.size(), progressBar);
  int status = 0;
  for (std::size_t index = 0; index < paths.size(); ++index) {
    if (!ConvertStream(paths[index], rateText, index, progress)) status = 1;
  }
  progress.Finish();
  return status;
}

int MakeDemoCommand(const std::string& path) {
  ByteFile file;
  Outcome outcome;
  outcome.opened = true;
  outcome.error = RunCommandSteps(
      [&] {
        file.Open(path, ByteFile::Mode::kCreate);
        WriteDemoStream(DemoStreamOptions{}, file);
        file.Close();
      },
      [&] { file.CloseQuietly(); });
  return ExitStatus(outcome, SharedState{});
}

}  // namespace morvane
