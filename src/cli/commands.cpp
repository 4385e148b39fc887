#include "cli/commands.h"

#include <cstdio>
#include <filesystem>
#include <map>

#include "analysis/chunk_stream.h"
#include "analysis/map_file.h"
#include "audio/demo_stream.h"
#include "cli/batch_progress.h"
#include "cli/console_window.h"
#include "commands/command_flow.h"
#include "core/errors.h"
#include "core/platform.h"
#include "core/shared_state.h"
#include "core/support.h"
#include "demux/stream_demux.h"

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

// After a box's text: the file and the system's own words for the failure
// behind it, when the platform failed ("intro.str.MAP: Permission denied").
void PrintSystemCause() {
  if (const auto failure = TakeLastSystemFailure()) {
    const std::string line =
        EscapedName(failure->path) + ": " + platform::SystemErrorText(failure->systemError) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  }
}

// The window's boxes, one a line, each followed by its cause.
ConsoleWindow CommandWindow() {
  TakeLastSystemFailure();  // what went before is no part of this command
  return ConsoleWindow([](const std::string& text) {
    const std::string line = text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    PrintSystemCause();
  });
}

// Says why the file was refused, after the window's "Input Error ".
void PrintRefusal(const SharedState& state) {
  if (!state.InputRefusal.empty()) PrintError(state.SelectedPath + ": " + state.InputRefusal);
}

int ExitStatus(const CommandResult& result, const SharedState& state) {
  PrintRefusal(state);
  if (result.error) {
    PrintError(*result.error);
    PrintSystemCause();
  }
  return result.Failed() ? 1 : 0;
}

// Where a batch reports: names on stdout, problems on stderr, both through
// the progress bar so that its line is never broken into.
class BatchSink : public ConvertSink {
 public:
  BatchSink(BatchProgress& progress, bool nullSeparated)
      : progress_(progress), nullSeparated_(nullSeparated) {}

  void Start(std::size_t index, const std::string& path) {
    index_ = index;
    step_ = EscapedName(path) + ": ";
    percent_ = -1;
    progress_.Show(index_, step_ + "0%");
  }
  void Wrote(const std::string& path) override {
    if (nullSeparated_) {
      progress_.PrintLine(stdout, path, '\0');
    } else {
      progress_.PrintLine(stdout, EscapedName(path));
    }
  }
  void Tell(const std::string& name, const std::string& text) override {
    progress_.PrintLine(stderr, EscapedName(name) + ": " + text);
  }
  void Progress(std::int64_t done, std::int64_t total) override {
    const int percent = total > 0 ? static_cast<int>(100 * done / total) : 100;
    if (percent == percent_) return;
    percent_ = percent;
    progress_.Show(index_, step_ + std::to_string(percent) + "%");
  }

 private:
  BatchProgress& progress_;
  bool nullSeparated_;
  std::size_t index_ = 0;
  std::string step_;
  int percent_ = -1;
};

// The map of a stream as Analyze File writes it, under the name given.
bool WriteMap(const std::string& path, const std::string& mapPath, ConvertSink& sink) {
  SharedState state;
  ConsoleWindow window([&](const std::string& text) { sink.Tell(mapPath, text); });
  try {
    state.InputFile.Open(path, ByteFile::Mode::kRead);
    state.SecondFile.Open(mapPath, ByteFile::Mode::kCreate);
    AnalyzeStream(state, window);
    sink.Wrote(mapPath);
    return true;
  } catch (const CommandError& error) {
    state.InputFile.CloseQuietly();
    state.SecondFile.CloseQuietly();
    const bool ofTheMap = error.path() == mapPath;
    sink.Tell(ofTheMap || error.path().empty() ? mapPath : error.path(),
              ErrorCause(error) + (ofTheMap ? "" : "; the map holds the records written before it"));
    return false;
  }
}

// The name every output of an input starts with: the input's own path, or
// its base name in the output folder.
std::string OutputBase(const std::string& path, const std::optional<std::string>& outputDir) {
  if (!outputDir) return path;
  return platform::Utf8FromPath(platform::PathFromUtf8(*outputDir) / platform::PathFromUtf8(path).filename());
}

// One input of a batch. Gives true when all of it was converted whole.
bool ConvertOne(const std::string& path, const std::string& base, const ConvertSettings& settings,
                BatchSink& sink) {
  ByteFile input;
  try {
    input.Open(path, ByteFile::Mode::kRead);
    if (KindOfInput(input) == InputKind::kNotAStream) {
      sink.Tell(path, "not a chunk stream; skipped");
      return false;
    }
    input.Close();
  } catch (const CommandError& error) {
    sink.Tell(path, ErrorCause(error));
    return false;
  }
  bool whole = true;
  if (settings.map && !WriteMap(path, base + kMapSuffix, sink)) whole = false;
  DemuxOptions options;
  options.outputBase = base;
  options.keepSound = settings.keepSound;
  if (settings.rateText) options.rate = ParseLeadingInt(*settings.rateText);
  if (!DemuxFile(path, options, sink)) whole = false;
  return whole;
}

}  // namespace

int AnalyzeCommand(const std::string& path) {
  SharedState state;
  ConsoleWindow window = CommandWindow();
  const std::string memoBefore = window.MemoText();
  const CommandResult result = RunAnalyzeFile(state, window, path);
  // After an error too: the lines appended so far and the rows as far as
  // they were set.
  PrintOut(AppendedLines(memoBefore, window.MemoText()) + window.InformationRows());
  return ExitStatus(result, state);
}

int ExtractCommand(const std::string& path) {
  SharedState state;
  ConsoleWindow window = CommandWindow();
  const CommandResult result = RunExtractChunks(state, window, path);
  // Once the map was loaded, its line and the files created.
  if (result.opened && !result.mapMissing) PrintOut(PrintedLines(window.MemoText()));
  return ExitStatus(result, state);
}

int WavCommand(const std::string& path, const std::string& rateText) {
  SharedState state;
  ConsoleWindow window = CommandWindow();
  window.SetRateText(rateText);
  const CommandResult result =
      RunSdx2ToWav(state, window, path, nullptr, Completion::kShown, WavRoad::kStreamed);
  return ExitStatus(result, state);
}

std::string EscapedName(const std::string& name) {
  std::string text;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      text += "\\\\";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\t') {
      text += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      text += escaped;
    } else {
      text += c;
    }
  }
  return text;
}

int ConvertCommand(const std::vector<std::string>& paths, const ConvertSettings& settings) {
  // Outputs that would share names: refused before anything is written.
  std::map<std::string, std::string> firstInputOf;
  std::vector<std::string> bases;
  for (const std::string& path : paths) {
    bases.push_back(OutputBase(path, settings.outputDir));
    std::error_code ignored;
    std::string key = platform::Utf8FromPath(
        std::filesystem::weakly_canonical(platform::PathFromUtf8(bases.back()), ignored));
    if (key.empty()) key = bases.back();
    const auto [first, added] = firstInputOf.emplace(key, path);
    if (!added) {
      PrintError("morvane-cli: " + EscapedName(first->second) + " and " + EscapedName(path) +
                 " would write the same files (" + EscapedName(bases.back()) + "...); nothing written");
      return 2;
    }
  }
  if (settings.outputDir) {
    std::error_code error;
    const std::filesystem::path folder = platform::PathFromUtf8(*settings.outputDir);
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder)) {
      PrintError(EscapedName(*settings.outputDir) + ": " +
                 (error ? error.message() : std::string("not a folder")) + "; nothing written");
      return 1;
    }
  }
  BatchProgress progress(paths.size(), settings.progressBar);
  BatchSink sink(progress, settings.nullSeparated);
  int status = 0;
  for (std::size_t index = 0; index < paths.size(); ++index) {
    sink.Start(index, paths[index]);
    if (!ConvertOne(paths[index], bases[index], settings, sink)) status = 1;
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
