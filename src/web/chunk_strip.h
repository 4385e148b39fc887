#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvane {

// The strip picture of a file: it cut into kCells equal cells, and for each
// how much of it the sound chunks, the film chunks and the other chunks
// take, as the walk meets them.
class ChunkStrip {
 public:
  static constexpr std::size_t kCells = 400;
  enum Kind { kSound, kFilm, kOther, kKinds };

  explicit ChunkStrip(std::int64_t fileSize);
  void Add(const unsigned char* id, std::int64_t start, std::int64_t size);
  // Each cell's share of every kind, 0 to 255, kind by kind: sound, film,
  // other, then the next cell.
  std::vector<unsigned char> Shares() const;
  bool Empty() const { return empty_; }

 private:
  std::int64_t fileSize_;
  std::vector<std::array<std::int64_t, kKinds>> bytes_;  // of each kind in each cell
  bool empty_ = true;
};

}  // namespace morvane
