#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvane {

// The waveform picture of a sound as it is decoded: the lowest and highest
// sample of every column, over all channels. The length is not known until
// the end, so the columns start narrow and are merged two into one whenever
// there are twice as many as wanted: a sound of any length keeps between
// kColumns and twice as many (fewer only when it is short).
class SoundEnvelope {
 public:
  static constexpr std::size_t kColumns = 512;

  // 16-bit little-endian samples, channels interleaved.
  void Add(const unsigned char* pcm, std::size_t bytes, int channels);
  // Lowest and highest of each column in turn, the last column as far as
  // it was filled.
  std::vector<std::int16_t> Columns() const;
  std::int64_t FramesPerColumn() const { return framesPerColumn_; }

 private:
  void Take(std::int16_t sample, std::size_t count, int channels);
  // Counts samples into the present column, closing it when it is full.
  void Advance(std::size_t samples, int channels);
  void CloseColumn();

  std::vector<std::int16_t> columns_;  // lowest, highest, ...
  std::int64_t framesPerColumn_ = 16;
  std::int64_t framesInColumn_ = 0;
  std::int16_t low_ = 0, high_ = 0;
  bool sampled_ = false;  // the present column holds a sample
  int channel_ = 0;       // of the next sample, when a piece ends inside a frame
  bool pendingByte_ = false;
  unsigned char firstByte_ = 0;
};

}  // namespace morvane
