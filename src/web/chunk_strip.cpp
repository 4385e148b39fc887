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

std::int64_t ChunkStrip::CellStart(std::int64_t cell) const {
  const auto cells = static_cast<std::int64_t>(kCells);
  return (cell * fileSize_ + cells - 1) / cells;
}

ChunkStrip::ChunkStrip(std::int64_t fileSize)
    : fileSize_(std::max<std::int64_t>(fileSize, 1)), bytes_(kCells) {}

void ChunkStrip::Add(const unsigned char* id, std::int64_t start, std::int64_t size) {
  const Kind kind = KindOf(id);
  // A chunk that claims more than the file holds is drawn as far as the file goes.
  std::int64_t from = std::clamp<std::int64_t>(start, 0, fileSize_);
  const std::int64_t end = std::clamp<std::int64_t>(start + std::max<std::int64_t>(size, 0), from, fileSize_);
  empty_ = false;
  while (from < end) {
    const std::int64_t cell = from * static_cast<std::int64_t>(kCells) / fileSize_;
    const std::int64_t cellEnd = std::min(end, CellStart(cell + 1));
    bytes_[static_cast<std::size_t>(cell)][kind] += cellEnd - from;
    from = cellEnd;
  }
}

std::vector<unsigned char> ChunkStrip::Shares() const {
  std::vector<unsigned char> shares;
  shares.reserve(kCells * kKinds);
  for (std::size_t cell = 0; cell < kCells; ++cell) {
    const auto index = static_cast<std::int64_t>(cell);
    const std::int64_t cellBytes = std::max<std::int64_t>(CellStart(index + 1) - CellStart(index), 1);
    for (std::int64_t bytes : bytes_[cell])
      shares.push_back(static_cast<unsigned char>(std::min<std::int64_t>(255, bytes * 255 / cellBytes)));
  }
  return shares;
}

}  // namespace morvane
