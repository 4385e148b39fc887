#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/byte_file.h"

namespace morvane {

// IFF audio files (AIFF, AIFF-C) begin with "FORM": then the form's size,
// its type at offset 8 and its chunks from offset 12, each a 4-byte id and
// a 32-bit big-endian size that does not count the 8-byte header, bodies
// padded to an even length. The analysis and the batch converter both read
// the form through these.
inline constexpr std::int64_t kIffHeaderSize = 8;
inline constexpr std::int64_t kFormTypeOffset = 8;
inline constexpr std::int64_t kFormFirstChunk = 12;
// The analysis also reads the form at two more fixed offsets, where an
// AIFF-C file with its FVER chunk first has the rate's first bytes and the
// compression type.
inline constexpr std::int64_t kFormRateOffset = 42;
inline constexpr std::int64_t kFormCompressionOffset = 50;
// SSND: a 32-bit offset and block size, then the sound data.
inline constexpr std::int64_t kSsndDataOffset = 8;

struct IffChunk {
  unsigned char id[4] = {};
  std::int64_t start = 0;      // the header's offset
  std::int64_t body = 0;       // the body's offset
  std::uint32_t bodySize = 0;  // as the header says
  std::int64_t BodyEnd() const { return body + bodySize; }
};

// The form's chunks in file order, from offset 12 while a whole header lies
// before `end`.
class IffChunks {
 public:
  IffChunks(ByteFile& input, std::int64_t end) : input_(input), end_(end) {}
  // Reads the next chunk's header and leaves the file at its body; false
  // after the last one.
  bool Next(IffChunk& chunk);

 private:
  ByteFile& input_;
  std::int64_t end_;
  std::int64_t next_ = kFormFirstChunk;
};

// COMM: channels (16 bits), frames (32), sample size (16), rate (80-bit
// extended), and in an AIFF-C file the compression type.
struct CommonChunk {
  int channels = 0;
  int sampleSize = 0;  // bits
  unsigned char rate[10] = {};
  unsigned char compression[4] = {'N', 'O', 'N', 'E'};  // a plain AIFF's
  bool hasCompression = false;
};
// Reads the COMM chunk whose header `Next` just gave, with its compression
// type when `aifc` and the chunk and the file hold one. Nothing when they
// are too short for the fields before the type.
std::optional<CommonChunk> ReadCommonChunk(ByteFile& input, const IffChunk& chunk, bool aifc);

// An 80-bit extended number (sign, 15-bit exponent biased by 16383, 64-bit
// mantissa with its leading one): its whole-number part as decimal text, of
// any size, for the labels.
std::string ExtendedWholePartText(const unsigned char* bytes);
// The same number as a sample rate rounded to whole hertz; 0 when it is not
// a positive rate that fits in 31 bits.
std::int32_t ExtendedRate(const unsigned char* bytes);

}  // namespace morvane
