#include "video/png_image.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace morvane {

namespace {

// The CRC-32 of PNG's chunks (and zip's), table-driven.
const std::array<std::uint32_t, 256>& CrcTable() {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table;
}

std::uint32_t Crc32(const unsigned char* bytes, std::size_t count) {
  const auto& table = CrcTable();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void PutBig32(std::vector<unsigned char>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

void PutChunk(std::vector<unsigned char>& out, const char (&type)[5],
              const std::vector<unsigned char>& body) {
  PutBig32(out, static_cast<std::uint32_t>(body.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  PutBig32(out, Crc32(out.data() + start, out.size() - start));
}

// Deflate's bits, least significant first; Huffman codes go in from their
// most significant bit.
class BitWriter {
 public:
  explicit BitWriter(std::vector<unsigned char>& out) : out_(out) {}
  void Bits(std::uint32_t value, int count) {
    pending_ |= static_cast<std::uint64_t>(value) << filled_;
    filled_ += count;
    while (filled_ >= 8) {
      out_.push_back(static_cast<unsigned char>(pending_));
      pending_ >>= 8;
      filled_ -= 8;
    }
  }
  void Code(std::uint32_t code, int length) {
    std::uint32_t reversed = 0;
    for (int i = 0; i < length; ++i) reversed |= ((code >> i) & 1) << (length - 1 - i);
    Bits(reversed, length);
  }
  void Flush() {
    if (filled_ > 0) Bits(0, 8 - filled_);
  }

 private:
  std::vector<unsigned char>& out_;
  std::uint64_t pending_ = 0;
  int filled_ = 0;
};

// The fixed literal/length code of a symbol 0..287.
void Symbol(BitWriter& bits, int symbol) {
  if (symbol < 144) {
    bits.Code(static_cast<std::uint32_t>(0x30 + symbol), 8);
  } else if (symbol < 256) {
    bits.Code(static_cast<std::uint32_t>(0x190 + symbol - 144), 9);
  } else if (symbol < 280) {
    bits.Code(static_cast<std::uint32_t>(symbol - 256), 7);
  } else {
    bits.Code(static_cast<std::uint32_t>(0xC0 + symbol - 280), 8);
  }
}

constexpr int kLengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kLengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kDistanceBase[] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                 33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int kDistanceExtra[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                  6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void Match(BitWriter& bits, int length, int distance) {
  const int l = static_cast<int>(std::upper_bound(std::begin(kLengthBase), std::end(kLengthBase), length) -
                                 std::begin(kLengthBase)) -
                1;
  Symbol(bits, 257 + l);
  bits.Bits(static_cast<std::uint32_t>(length - kLengthBase[l]), kLengthExtra[l]);
  const int d =
      static_cast<int>(std::upper_bound(std::begin(kDistanceBase), std::end(kDistanceBase), distance) -
                       std::begin(kDistanceBase)) -
      1;
  bits.Code(static_cast<std::uint32_t>(d), 5);
  bits.Bits(static_cast<std::uint32_t>(distance - kDistanceBase[d]), kDistanceExtra[d]);
}

// The data as a zlib stream: one block of fixed codes.
std::vector<unsigned char> Zlib(const std::vector<unsigned char>& data) {
  constexpr std::size_t kWindow = 32768, kMinMatch = 3, kMaxMatch = 258;
  constexpr int kHashBits = 15, kChain = 24;
  std::vector<unsigned char> out = {0x78, 0x01};
  BitWriter bits(out);
  bits.Bits(1, 1);  // the last block
  bits.Bits(1, 2);  // fixed codes
  std::vector<std::int64_t> head(std::size_t{1} << kHashBits, -1), previous(kWindow, -1);
  const auto hash = [&](std::size_t at) {
    return ((std::uint32_t{data[at]} << 16 | std::uint32_t{data[at + 1]} << 8 | data[at + 2]) *
            2654435761u) >>
           (32 - kHashBits);
  };
  const auto insert = [&](std::size_t at) {
    if (data.size() - at < kMinMatch) return;
    const std::uint32_t h = hash(at);
    previous[at % kWindow] = head[h];
    head[h] = static_cast<std::int64_t>(at);
  };
  for (std::size_t at = 0; at < data.size();) {
    std::size_t bestLength = 0, bestDistance = 0;
    if (data.size() - at >= kMinMatch) {
      const std::size_t most = std::min(kMaxMatch, data.size() - at);
      std::int64_t candidate = head[hash(at)];
      for (int step = 0; step < kChain && candidate >= 0; ++step) {
        const auto from = static_cast<std::size_t>(candidate);
        if (at - from > kWindow - 1) break;
        std::size_t length = 0;
        while (length < most && data[from + length] == data[at + length]) ++length;
        if (length > bestLength) {
          bestLength = length;
          bestDistance = at - from;
          if (length == most) break;
        }
        const std::int64_t next = previous[from % kWindow];
        if (next >= candidate) break;  // the slot was taken by a later position
        candidate = next;
      }
    }
    if (bestLength >= kMinMatch) {
      Match(bits, static_cast<int>(bestLength), static_cast<int>(bestDistance));
      for (std::size_t i = 0; i < bestLength; ++i) insert(at + i);
      at += bestLength;
    } else {
      Symbol(bits, data[at]);
      insert(at);
      ++at;
    }
  }
  Symbol(bits, 256);  // the block's end
  bits.Flush();
  std::uint32_t a = 1, b = 0;  // Adler-32
  for (const unsigned char byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBig32(out, b << 16 | a);
  return out;
}

}  // namespace

std::vector<unsigned char> EncodePng(const unsigned char* rgb, int width, int height) {
  if (width < 1 || height < 1)
    throw std::invalid_argument("a PNG picture of " + std::to_string(width) + "x" + std::to_string(height));
  const std::size_t row = 3 * static_cast<std::size_t>(width);
  std::vector<unsigned char> raw;
  raw.reserve((row + 1) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // filter: none
    const unsigned char* line = rgb + row * static_cast<std::size_t>(y);
    raw.insert(raw.end(), line, line + row);
  }
  std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<unsigned char> header;
  PutBig32(header, static_cast<std::uint32_t>(width));
  PutBig32(header, static_cast<std::uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter choice, no interlace
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", Zlib(raw));
  PutChunk(png, "IEND", {});
  return png;
}

}  // namespace morvane
