#include "audio/demo_film.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "analysis/chunk_layout.h"
#include "core/support.h"
#include "video/cinepak.h"
#include "video/test_pattern.h"

namespace morvane {

namespace {

// The film's time scale: its durations count the stream's own ticks.
constexpr std::int32_t kFilmTimeScale = kTicksPerSecond;
constexpr std::int32_t kLongestFrameTicks = 3600 * kTicksPerSecond;
constexpr std::size_t kChunkAlignment = 4;

// A film chunk of `size` bytes with its header, time, channel word and
// sub-type filled in, the rest zero.
std::vector<unsigned char> FilmChunk(std::size_t size, std::int32_t time, std::uint32_t channelWord,
                                     const char (&subType)[5]) {
  std::vector<unsigned char> chunk(size);
  WriteId(chunk.data(), "FILM");
  WriteBigEndian32(chunk.data() + kChunkSizeOffset, static_cast<std::uint32_t>(size));
  WriteBigEndian32(chunk.data() + kFilmTimeOffset, static_cast<std::uint32_t>(time));
  WriteBigEndian32(chunk.data() + kFilmChannelOffset, channelWord);
  WriteId(chunk.data() + kFilmSubTypeOffset, subType);
  return chunk;
}

std::size_t Aligned(std::size_t size) {
  return (size + kChunkAlignment - 1) / kChunkAlignment * kChunkAlignment;
}

}  // namespace

void CheckDemoFilm(const DemoFilmOptions& options) {
  if (options.frameTicks < 0 || options.frameTicks > kLongestFrameTicks)
    throw std::invalid_argument("a film frame lasts from 1 tick to an hour");
  if (options.frameTicks == 0) return;
  CinepakKeyFrameBound(options.width, options.height);  // raises for a size the encoder does not take
  if (options.chunkSize % kChunkAlignment != 0 ||
      options.chunkSize > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() / 2)) {
    throw std::invalid_argument("a film frame's chunk size must be a multiple of 4");
  }
}

std::size_t DemoFilmFrameCount(const DemoFilmOptions& options, double seconds) {
  if (options.frameTicks <= 0) return 0;
  const auto ticks = static_cast<std::int64_t>(std::ceil(seconds * kTicksPerSecond));
  return static_cast<std::size_t>((ticks + options.frameTicks - 1) / options.frameTicks);
}

std::size_t DemoFilmLargestChunk(const DemoFilmOptions& options) {
  if (options.frameTicks <= 0) return 0;
  const std::size_t frame = CinepakKeyFrameBound(options.width, options.height);
  return std::max({static_cast<std::size_t>(kFhdrEnd), options.chunkSize,
                   Aligned(static_cast<std::size_t>(kFrameDataOffset) + frame)});
}

DemoFilm::DemoFilm(const DemoFilmOptions& options, double seconds)
    : options_(options), frameCount_(DemoFilmFrameCount(options, seconds)), encoded_(kTestPatternLoop) {}

std::int32_t DemoFilm::FrameTime(std::size_t frame) const {
  return static_cast<std::int32_t>(frame) * options_.frameTicks;
}

std::vector<unsigned char> DemoFilm::HeaderChunk() const {
  std::vector<unsigned char> chunk = FilmChunk(static_cast<std::size_t>(kFhdrEnd), 0, 0, "FHDR");
  WriteBigEndian32(chunk.data() + kFhdrVersionOffset, 0);
  WriteId(chunk.data() + kFhdrCompressionOffset, "cvid");
  WriteBigEndian32(chunk.data() + kFhdrHeightOffset, static_cast<std::uint32_t>(options_.height));
  WriteBigEndian32(chunk.data() + kFhdrWidthOffset, static_cast<std::uint32_t>(options_.width));
  WriteBigEndian32(chunk.data() + kFhdrTimeScaleOffset, kFilmTimeScale);
  WriteBigEndian32(chunk.data() + kFhdrFrameCountOffset, static_cast<std::uint32_t>(frameCount_));
  return chunk;
}

std::vector<unsigned char> DemoFilm::FrameChunk(std::size_t frame) {
  std::vector<unsigned char>& encoded = encoded_[frame % kTestPatternLoop];
  if (encoded.empty()) {
    const std::vector<unsigned char> picture = TestPatternPicture(frame, options_.width, options_.height);
    encoded = EncodeCinepakKeyFrame(picture.data(), options_.width, options_.height);
  }
  // The frame, then zeros to a multiple of 4 bytes or to the chunk size
  // asked for: padding that belongs to no frame.
  const std::size_t size =
      std::max(options_.chunkSize, Aligned(static_cast<std::size_t>(kFrameDataOffset) + encoded.size()));
  std::vector<unsigned char> chunk = FilmChunk(size, FrameTime(frame), kKeyChunkFlag, "FRME");
  WriteBigEndian32(chunk.data() + kFrameDurationOffset, static_cast<std::uint32_t>(options_.frameTicks));
  WriteBigEndian32(chunk.data() + kFrameSizeOffset, static_cast<std::uint32_t>(encoded.size()));
  std::copy(encoded.begin(), encoded.end(), chunk.begin() + kFrameDataOffset);
  return chunk;
}

}  // namespace morvane
