#include "cli/commands.h"

#include <cstdio>
#include <filesystem>

#include "audio/demo_stream.h"
#include "cli/batch_progress.h"
#include "commands/batch_inputs.h"
#include "commands/command_flow.h"
#include "commands/console_window.h"
#include "commands/convert_flow.h"
#include "commands/disc_flow.h"
#include "core/errors.h"
#include "core/platform.h"
#include "core/shared_state.h"
#include "core/support.h"
#include "disc/demo_disc.h"

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
class PrintingSink : public BatchSink {
 public:
  PrintingSink(BatchProgress& progress, const FoundFiles& found, bool nullSeparated)
      : progress_(progress), bytes_(found), nullSeparated_(nullSeparated) {}

  void Start(std::size_t index, const std::string& path) override {
    index_ = index;
    bytes_.Start(path);
    step_ = EscapedName(path) + ": ";
    percent_ = -1;
    progress_.Show(index_, bytes_.Position(0, BatchProgress::kRange), step_ + "0%");
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
    progress_.Show(index_, bytes_.Position(done, BatchProgress::kRange),
                   step_ + std::to_string(percent) + "%");
  }

 private:
  BatchProgress& progress_;
  BatchBytes bytes_;
  bool nullSeparated_;
  std::size_t index_ = 0;
  std::string step_;
  int percent_ = -1;
};

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

int ConvertCommand(const std::vector<std::string>& paths, const ConvertSettings& settings,
                   const BatchPrinting& printing) {
  // Folders are walked as the window walks what is dropped on it; with an
  // output folder, every output goes below it at the place the walk gives.
  const FoundFiles found = FindBatchFiles(paths);
  const bool besideEach = !settings.outputDir;
  const std::vector<ConvertInput> inputs = PlanBatchInputs(
      found, [besideEach](const std::string&) { return besideEach; }, settings.outputDir.value_or(""));
  BatchProgress progress(inputs.size(), printing.progressBar);
  PrintingSink sink(progress, found, printing.nullSeparated);
  // What the walk could not look at is told first, as in the window.
  for (const auto& [name, problem] : found.problems) sink.Tell(name, problem);
  BatchResult result = RunConvert(inputs, settings, sink);
  if (!found.problems.empty()) result.whole = false;
  // Folders that held no stream at all: nothing converted is no success.
  if (!result.refusal && !result.stopped && result.passedOver == inputs.size() && found.problems.empty()) {
    for (const std::string& path : paths) {
      std::error_code error;
      if (!std::filesystem::is_directory(platform::PathFromUtf8(path), error)) continue;
      sink.Tell(path, "no chunk stream in the folder; nothing converted");
      result.whole = false;
    }
  }
  progress.Finish();
  if (result.refusal) {
    // A clash is the command line's fault, told as its usage errors are.
    PrintError((result.clash ? "morvane-cli: " : "") + *result.refusal);
    return result.clash ? 2 : 1;
  }
  return result.whole ? 0 : 1;
}

int ListCommand(const std::string& imagePath) {
  const DiscListing listing = ListDisc(imagePath);
  std::string out = "Label: " + EscapedName(listing.label) + "\n";
  for (const DiscListing::Entry& entry : listing.entries) {
    out += EscapedName(entry.path);
    if (entry.folder) {
      out += "\tfolder\n";
      continue;
    }
    out += '\t';
    out += std::to_string(entry.size);
    out += '\t';
    out += DiscFileKindText(entry.facts);
    out += '\n';
  }
  for (const AudioTrack& track : listing.tracks) {
    out += AudioTrackFileName(track.number);
    out += '\t';
    out += std::to_string(track.range.length);
    out += track.bigEndian ? "\tCD audio, big-endian\n" : "\tCD audio\n";
  }
  PrintOut(out);
  for (const auto& [name, text] : listing.problems) {
    const std::string line = EscapedName(name) + ": " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  }
  std::fflush(stderr);
  return listing.problems.empty() ? 0 : 1;
}

int UnpackCommand(const std::string& imagePath, const std::string& outputDir, const BatchPrinting& printing) {
  BatchProgress progress(1, printing.progressBar);
  PrintingSink sink(progress, FindBatchFiles({imagePath}), printing.nullSeparated);
  sink.Start(0, imagePath);
  const bool whole = RunUnpack(imagePath, outputDir, sink);
  progress.Finish();
  return whole ? 0 : 1;
}

int MakeDemoCommand(const std::string& path, bool disc) {
  // The folders it goes in are made, as convert makes its output folder; a
  // failure is told as convert tells one: the file and the system's words.
  const auto tell = [](const std::string& name, const std::string& cause) {
    const std::string line = EscapedName(name) + ": " + cause + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return 1;
  };
  const std::filesystem::path folder = platform::PathFromUtf8(path).parent_path();
  if (!folder.empty()) {
    const std::string failure = platform::MakeFolders(platform::Utf8FromPath(folder));
    if (!failure.empty()) return tell(platform::Utf8FromPath(folder), failure);
  }
  ByteFile file;
  try {
    file.Open(path, ByteFile::Mode::kCreate);
    if (disc) {
      const std::vector<unsigned char> image = DemoDiscBytes();
      file.Write(image.data(), image.size());
    } else {
      WriteDemoStream(DemoStreamOptions{}, file);
    }
    file.Close();
  } catch (const CommandError& error) {
    file.CloseQuietly();
    return tell(error.path().empty() ? path : error.path(), ErrorCause(error));
  }
  return 0;
}

}  // namespace morvane
