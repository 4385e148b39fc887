#pragma once

#include <cstddef>
#include <cstdint>

namespace morvane {

// How much the file layer asks the file for when a read finds its buffer
// empty. A reader either reads on, and each fill doubles the one before, or
// moves; the moves it made lately choose the road after a move. Where they
// were short (a walk over small chunks), one large block read at once serves
// the headers that follow from memory, which costs less than a system call
// per header. Where they were long, bringing in the bytes in between costs
// more than that call, so a small piece is read at each stop. The choice
// follows the moves, so a file that mixes both shapes gets the cheaper road
// in each stretch.
class ReadAhead {
 public:
  // The first read after a far move, and the first read of a file.
  static constexpr std::size_t kSmallRead = 64;
  // The block read after near moves; also the most a sequential fill takes.
  static constexpr std::size_t kLargeBlock = 256 * 1024;
  // Moves forward this short or shorter, on recent average, are near: a
  // system call costs about as much as copying this many bytes that were
  // going to be skipped.
  static constexpr std::int64_t kNearMove = 16 * 1024;

  // The read position went from `from` to `to`, whether the buffer held the
  // new position or not.
  void Moved(std::int64_t from, std::int64_t to);
  // A copy has taken the bytes up to the position straight from the file:
  // what follows it is most likely a few bytes, not another copy.
  void Copied() { next_ = kSmallRead; }
  // The bytes to ask for at `position` for a read of `count` bytes (at
  // least count, at most kLargeBlock unless count is more), in a file of
  // `size` bytes as far as known. Each call is one fill.
  std::size_t Fill(std::int64_t position, std::size_t count, std::int64_t size);

  // A walk is taken as far until its moves show otherwise: at the start of a
  // file and after a move back, as in the middle of far moves.
  static constexpr std::int64_t kFarMoves = 2 * kNearMove;

  // The recent forward moves' distance, on average, each counted as at most
  // kFarMoves.
  std::int64_t RecentMove() const { return recentMove_; }

 private:
  std::size_t next_ = kSmallRead;
  std::int64_t recentMove_ = kFarMoves;
  // Where the last move went: the start of the present run of reads.
  std::int64_t runStart_ = 0;
};

}  // namespace morvane
