#include "video/cinepak_decoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "video/cinepak.h"

namespace morvane {

namespace {

constexpr std::size_t kFrameHeader = kCinepakFrameHeaderSize;
constexpr std::size_t kStripHeader = kCinepakStripHeaderSize;
constexpr std::size_t kChunkHeader = kCinepakChunkHeaderSize;
constexpr unsigned kFrameOwnCodebooks = 0x01;  // frame flag: no strip starts from the one above
// Codebook chunks: 0x20 V4, 0x22 V1; bit 0 set: a partial update (a word of
// flags before every 32 entries says which are loaded); bit 2 set: grey,
// four bytes an entry instead of six.
constexpr unsigned kPartialBit = 0x01, kGreyBit = 0x04;
// Vector chunks: 0x30 a flag bit a block (set: V4), 0x31 first a bit
// saying whether the block changes at all, 0x32 every block V1.
constexpr unsigned kSkipsBit = 0x01, kV1OnlyBit = 0x02;

unsigned Big16(const unsigned char* bytes) { return unsigned{bytes[0]} << 8 | bytes[1]; }
std::size_t Big24(const unsigned char* bytes) {
  return std::size_t{bytes[0]} << 16 | std::size_t{bytes[1]} << 8 | bytes[2];
}
std::uint32_t Big32(const unsigned char* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 |
         bytes[3];
}

unsigned char Clamped(int value) { return static_cast<unsigned char>(std::clamp(value, 0, 255)); }

// Loads a codebook chunk's entries as RGB.
void LoadCodebook(std::array<CinepakDecoder::Entry, 256>& book, unsigned id, const unsigned char* data,
                  std::size_t size) {
  const unsigned char* const end = data + size;
  const std::size_t entryBytes = (id & kGreyBit) ? 4 : 6;
  const bool partial = (id & kPartialBit) != 0;
  std::uint32_t flags = 0, mask = 0;
  for (CinepakDecoder::Entry& entry : book) {
    if (partial && (mask >>= 1) == 0) {
      if (end - data < 4) return;
      flags = Big32(data);
      data += 4;
      mask = 0x80000000u;
    }
    if (partial && (flags & mask) == 0) continue;
    if (static_cast<std::size_t>(end - data) < entryBytes) return;
    if (entryBytes == 4) {
      for (int p = 0; p < 4; ++p) std::memset(entry.data() + 3 * p, data[p], 3);
    } else {
      const int u = static_cast<signed char>(data[4]), v = static_cast<signed char>(data[5]);
      for (int p = 0; p < 4; ++p) {
        const int y = data[p];
        entry[static_cast<std::size_t>(3 * p)] = Clamped(y + 2 * v);
        entry[static_cast<std::size_t>(3 * p + 1)] = Clamped(y - u / 2 - v);
        entry[static_cast<std::size_t>(3 * p + 2)] = Clamped(y + 2 * u);
      }
    }
    data += entryBytes;
  }
}

// "(left,top)-(right,bottom)"
std::string RectangleText(int left, int top, int right, int bottom) {
  std::string text;
  const char* const before[] = {"(", ",", ")-(", ","};
  const int values[] = {left, top, right, bottom};
  for (int i = 0; i < 4; ++i) text.append(before[i]).append(std::to_string(values[i]));
  return text.append(")");
}

}  // namespace

CinepakDecoder::CinepakDecoder(int width, int height) : width_(width), height_(height) {
  if (width < 1 || height < 1 || width > kCinepakMaxDecodeSide || height > kCinepakMaxDecodeSide) {
    throw std::invalid_argument("a Cinepak picture of " + std::to_string(width) + "x" +
                                std::to_string(height) + " is not decoded: from 1 to " +
                                std::to_string(kCinepakMaxDecodeSide) + " pixels wide and high are");
  }
  paddedWidth_ = (width + 3) & ~3;
  paddedHeight_ = (height + 3) & ~3;
  // A strip whose left edge is no multiple of 4 draws up to 3 pixels past
  // the padded width.
  stride_ = 3 * static_cast<std::size_t>(paddedWidth_ + 4);
  work_.assign(stride_ * static_cast<std::size_t>(paddedHeight_), 0);
  rgb_.assign(3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
  strips_.resize(kMostStrips);
}

const std::vector<unsigned char>& CinepakDecoder::Rgb() const { return rgb_; }
int CinepakDecoder::Width() const { return width_; }
int CinepakDecoder::Height() const { return height_; }

std::string CinepakDecoder::Decode(const unsigned char* frame, std::size_t size) {
  ++frames_;
  std::string problem;
  if (size < kFrameHeader) {
    problem = std::to_string(size) + " bytes, shorter than a frame header";
  } else {
    const unsigned flags = frame[0];
    std::size_t strips = Big16(frame + 8);
    if (strips > kMostStrips) {
      problem =
          std::to_string(strips) + " strips; only the first " + std::to_string(kMostStrips) + " are drawn";
      strips = kMostStrips;
    }
    bool allIntra = strips > 0;
    std::size_t at = kFrameHeader;
    int previousBottom = 0;
    for (std::size_t i = 0; i < strips; ++i) {
      const std::string strip = "strip " + std::to_string(i + 1) + " of " + std::to_string(strips);
      if (size - at < kStripHeader) {
        problem = strip + " runs past the frame's end";
        allIntra = false;
        break;
      }
      const unsigned char* header = frame + at;
      const unsigned id = header[0];
      const std::size_t stripSize = Big24(header + 1);
      if (stripSize < kStripHeader) {
        problem = strip + " gives its size as " + std::to_string(stripSize) + " bytes, less than its header";
        allIntra = false;
        break;
      }
      Rectangle area;
      area.top = static_cast<int>(Big16(header + 4));
      area.left = static_cast<int>(Big16(header + 6));
      area.bottom = static_cast<int>(Big16(header + 8));
      area.right = static_cast<int>(Big16(header + 10));
      if (area.top == 0) {  // below the strip before, its height given
        area.top = previousBottom;
        area.bottom = (previousBottom + area.bottom) & 0xFFFF;
      }
      if (id != kCinepakIntraStrip) allIntra = false;
      if (id == kCinepakInterStrip && !keySeen_ && problem.empty())
        problem = "a difference frame before any key frame; drawn over what the picture held";
      at += kStripHeader;
      std::size_t body = stripSize - kStripHeader;
      if (body > size - at) {
        problem = strip + " runs past the frame's end (" + std::to_string(stripSize) + " bytes from offset " +
                  std::to_string(at - kStripHeader) + " of " + std::to_string(size) + ")";
        body = size - at;
      }
      if (i > 0 && (flags & kFrameOwnCodebooks) == 0) strips_[i] = strips_[i - 1];
      const std::string wrong = DecodeStrip(strips_[i], area, frame + at, body);
      if (!wrong.empty()) {
        problem = strip + ": " + wrong;
        allIntra = false;
        break;
      }
      at += body;
      previousBottom = area.bottom;
    }
    if (allIntra) keySeen_ = true;
  }
  // The picture without the blocks' overrun past its right and bottom edges.
  const std::size_t row = 3 * static_cast<std::size_t>(width_);
  for (int y = 0; y < height_; ++y)
    std::memcpy(rgb_.data() + row * static_cast<std::size_t>(y),
                work_.data() + stride_ * static_cast<std::size_t>(y), row);
  return problem.empty() ? problem : "frame " + std::to_string(frames_) + ": " + problem;
}

std::string CinepakDecoder::DecodeStrip(Codebooks& books, const Rectangle& area, const unsigned char* data,
                                        std::size_t size) {
  if (area.right > paddedWidth_ || area.bottom > paddedHeight_ || area.left >= area.right ||
      area.top >= area.bottom) {
    return "its rectangle " + RectangleText(area.left, area.top, area.right, area.bottom) +
           " is not inside the " + std::to_string(width_) + "x" + std::to_string(height_) + " picture";
  }
  while (size >= kChunkHeader) {
    const unsigned id = data[0];
    const std::size_t chunkSize = Big24(data + 1);
    if (chunkSize < kChunkHeader)
      return "a chunk gives its size as " + std::to_string(chunkSize) + " bytes, less than its header";
    data += kChunkHeader;
    size -= kChunkHeader;
    const std::size_t body = std::min(chunkSize - kChunkHeader, size);
    const unsigned book = id & ~(kPartialBit | kGreyBit);
    if (book == kCinepakV4Codebook) {
      LoadCodebook(books.v4, id, data, body);
    } else if (book == kCinepakV1Codebook) {
      LoadCodebook(books.v1, id, data, body);
    } else if (id == kCinepakIntraVectors || id == (kCinepakIntraVectors | kSkipsBit) ||
               id == kCinepakV1Vectors) {
      // The vectors end the strip.
      return DecodeVectors(books, area, static_cast<int>(id), data, body);
    }  // a chunk of another id is passed over
    data += body;
    size -= body;
  }
  return "it holds no vectors";
}

std::string CinepakDecoder::DecodeVectors(const Codebooks& books, const Rectangle& area, int chunkId,
                                          const unsigned char* data, std::size_t size) {
  const unsigned char* const end = data + size;
  const bool skips = (chunkId & kSkipsBit) != 0, v1Only = (chunkId & kV1OnlyBit) != 0;
  std::uint32_t flags = 0, mask = 0;
  const char* const shortOfData = "its vectors end before its last block";
  for (int y = area.top; y < area.bottom; y += 4) {
    // Rows past the picture's bottom are drawn onto the block's top row,
    // which is drawn last.
    unsigned char* rows[4];
    rows[0] = work_.data() + stride_ * static_cast<std::size_t>(y) + 3 * static_cast<std::size_t>(area.left);
    for (int k = 1; k < 4; ++k) rows[k] = height_ - y > k ? rows[k - 1] + stride_ : rows[0];
    for (int x = area.left; x < area.right; x += 4) {
      if (skips && (mask >>= 1) == 0) {
        if (end - data < 4) return shortOfData;
        flags = Big32(data);
        data += 4;
        mask = 0x80000000u;
      }
      if (!skips || (flags & mask) != 0) {
        if (!v1Only && (mask >>= 1) == 0) {
          if (end - data < 4) return shortOfData;
          flags = Big32(data);
          data += 4;
          mask = 0x80000000u;
        }
        if (v1Only || (flags & mask) == 0) {
          if (data >= end) return shortOfData;
          const unsigned char* p = books.v1[*data++].data();
          for (int k = 3; k >= 0; --k) {
            const unsigned char* half = p + (k >= 2 ? 6 : 0);
            unsigned char* out = rows[k];
            std::memcpy(out, half, 3);
            std::memcpy(out + 3, half, 3);
            std::memcpy(out + 6, half + 3, 3);
            std::memcpy(out + 9, half + 3, 3);
          }
        } else {
          if (end - data < 4) return shortOfData;
          const unsigned char* top[2] = {books.v4[data[0]].data(), books.v4[data[1]].data()};
          const unsigned char* bottom[2] = {books.v4[data[2]].data(), books.v4[data[3]].data()};
          data += 4;
          std::memcpy(rows[3], bottom[0] + 6, 6);
          std::memcpy(rows[3] + 6, bottom[1] + 6, 6);
          std::memcpy(rows[2], bottom[0], 6);
          std::memcpy(rows[2] + 6, bottom[1], 6);
          std::memcpy(rows[1], top[0] + 6, 6);
          std::memcpy(rows[1] + 6, top[1] + 6, 6);
          std::memcpy(rows[0], top[0], 6);
          std::memcpy(rows[0] + 6, top[1], 6);
        }
      }
      for (unsigned char*& row : rows) row += 12;
    }
  }
  return "";
}

}  // namespace morvane
