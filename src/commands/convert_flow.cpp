#include "commands/convert_flow.h"

#include <map>

#include "analysis/chunk_stream.h"
#include "analysis/map_file.h"
#include "commands/console_window.h"
#include "core/errors.h"
#include "core/platform.h"
#include "core/shared_state.h"
#include "core/support.h"
#include "demux/stream_demux.h"

namespace morvane {

namespace {

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
                ConvertSink& sink) {
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
  options.movies = settings.movies;
  options.webm = settings.webm;
  options.allTracks = settings.allTracks;
  options.shareFilm = settings.shareFilm;
  options.posters = settings.posters;
  if (settings.rateText) options.rate = ParseLeadingInt(*settings.rateText);
  if (!DemuxFile(path, options, sink)) whole = false;
  return whole;
}

}  // namespace

BatchResult RunConvert(const std::vector<std::string>& paths, const ConvertSettings& settings,
                       BatchSink& sink) {
  BatchResult result;
  // Outputs that would share names: refused before anything is written.
  std::map<std::string, std::string> firstInputOf;
  std::vector<std::string> bases;
  for (const std::string& path : paths) {
    bases.push_back(OutputBase(path, settings.outputDir));
    const std::string key = platform::NameKey(platform::ResolvedPath(bases.back()));
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
  for (std::size_t index = 0; index < paths.size(); ++index) {
    if (sink.StopRequested()) {
      result.stopped = true;
      result.whole = false;
      break;
    }
    sink.Start(index, paths[index]);
    if (!ConvertOne(paths[index], bases[index], settings, sink)) result.whole = false;
  }
  return result;
}

}  // namespace morvane
