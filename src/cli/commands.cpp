#include "cli/commands.h"

#include <cstdio>

#include "analysis/map_file.h"
#include "audio/demo_stream.h"
#include "cli/batch_progress.h"
#include "cli/console_window.h"
#include "cli/map_headers.h"
#include "commands/command_flow.h"
#include "core/errors.h"
#include "core/shared_state.h"
#include "core/support.h"

namespace morvane {

namespace {

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

int ExitStatus(const CommandResult& result, const SharedState& state) {
  PrintRefusal(state);
  if (result.error) PrintError(*result.error);
  return result.Failed() ? 1 : 0;
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
  auto failed = [&tell](const std::string& file, const CommandResult& result) {
    if (result.error) tell(file, ErrorBoxText(*result.error));
    return result.Failed();
  };
  auto wrote = [&progress](const std::string& file) { progress.PrintLine(stdout, file); };
  auto noticesOf = [&tell](const std::string& file) {
    return [&tell, file](const std::string& text) { tell(file, text); };
  };

  {
    progress.Show(index, path + ": analyze");
    SharedState state;
    ConsoleWindow window(noticesOf(path));
    if (failed(path, RunAnalyzeFile(state, window, path, Completion::kSilent))) {
      if (!state.InputRefusal.empty()) tell(path, state.InputRefusal);
      return false;
    }
    wrote(path + kMapSuffix);
  }
  {
    progress.Show(index, path + ": extract");
    SharedState state;
    ConsoleWindow window(noticesOf(path));
    if (failed(path, RunExtractChunks(state, window, path, Completion::kSilent))) return false;
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
    if (failed(soundPath, RunSdx2ToWav(state, window, soundPath, nullptr, Completion::kSilent))) {
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
  const CommandResult result = RunAnalyzeFile(state, window, path);
  // After an error too: the lines appended so far and the rows as far as
  // they were set.
  PrintOut(AppendedLines(memoBefore, window.MemoText()) + window.InformationRows());
  return ExitStatus(result, state);
}

int ExtractCommand(const std::string& path) {
  SharedState state;
  ConsoleWindow window;
  const CommandResult result = RunExtractChunks(state, window, path);
  // Once the map was loaded, its line and the files created.
  if (result.opened && !result.mapMissing) PrintOut(PrintedLines(window.MemoText()));
  return ExitStatus(result, state);
}

int WavCommand(const std::string& path, const std::string& rateText) {
  SharedState state;
  ConsoleWindow window;
  window.SetRateText(rateText);
  const CommandResult result = RunSdx2ToWav(state, window, path);
  return ExitStatus(result, state);
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
  const std::optional<std::string> error = RunCommandSteps(
      [&] {
        file.Open(path, ByteFile::Mode::kCreate);
        WriteDemoStream(DemoStreamOptions{}, file);
        file.Close();
      },
      [&] { file.CloseQuietly(); });
  if (error) PrintError(*error);
  return error ? 1 : 0;
}

}  // namespace morvane
