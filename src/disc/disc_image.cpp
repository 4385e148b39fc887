#include "disc/disc_image.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/errors.h"
#include "core/platform.h"
#include "core/support.h"
#include "disc/cue_sheet.h"

namespace morvane {

namespace {

using namespace disc;

// The longest cue sheet read: a few lines a track, 99 tracks.
constexpr std::int64_t kLongestCueSheet = 1024 * 1024;
constexpr unsigned char kSync[kSyncSize] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
constexpr std::size_t kHeadSize = kDiscImageHeadSize;

std::string TrackName(int number) {
  std::string digits = std::to_string(number);
  if (digits.size() < 2) digits.insert(0, 2 - digits.size(), '0');
  return "track " + digits;
}

// The first bytes of a file, as many as it has up to kHeadSize.
std::size_t ReadHead(const std::string& path, unsigned char* head) {
  ByteFile file;
  file.Open(path, ByteFile::Mode::kRead);
  const auto count = static_cast<std::size_t>(std::min<std::int64_t>(file.Size(), kHeadSize));
  file.Read(head, count);
  return count;
}

bool IsRawSector(const unsigned char* head, std::size_t count) {
  return count >= kSyncSize && std::memcmp(head, kSync, kSyncSize) == 0;
}

std::string ReadText(const std::string& path) {
  ByteFile file;
  file.Open(path, ByteFile::Mode::kRead);
  if (file.Size() > kLongestCueSheet) throw CommandError(kNoFileCode, "too long for a cue sheet");
  std::string text(static_cast<std::size_t>(file.Size()), '\0');
  if (!text.empty()) file.Read(text.data(), text.size());
  return text;
}

}  // namespace

std::vector<DiscFile> Disc::FilesInDiscOrder() const {
  std::vector<DiscFile> files = tree_.files;
  std::stable_sort(files.begin(), files.end(),
                   [](const DiscFile& a, const DiscFile& b) { return a.firstBlock < b.firstBlock; });
  return files;
}

InputSource Disc::SourceOf(const DiscFile& file) const {
  FileRange range = data_;
  range.start = file.firstBlock * kBlockSize;
  range.length = file.size;
  return InputSource(NameOf(file.path), range);
}

std::string Disc::NameOf(const std::string& discPath) const {
  return discPath.empty() ? imagePath_ : imagePath_ + "/" + discPath;
}

Disc ReadDisc(const std::string& imagePath) {
  Disc disc;
  disc.imagePath_ = imagePath;
  const auto problem = [&](const std::string& text) { disc.problems_.emplace_back(imagePath, text); };
  try {
    if (IsCueSheetName(imagePath)) {
      const std::string folder = platform::Utf8FromPath(platform::PathFromUtf8(imagePath).parent_path());
      const CueSheet sheet = ParseCueSheet(ReadText(imagePath), folder);
      for (const std::string& line : sheet.problems) problem(line);
      if (sheet.tracks.empty()) problem("the cue sheet names no track");
      std::vector<std::int64_t> fileSizes;
      for (const CueFile& file : sheet.files) {
        std::int64_t size = -1;
        if (!platform::FileSizeByName(file.path, size)) size = -1;
        fileSizes.push_back(size);
      }
      // Where each track's first index lies in its file, in bytes: each
      // track's sectors run at its own size from its first index on.
      std::vector<std::int64_t> startByte(sheet.tracks.size(), 0);
      for (std::size_t i = 0; i < sheet.tracks.size(); ++i) {
        const CueTrack& track = sheet.tracks[i];
        const std::int64_t frame = track.index0.value_or(track.index1.value_or(0));
        if (i > 0 && sheet.tracks[i - 1].file == track.file) {
          const CueTrack& before = sheet.tracks[i - 1];
          const std::int64_t beforeFrame = before.index0.value_or(before.index1.value_or(0));
          startByte[i] = startByte[i - 1] + (frame - beforeFrame) * SectorSizeOfMode(before.mode);
        } else {
          startByte[i] = frame * SectorSizeOfMode(track.mode);
        }
      }
      bool dataFound = false;
      for (std::size_t i = 0; i < sheet.tracks.size(); ++i) {
        const CueTrack& track = sheet.tracks[i];
        const CueFile& file = sheet.files[track.file];
        const std::int64_t sectorSize = SectorSizeOfMode(track.mode);
        const std::int64_t firstFrame = track.index0.value_or(track.index1.value_or(0));
        const std::int64_t begin =
            startByte[i] + (track.index1.value_or(firstFrame) - firstFrame) * sectorSize;
        const bool nextInFile = i + 1 < sheet.tracks.size() && sheet.tracks[i + 1].file == track.file;
        const std::int64_t fileSize = fileSizes[track.file];
        const std::int64_t end = nextInFile ? startByte[i + 1] : std::max<std::int64_t>(fileSize, begin);
        const std::string name = TrackName(track.number);
        if (fileSize < 0) {
          problem(name + ": its file " + EscapedName(file.path) + " can't be read; passed over");
          continue;
        }
        if (!track.index1) problem(name + ": no INDEX 01; it is taken to begin with its file's first sector");
        if (begin > fileSize) {
          problem(name + ": it begins past its file's end; passed over");
          continue;
        }
        if (track.mode == "AUDIO") {
          if (file.type != "BINARY" && file.type != "MOTOROLA") {
            problem(name + ": its file is of type " + file.type +
                    ", which this tool does not read; passed over");
            continue;
          }
          AudioTrack audio;
          audio.number = track.number;
          audio.range.container = file.path;
          audio.range.start = begin;
          audio.range.length = std::max<std::int64_t>(end - begin, 0);
          audio.bigEndian = file.type == "MOTOROLA";
          disc.tracks_.push_back(audio);
        } else if ((track.mode == "MODE1/2048" || track.mode == "MODE1/2352") && !dataFound) {
          dataFound = true;
          disc.hasData_ = true;
          disc.data_.container = file.path;
          disc.data_.base = begin;
          const std::int64_t sectors = (end - begin) / sectorSize;
          if (sectorSize == kRawSectorSize) {
            disc.data_.sectorSize = kRawSectorSize;
            disc.data_.sectorDataOffset = kRawDataOffset;
            disc.data_.sectorData = static_cast<std::int32_t>(kBlockSize);
          }
          disc.data_.length = nextInFile ? sectors * kBlockSize : std::numeric_limits<std::int32_t>::max();
        } else {
          problem(name + ": a " + (track.mode.empty() ? std::string("track without a mode") : track.mode) +
                  " track, which this tool does not read; passed over");
        }
      }
    } else {
      unsigned char head[kHeadSize];
      const std::size_t count = ReadHead(imagePath, head);
      disc.hasData_ = true;
      disc.data_.container = imagePath;
      disc.data_.length = std::numeric_limits<std::int32_t>::max();
      if (IsRawSector(head, count)) {
        if (count > kModeOffset && head[kModeOffset] != 1) {
          problem("raw sectors of mode " + std::to_string(head[kModeOffset]) +
                  ", which this tool does not read (only mode 1)");
          disc.hasData_ = false;
        }
        disc.data_.sectorSize = kRawSectorSize;
        disc.data_.sectorDataOffset = kRawDataOffset;
        disc.data_.sectorData = static_cast<std::int32_t>(kBlockSize);
      }
    }
    if (disc.hasData_) {
      ByteFile data;
      data.Open(InputSource(imagePath, disc.data_));
      disc.tree_ = WalkDisc(data);
      for (const auto& [path, text] : disc.tree_.problems)
        disc.problems_.emplace_back(disc.NameOf(path), text);
    }
  } catch (const CommandError& error) {
    problem(error.path().empty() || error.path() == imagePath
                ? ErrorCause(error)
                : EscapedName(error.path()) + ": " + ErrorCause(error));
  }
  return disc;
}

bool IsDiscImageStart(const std::string& path, const unsigned char* head, std::size_t count) {
  if (IsCueSheetName(path)) return true;
  if (count >= kBlockSize && IsVolumeHeader(head)) return true;
  return count >= kHeadSize && IsRawSector(head, count) && IsVolumeHeader(head + kRawDataOffset);
}

bool IsDiscImage(const std::string& path) {
  if (IsCueSheetName(path)) return true;
  try {
    unsigned char head[kHeadSize];
    return IsDiscImageStart(path, head, ReadHead(path, head));
  } catch (const CommandError&) {
    return false;
  }
}

std::vector<std::string> FilesOfCueSheet(const std::string& path) {
  std::vector<std::string> files;
  if (!IsCueSheetName(path)) return files;
  try {
    const std::string folder = platform::Utf8FromPath(platform::PathFromUtf8(path).parent_path());
    for (const CueFile& file : ParseCueSheet(ReadText(path), folder).files) files.push_back(file.path);
  } catch (const CommandError&) {
  }
  return files;
}

std::int64_t DiscImageBytes(const std::string& path) {
  std::int64_t total = 0;
  std::vector<std::string> files = IsCueSheetName(path) ? FilesOfCueSheet(path) : std::vector{path};
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  for (const std::string& file : files) {
    std::int64_t size = 0;
    if (platform::FileSizeByName(file, size)) total += size;
  }
  return total;
}

std::string DiscFolderName(const std::string& imagePath) {
  const std::filesystem::path name = platform::PathFromUtf8(imagePath).filename();
  const std::string stem = platform::Utf8FromPath(name.stem());
  // "...iso" would name the folder above: such a name keeps its extension.
  if (!name.has_extension() || stem.find_first_not_of('.') == std::string::npos)
    return platform::Utf8FromPath(name) + ".files";
  return stem;
}

}  // namespace morvane
