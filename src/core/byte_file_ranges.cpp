#include <algorithm>

#include "core/byte_file.h"
#include "core/platform.h"

// A file read as a range of another: a disc's file inside its image, read
// straight or through the image's raw sectors.
namespace morvane {

namespace {
// Raw sectors read at once for a range read through its sectors.
constexpr std::int64_t kSectorRun = 128;
}  // namespace

void ByteFile::Open(const InputSource& source) {
  if (!source.range) {
    Open(source.path, Mode::kRead);
    return;
  }
  const FileRange& range = *source.range;
  Open(range.container, Mode::kRead);
  path_ = source.path;
  range_ = range;
  // What the container holds of the range: a cut image ends it early.
  std::int64_t data = knownSize_ - range.base;
  if (range.sectorSize > 0) {
    const std::int64_t whole = std::max<std::int64_t>(data, 0) / range.sectorSize;
    const std::int64_t partial = std::clamp<std::int64_t>(
        data - whole * range.sectorSize - range.sectorDataOffset, 0, range.sectorData);
    data = whole * range.sectorData + partial;
    const std::size_t room = kSectorRun * static_cast<std::size_t>(range.sectorSize);
    if (sectorsSize_ < room) {
      sectors_.reset(new unsigned char[room]);
      sectorsSize_ = room;
    }
  }
  knownSize_ = std::clamp<std::int64_t>(data - range.start, 0, range.length);
}

std::int64_t ByteFile::ReadAt(void* destination, std::size_t count, std::int64_t position, int& error) {
  if (!range_) return platform::ReadAt(handle_, destination, count, position, error);
  if (position >= knownSize_) return 0;
  count = static_cast<std::size_t>(
      std::min<std::int64_t>(static_cast<std::int64_t>(count), knownSize_ - position));
  if (range_->sectorSize == 0)
    return platform::ReadAt(handle_, destination, count, range_->base + range_->start + position, error);
  return ReadSectors(static_cast<unsigned char*>(destination), count, range_->start + position, error);
}

std::int64_t ByteFile::ReadSectors(unsigned char* destination, std::size_t count, std::int64_t position,
                                   int& error) {
  // A run of whole sectors is read at once and its data bytes taken out.
  const std::int64_t sectorSize = range_->sectorSize;
  const std::int64_t dataSize = range_->sectorData;
  std::size_t done = 0;
  while (done < count) {
    const std::int64_t at = position + static_cast<std::int64_t>(done);
    const std::int64_t within = at % dataSize;
    const std::int64_t wanted = within + static_cast<std::int64_t>(count - done);
    const std::int64_t sectors = std::min<std::int64_t>(kSectorRun, (wanted + dataSize - 1) / dataSize);
    const std::int64_t got =
        platform::ReadAt(handle_, sectors_.get(), static_cast<std::size_t>(sectors * sectorSize),
                         range_->base + at / dataSize * sectorSize, error);
    if (got < 0) return done > 0 ? static_cast<std::int64_t>(done) : -1;
    for (std::int64_t sector = 0; sector < sectors && done < count; ++sector) {
      const std::int64_t dataStart = sector * sectorSize + range_->sectorDataOffset;
      const std::int64_t from = dataStart + (sector == 0 ? within : 0);
      const std::int64_t end = std::min(dataStart + dataSize, got);
      const std::int64_t take = std::min<std::int64_t>(end - from, static_cast<std::int64_t>(count - done));
      // The container ended under the read.
      if (take <= 0) return static_cast<std::int64_t>(done);
      std::memcpy(destination + done, sectors_.get() + from, static_cast<std::size_t>(take));
      done += static_cast<std::size_t>(take);
    }
  }
  return static_cast<std::int64_t>(done);
}

}  // namespace morvane
