#include "web/sound_envelope.h"

#include <algorithm>

namespace morvane {

void SoundEnvelope::Add(const unsigned char* pcm, std::size_t bytes, int channels) {
  for (std::size_t at = 0; at < bytes; ++at) {
    // A sample may straddle two pieces.
    if (!pendingByte_) {
      firstByte_ = pcm[at];
      pendingByte_ = true;
      continue;
    }
    pendingByte_ = false;
    const auto sample = static_cast<std::int16_t>(firstByte_ | pcm[at] << 8);
    if (framesInColumn_ == 0 && channel_ == 0) low_ = high_ = sample;
    low_ = std::min(low_, sample);
    high_ = std::max(high_, sample);
    if (++channel_ < channels) continue;
    channel_ = 0;
    if (++framesInColumn_ == framesPerColumn_) CloseColumn();
  }
}

void SoundEnvelope::CloseColumn() {
  columns_.push_back(low_);
  columns_.push_back(high_);
  framesInColumn_ = 0;
  if (columns_.size() < 4 * kColumns) return;
  for (std::size_t column = 0; column < columns_.size() / 4; ++column) {
    columns_[2 * column] = std::min(columns_[4 * column], columns_[4 * column + 2]);
    columns_[2 * column + 1] = std::max(columns_[4 * column + 1], columns_[4 * column + 3]);
  }
  columns_.resize(columns_.size() / 2);
  framesPerColumn_ *= 2;
}

std::vector<std::int16_t> SoundEnvelope::Columns() const {
  std::vector<std::int16_t> columns = columns_;
  if (framesInColumn_ > 0) {
    columns.push_back(low_);
    columns.push_back(high_);
  }
  return columns;
}

}  // namespace morvane
