#include "analysis/iff_form.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/support.h"

namespace morvane {

namespace {

constexpr std::int64_t kCommChannels = 0;
constexpr std::int64_t kCommSampleSize = 6;
constexpr std::int64_t kCommRate = 8;
constexpr std::int64_t kCommCompression = 18;
constexpr std::int64_t kCommAiffSize = 18;
constexpr std::int64_t kCommAifcSize = 22;

struct Extended {
  bool negative;
  int exponent;  // unbiased
  std::uint64_t mantissa;
};

Extended Unpack(const unsigned char* bytes) {
  std::uint64_t mantissa = 0;
  for (int i = 2; i < 10; ++i) mantissa = mantissa << 8 | bytes[i];
  return {(bytes[0] & 0x80) != 0, ((bytes[0] & 0x7F) << 8 | bytes[1]) - 16383, mantissa};
}

}  // namespace

bool IffChunks::Next(IffChunk& chunk) {
  if (next_ + kIffHeaderSize > end_) return false;
  unsigned char header[kIffHeaderSize];
  input_.Seek(next_);
  input_.Read(header, sizeof header);
  std::copy(header, header + 4, chunk.id);
  chunk.start = next_;
  chunk.body = next_ + kIffHeaderSize;
  chunk.bodySize = static_cast<std::uint32_t>(ReadBigEndian32(header + 4));
  next_ = chunk.BodyEnd() + (chunk.bodySize & 1);
  return true;
}

std::optional<CommonChunk> ReadCommonChunk(ByteFile& input, const IffChunk& chunk, bool aifc) {
  const std::int64_t inFile = std::min<std::int64_t>(chunk.bodySize, input.Size() - chunk.body);
  if (inFile < kCommAiffSize) return std::nullopt;
  CommonChunk comm;
  comm.hasCompression = aifc && inFile >= kCommAifcSize;
  unsigned char fields[kCommAifcSize];
  input.Seek(chunk.body);
  input.Read(fields, static_cast<std::size_t>(comm.hasCompression ? kCommAifcSize : kCommAiffSize));
  comm.channels = fields[kCommChannels] << 8 | fields[kCommChannels + 1];
  comm.sampleSize = fields[kCommSampleSize] << 8 | fields[kCommSampleSize + 1];
  std::copy(fields + kCommRate, fields + kCommRate + 10, comm.rate);
  if (comm.hasCompression)
    std::copy(fields + kCommCompression, fields + kCommCompression + 4, comm.compression);
  return comm;
}

std::string ExtendedWholePartText(const unsigned char* bytes) {
  const Extended number = Unpack(bytes);
  std::string digits;
  if (number.exponent < 0 || number.mantissa == 0) {
    digits = "0";
  } else if (number.exponent < 64) {
    digits = std::to_string(number.mantissa >> (63 - number.exponent));
  } else {
    // Beyond 2^64: the long double holds the 64-bit mantissa exactly.
    char text[5000];
    std::snprintf(
        text, sizeof text, "%.0Lf",
        std::ldexp(static_cast<long double>(number.mantissa), std::min(number.exponent, 16384) - 63));
    digits = text;
  }
  return number.negative && digits != "0" ? "-" + digits : digits;
}

std::int32_t ExtendedRate(const unsigned char* bytes) {
  const Extended number = Unpack(bytes);
  if (number.negative || number.mantissa == 0) return 0;
  const int shift = 63 - number.exponent;
  if (shift <= 0 || shift > 64) return 0;  // 2^63 Hz and more, or below 1/2 Hz
  const std::uint64_t whole = shift == 64 ? 0 : number.mantissa >> shift;
  const std::uint64_t rate = whole + ((number.mantissa >> (shift - 1)) & 1);  // rounded to the nearest
  return rate > 0 && rate <= 0x7FFFFFFF ? static_cast<std::int32_t>(rate) : 0;
}

}  // namespace morvane
