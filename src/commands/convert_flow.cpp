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
// its base name in the output folder.
std::string OutputBase(const std::string& path, const std::optional<std::string>& outputDir) {
  if (!outputDir) return path;
  return platform::Utf8FromPath(platform::PathFromUtf8(*outputDir) / platform::PathFromUtf8(path).filename());
}

}  // namespace

bool ConvertInput(const InputSource& source, const std::string& base, const ConvertSettings& settings,
                  ConvertSink& sink) {
  const std::string& path = source.path;
  ByteFile input;
  try {
    input.Open(source);
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
  if (settings.map && !WriteMap(source, base + kMapSuffix, sink)) whole = false;
  DemuxOptions options;
  options.outputBase = base;
  options.keepSound = settings.keepSound;
  options.movies = settings.movies;
  if (settings.rateText) options.rate = ParseLeadingInt(*settings.rateText);
  if (!DemuxFile(source, options, sink)) whole = false;
  return whole;
}

namespace {

// The folder a disc's outputs go in: NAME beside the image, or in the
// output folder.
std::string DiscOutputFolder(const std::string& path, const std::optional<std::string>& outputDir) {
  const std::filesystem::path folder =
      outputDir ? platform::PathFromUtf8(*outputDir) : platform::PathFromUtf8(path).parent_path();
  return platform::Utf8FromPath(folder / platform::PathFromUtf8(DiscFolderName(path)));
}

// A file that a cue sheet among the inputs names: read through the sheet.
bool ReadThroughASheet(const std::string& path, const std::set<std::string>& sheetFiles) {
  return sheetFiles.count(platform::NameKey(platform::ResolvedPath(path))) > 0;
}

}  // namespace

BatchResult RunConvert(const std::vector<std::string>& paths, const ConvertSettings& settings,
                       BatchSink& sink) {
  BatchResult result;
  std::set<std::string> sheetFiles;
  for (const std::string& path : paths) {
    for (const std::string& file : FilesOfCueSheet(path))
      sheetFiles.insert(platform::NameKey(platform::ResolvedPath(file)));
  }
  // Outputs that would share names: refused before anything is written.
  std::map<std::string, std::string> firstInputOf;
  std::vector<std::string> inputs, bases;
  std::vector<bool> images;
  for (const std::string& path : paths) {
    if (ReadThroughASheet(path, sheetFiles)) continue;
    inputs.push_back(path);
    images.push_back(IsDiscImage(path));
    bases.push_back(images.back() ? DiscOutputFolder(path, settings.outputDir)
                                  : OutputBase(path, settings.outputDir));
    // A disc's folder and a stream's outputs of the same name stand apart.
    const std::string key =
        platform::NameKey(platform::ResolvedPath(bases.back())) + (images.back() ? "/" : "");
    const auto [first, added] = firstInputOf.emplace(key, path);
    if (!added) {
      result.refusal = EscapedName(first->second) + " and " + EscapedName(path) +
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
  for (std::size_t index = 0; index < inputs.size(); ++index) {
    if (sink.StopRequested()) {
      result.stopped = true;
      result.whole = false;
      break;
    }
    sink.Start(index, inputs[index]);
    const bool whole = images[index] ? ConvertDisc(inputs[index], bases[index], settings, sink)
                                     : ConvertInput(inputs[index], bases[index], settings, sink);
    if (!whole) result.whole = false;
  }
  return result;
}

}  // namespace morvane
