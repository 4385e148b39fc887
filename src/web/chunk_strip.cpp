#include "web/chunk_strip.h"

#include <algorithm>

#include "core/support.h"

namespace morvane {

namespace {

ChunkStrip::Kind KindOf(const unsigned char* id) {
  if (IsId(id, "SNDS") || IsId(id, "SSND")) return ChunkStrip::kSound;
  if (IsId(id, "FILM")) return ChunkStrip::kFilm;
  return ChunkStrip::kOther;
}

}  // namespace

ChunkStrip::ChunkStrip(std::int64_t fileSize)
    : fileSize_(std::max<std::int64_t>(fileSize, 1)), bytes_(kCells) {}

void ChunkStrip::Add(const unsigned char* id, std::int64_t start, std::int64_t size) {
  const Kind kind = KindOf(id);
  const auto cells = static_cast<std::int64_t>(kCells);
  // Counted in units of 1/kCells of a byte, so that every cell holds the same
  // number of them (the file's size), however small the file. A chunk that
  // claims more than the file holds is drawn as far as the file goes.
  std::int64_t from = std::clamp<std::int64_t>(start, 0, fileSize_) * cells;
  const std::int64_t end =
      std::clamp<std::int64_t>(start + std::max<std::int64_t>(size, 0), 0, fileSize_) * cells;
  empty_ = false;
  while (from < end) {
    const std::int64_t cell = from / fileSize_;
    const std::int64_t cellEnd = std::min(end, (cell + 1) * fileSize_);
    bytes_[static_cast<std::size_t>(cell)][kind] += cellEnd - from;
    from = cellEnd;
  }
}

std::vector<unsigned char> ChunkStrip::Shares() const {
  std::vector<unsigned char> shares;
  shares.reserve(kCells * kKinds);
  for (const auto& cell : bytes_) {
    for (std::int64_t units : cell)
      shares.push_back(static_cast<unsigned char>(std::min<std::int64_t>(255, units * 255 / fileSize_)));
  }
  return shares;
}

}  // namespace morvane
