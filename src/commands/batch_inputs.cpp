#include "commands/batch_inputs.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <string_view>
#include <system_error>

#include "analysis/map_file.h"
#include "core/platform.h"
#include "demux/sound_output.h"
#include "disc/disc_image.h"

namespace morvane {

namespace {

namespace fs = std::filesystem;

// How every name a run writes ends.
constexpr std::string_view kOutputSuffixes[] = {kMapSuffix,   kSoundSuffix,  kWavSuffix,
                                                kMovieSuffix, kPosterSuffix, kWebMovieSuffix};

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
    ReadThroughSheets();
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
    for (const fs::directory_entry& entry : entries) {
      const std::string name = platform::Utf8FromPath(entry.path().filename());
      if (WalkPassesOver(name)) continue;
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

  // The files a cue sheet found names are read through it alone: the sheet
  // stands for their bytes.
  void ReadThroughSheets() {
    std::set<std::string> sheetFiles;
    for (FoundFile& file : found_.files) {
      const std::vector<std::string> named = FilesOfCueSheet(file.path);
      if (named.empty()) continue;
      for (const std::string& path : named)
        sheetFiles.insert(platform::NameKey(platform::ResolvedPath(path)));
      file.size = DiscImageBytes(file.path);
    }
    if (sheetFiles.empty()) return;
    found_.files.erase(
        std::remove_if(found_.files.begin(), found_.files.end(),
                       [&](const FoundFile& file) {
                         return sheetFiles.count(platform::NameKey(platform::ResolvedPath(file.path))) > 0;
                       }),
        found_.files.end());
  }

  FoundFiles found_;
  std::set<std::string> seen_;
};

}  // namespace

bool WalkPassesOver(const std::string& name) {
  if (name.empty() || name.front() == '.') return true;
  return std::any_of(std::begin(kOutputSuffixes), std::end(kOutputSuffixes),
                     [&](std::string_view suffix) { return EndsWith(name, suffix); });
}

bool WalkPassesOverPlace(const std::string& place) {
  // The first part is the folder given itself, which the walk never judges.
  for (std::size_t start = place.find('/'); start != std::string::npos;) {
    const std::size_t end = place.find('/', start + 1);
    const std::string name = place.substr(start + 1, end == std::string::npos ? end : end - start - 1);
    if (WalkPassesOver(name)) return true;
    start = end;
  }
  return false;
}

FoundFiles FindBatchFiles(const std::vector<std::string>& given) { return Finder().Find(given); }

bool NeedsOutputFolder(const FoundFiles& found, const FolderCheck& canWrite) {
  return std::any_of(found.files.begin(), found.files.end(),
                     [&](const FoundFile& file) { return !canWrite(file.folder); });
}

std::vector<ConvertInput> PlanBatchInputs(const FoundFiles& found, const FolderCheck& canWrite,
                                          const std::string& outputFolder) {
  std::map<std::string, bool> writable;
  std::vector<ConvertInput> inputs;
  for (const FoundFile& file : found.files) {
    const auto [known, added] = writable.emplace(file.folder, false);
    if (added) known->second = canWrite(file.folder);
    ConvertInput input{file.path, std::nullopt, file.Named()};
    if (!known->second && file.Named()) {
      input.outputDir = outputFolder;
    } else if (!known->second) {
      fs::path below = platform::PathFromUtf8(file.placeBelow).relative_path();
      input.outputDir = platform::Utf8FromPath(platform::PathFromUtf8(outputFolder) / below.make_preferred());
    }
    inputs.push_back(std::move(input));
  }
  return inputs;
}

BatchBytes::BatchBytes(const FoundFiles& found) {
  for (const FoundFile& file : found.files) {
    startOf_.emplace(file.path, total_);
    total_ += file.size;
  }
}

void BatchBytes::Start(const std::string& path) {
  if (const auto at = startOf_.find(path); at != startOf_.end()) before_ = at->second;
}

std::int64_t BatchBytes::Position(std::int64_t done, std::int64_t range) const {
  if (total_ <= 0) return range;
  // Sizes may have changed since the walk: the position never leaves the range.
  const std::int64_t position = (before_ + std::max<std::int64_t>(done, 0)) * range / total_;
  return std::min(position, range);
}

}  // namespace morvane
