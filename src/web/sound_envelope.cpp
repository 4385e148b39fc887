#include "web/sound_envelope.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace morvane {

namespace {

std::int16_t Sample(unsigned char low, unsigned char high) {
  return static_cast<std::int16_t>(low | high << 8);
}

}  // namespace

void SoundEnvelope::Add(const unsigned char* pcm, std::size_t bytes, int channels) {
  if (bytes == 0) return;
  if (pendingByte_) {
    // The sample that straddles the last piece and this one.
    pendingByte_ = false;
    Take(Sample(firstByte_, pcm[0]), 1, channels);
    ++pcm;
    --bytes;
  }
  const std::size_t samples = bytes / 2;
  for (std::size_t done = 0; done < samples;) {
    // The samples left in the present column, taken in one tight run.
    const auto room = static_cast<std::size_t>((framesPerColumn_ - framesInColumn_) * channels - channel_);
    const std::size_t run = std::min(room, samples - done);
    const unsigned char* at = pcm + 2 * done;
    std::int16_t low = sampled_ ? low_ : Sample(at[0], at[1]);
    std::int16_t high = sampled_ ? high_ : low;
    // The page's code runs little-endian: each sample is loaded as it
    // stands, so that the loop becomes vector minimums and maximums.
    static_assert(std::endian::native == std::endian::little);
    for (std::size_t i = 0; i < run; ++i) {
      std::int16_t sample;
      std::memcpy(&sample, at + 2 * i, 2);
      low = std::min(low, sample);
      high = std::max(high, sample);
    }
    low_ = low;
    high_ = high;
    sampled_ = true;
    done += run;
    Advance(run, channels);
  }
  if (bytes % 2 != 0) {
    firstByte_ = pcm[bytes - 1];
    pendingByte_ = true;
  }
}

void SoundEnvelope::Take(std::int16_t sample, std::size_t count, int channels) {
  low_ = sampled_ ? std::min(low_, sample) : sample;
  high_ = sampled_ ? std::max(high_, sample) : sample;
  sampled_ = true;
  Advance(count, channels);
}

void SoundEnvelope::Advance(std::size_t samples, int channels) {
  const std::int64_t position = framesInColumn_ * channels + channel_ + static_cast<std::int64_t>(samples);
  framesInColumn_ = position / channels;
  channel_ = static_cast<int>(position % channels);
  if (framesInColumn_ == framesPerColumn_) CloseColumn();
}

void SoundEnvelope::CloseColumn() {
  columns_.push_back(low_);
  columns_.push_back(high_);
  framesInColumn_ = 0;
  sampled_ = false;
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
  if (sampled_) {
    columns.push_back(low_);
    columns.push_back(high_);
  }
  return columns;
}

}  // namespace morvane
