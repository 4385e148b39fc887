#include "commands/convert_flow.h"

#include <filesystem>
#include <map>
#include <set>

#include "analysis/chunk_stream.h"
#include "analysis/map_file.h"
#include "commands/console_window.h"
#include "commands/disc_flow.h"
#include "core/errors.h"
#include "core/platform.h"
#include "core/shared_state.h"
#include "core/support.h"
#include "demux/stream_demux.h"

namespace morvane {

namespace {

// The map of a stream as Analyze File writes it, under the name given.
bool WriteMap(const InputSource& path, const std::string& mapPath, ConvertSink& sink) {
  SharedState state;
  ConsoleWindow window([&](const std::string& text) { sink.Tell(mapPath, text); });
  try {
    state.InputFile.Open(path);
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
// its base name in its output folder.
std::string OutputBase(const ConvertInput& input) {
  if (!input.outputDir) return input.path;
  return platform::Utf8FromPath(platform::PathFromUtf8(*input.outputDir) /
                                platform::PathFromUtf8(input.path).filename());
}

}  // namespace

bool ConvertSource(const InputSource& source, const std::string& base, const ConvertSettings& settings,
                   ConvertSink& sink) {
  bool whole = true;
  if (settings.map && !WriteMap(source, base + kMapSuffix, sink)) whole = false;
  DemuxOptions options;
  options.outputBase = base;
  options.keepSound = settings.keepSound;
  options.movies = settings.movies;
  options.webm = settings.webm;
  options.allTracks = settings.allTracks;
  options.shareFilm = settings.shareFilm;
  options.posters = settings.posters;
  if (settings.rateText) options.rate = ParseLeadingInt(*settings.rateText);
  if (!DemuxFile(source, options, sink)) whole = false;
  return whole;
}

namespace {

// One input of a batch. Gives true when all of it was converted whole, or
// when it was passed over as no stream met in a folder (`passedOver` set).
bool ConvertOne(const ConvertInput& given, const std::string& base, const ConvertSettings& settings,
                ConvertSink& sink, bool& passedOver) {
  ByteFile input;
  try {
    input.Open(given.path, ByteFile::Mode::kRead);
    if (KindOfInput(input) == InputKind::kNotAStream) {
      passedOver = !given.named;
      if (passedOver) return true;
      sink.Tell(given.path, "not a chunk stream; skipped");
      return false;
    }
    input.Close();
  } catch (const CommandError& error) {
    sink.Tell(given.path, ErrorCause(error));
    return false;
  }
  if (given.outputDir && given.outputDir != settings.outputDir) {
    const std::string failure = platform::MakeFolders(*given.outputDir);
    if (!failure.empty()) {
      sink.Tell(*given.outputDir, failure + "; " + EscapedName(given.path) + " not converted");
      return false;
    }
  }
  return ConvertSource(given.path, base, settings, sink);
}

// The folder a disc's outputs go in: NAME beside the image, or in its
// output folder.
std::string DiscOutputFolder(const ConvertInput& input) {
  const std::filesystem::path folder = input.outputDir ? platform::PathFromUtf8(*input.outputDir)
                                                       : platform::PathFromUtf8(input.path).parent_path();
  return platform::Utf8FromPath(folder / platform::PathFromUtf8(DiscFolderName(input.path)));
}

}  // namespace

BatchResult RunConvert(const std::vector<ConvertInput>& inputs, const ConvertSettings& settings,
                       BatchSink& sink) {
  BatchResult result;
  // The files a cue sheet among the inputs names are read through it alone.
  std::set<std::string> sheetFiles;
  for (const ConvertInput& input : inputs) {
    for (const std::string& file : FilesOfCueSheet(input.path))
      sheetFiles.insert(platform::NameKey(platform::ResolvedPath(file)));
  }
  // Outputs that would share names: refused before anything is written.
  std::map<std::string, std::string> firstInputOf;
  std::vector<ConvertInput> kept;
  std::vector<std::string> bases;
  std::vector<bool> images;
  for (const ConvertInput& input : inputs) {
    if (sheetFiles.count(platform::NameKey(platform::ResolvedPath(input.path))) > 0) continue;
    kept.push_back(input);
    images.push_back(IsDiscImage(input.path));
    bases.push_back(images.back() ? DiscOutputFolder(input) : OutputBase(input));
    // A disc's folder and a stream's outputs of the same name stand apart.
    const std::string key =
        platform::NameKey(platform::ResolvedPath(bases.back())) + (images.back() ? "/" : "");
    const auto [first, added] = firstInputOf.emplace(key, input.path);
    if (!added) {
      result.refusal = EscapedName(first->second) + " and " + EscapedName(input.path) +
                       " would write the same files (" + EscapedName(bases.back()) + "...); nothing written";
      result.clash = true;
      return result;
    }
  }
  if (settings.outputDir) {
    const std::string failure = platform::MakeFolders(*settings.outputDir);
    if (!failure.empty()) {
      result.refusal = EscapedName(*settings.outputDir) + ": " + failure + "; nothing written";
      return result;
    }
  }
  result.whole = true;
  for (std::size_t index = 0; index < kept.size(); ++index) {
    if (sink.StopRequested()) {
      result.stopped = true;
      result.whole = false;
      break;
    }
    sink.Start(index, kept[index].path);
    bool passedOver = false;
    if (images[index]) {
      const DiscConversion disc = ConvertDisc(kept[index].path, bases[index], settings, sink);
      if (!disc.whole) result.whole = false;
      if (disc.stopped) {
        result.stopped = true;
        break;
      }
    } else if (!ConvertOne(kept[index], bases[index], settings, sink, passedOver)) {
      result.whole = false;
    }
    if (passedOver) ++result.passedOver;
  }
  return result;
}

BatchResult RunConvert(const std::vector<std::string>& paths, const ConvertSettings& settings,
                       BatchSink& sink) {
  std::vector<ConvertInput> inputs;
  for (const std::string& path : paths) inputs.push_back({path, settings.outputDir, true});
  return RunConvert(inputs, settings, sink);
}

}  // namespace morvane
