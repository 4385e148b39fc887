#include "commands/batch_inputs.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <string_view>
#include <system_error>

#include "analysis/map_file.h"
#include "core/platform.h"
#include "demux/sound_output.h"

namespace morvane {

namespace {

namespace fs = std::filesystem;

// What a run writes after a stream's name: a number and one of these, or
// the map's suffix alone.
constexpr std::string_view kNumberedSuffixes[] = {kSoundSuffix, kWavSuffix, kMovieSuffix, kWebMovieSuffix};

bool EndsWith(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class Finder {
 public:
  FoundFiles Find(const std::vector<std::string>& given) {
    for (const std::string& path : given) {
      const fs::path native = platform::PathFromUtf8(path);
      std::error_code error;
      const fs::file_status status = fs::status(native, error);
      if (fs::is_directory(status)) {
        Walk(native, platform::Utf8FromPath(native.filename()));
      } else {
        // Anything else goes to the batch as it is, which says what it is.
        Add(native, {});
      }
    }
    return std::move(found_);
  }

 private:
  void Walk(const fs::path& folder, const std::string& place) {
    std::error_code error;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
      entries.push_back(*it);
    if (error) {
      found_.problems.emplace_back(platform::Utf8FromPath(folder), error.message());
      return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
    std::set<std::string> names;
    for (const fs::directory_entry& entry : entries)
      names.insert(platform::Utf8FromPath(entry.path().filename()));
    for (const fs::directory_entry& entry : entries) {
      const std::string name = platform::Utf8FromPath(entry.path().filename());
      if (name.front() == '.' || IsOutputOfAStream(name, names)) continue;
      std::error_code kind;
      if (entry.is_symlink(kind) && entry.is_directory(kind)) continue;
      if (entry.is_directory(kind)) {
        Walk(entry.path(), place + "/" + name);
      } else if (entry.is_regular_file(kind)) {
        Add(entry.path(), place);
      }
    }
  }

  void Add(const fs::path& path, const std::string& place) {
    const std::string utf8 = platform::Utf8FromPath(path);
    if (!seen_.insert(platform::NameKey(platform::ResolvedPath(utf8))).second) return;
    FoundFile file;
    file.path = utf8;
    file.folder = platform::Utf8FromPath(path.has_parent_path() ? path.parent_path() : fs::path("."));
    file.placeBelow = place;
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    file.size = error ? 0 : static_cast<std::int64_t>(size);
    found_.files.push_back(std::move(file));
  }

  FoundFiles found_;
  std::set<std::string> seen_;
};

}  // namespace

bool IsOutputOfAStream(const std::string& name, const std::set<std::string>& names) {
  const std::string_view map = kMapSuffix;
  if (EndsWith(name, map) && names.count(name.substr(0, name.size() - map.size())) > 0) return true;
  for (const std::string_view suffix : kNumberedSuffixes) {
    if (!EndsWith(name, suffix)) continue;
    // The stream's own name may end in digits too: every split is tried.
    const std::size_t end = name.size() - suffix.size();
    for (std::size_t start = end; start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9'; --start) {
      if (start - 1 > 0 && names.count(name.substr(0, start - 1)) > 0) return true;
    }
  }
  return false;
}

FoundFiles FindBatchFiles(const std::vector<std::string>& given) { return Finder().Find(given); }

bool NeedsOutputFolder(const FoundFiles& found, const FolderCheck& canWrite) {
  return std::any_of(found.files.begin(), found.files.end(),
                     [&](const FoundFile& file) { return !canWrite(file.folder); });
}

std::vector<BatchRun> PlanBatchRuns(const FoundFiles& found, const FolderCheck& canWrite,
                                    const std::string& outputFolder) {
  std::map<std::string, bool> writable;
  std::vector<BatchRun> runs;
  for (const FoundFile& file : found.files) {
    const auto [known, added] = writable.emplace(file.folder, false);
    if (added) known->second = canWrite(file.folder);
    std::optional<std::string> outputDir;
    if (!known->second && file.placeBelow.empty()) {
      outputDir = outputFolder;
    } else if (!known->second) {
      fs::path below = platform::PathFromUtf8(file.placeBelow).relative_path();
      outputDir = platform::Utf8FromPath(platform::PathFromUtf8(outputFolder) / below.make_preferred());
    }
    if (runs.empty() || runs.back().outputDir != outputDir) runs.push_back({outputDir, {}});
    runs.back().paths.push_back(file.path);
  }
  return runs;
}

RunsResult RunConvertRuns(const std::vector<BatchRun>& runs, ConvertSettings settings, BatchSink& sink) {
  RunsResult all;
  all.whole = true;
  for (const BatchRun& run : runs) {
    settings.outputDir = run.outputDir;
    const BatchResult result = RunConvert(run.paths, settings, sink);
    if (result.refusal) all.refusals.push_back(*result.refusal);
    all.whole = all.whole && result.whole;
    if (result.stopped) {
      all.stopped = true;
      break;
    }
  }
  return all;
}

}  // namespace morvane
