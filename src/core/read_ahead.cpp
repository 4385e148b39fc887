#include "core/read_ahead.h"

#include <algorithm>

namespace morvane {

void ReadAhead::Moved(std::int64_t from, std::int64_t to) {
  const std::int64_t run = from - runStart_;
  runStart_ = to;
  if (to < from) {
    // A move back starts a new walk: nothing seen so far tells its shape.
    recentMove_ = kFarMoves;
    next_ = kSmallRead;
    return;
  }
  // A quarter of each new move, counted at most as a far move, so that one
  // far move in a stretch of near ones does not turn the road, one near move
  // among far ones neither, and a new stretch turns it within a few moves.
  recentMove_ = (3 * recentMove_ + std::min(to - from, kFarMoves)) / 4;
  if (recentMove_ <= kNearMove) {
    next_ = kLargeBlock;
  } else {
    // The run that follows a far move is most likely as long as the one
    // before it, and never less than the small first read.
    next_ = static_cast<std::size_t>(std::clamp<std::int64_t>(run, kSmallRead, kLargeBlock));
  }
}

std::size_t ReadAhead::Fill(std::int64_t position, std::size_t count, std::int64_t size) {
  std::size_t amount = next_;
  // Nothing lies past the end to bring in; a read that wants more than is
  // left still asks for all it wants, and learns of the end from the file.
  const std::int64_t left = size - position;
  if (left < static_cast<std::int64_t>(amount))
    amount = static_cast<std::size_t>(std::max<std::int64_t>(left, 0));
  amount = std::max(amount, count);
  next_ = std::min(2 * next_, kLargeBlock);
  return amount;
}

}  // namespace morvane
