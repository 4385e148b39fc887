#include "video/cinepak.h"

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>
#include <string>

#include "video/codebook.h"

namespace morvane {

namespace {

std::uint16_t BigEndian16(const unsigned char* bytes) {
  return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

std::size_t BigEndian24(const unsigned char* bytes) {
  return std::size_t{bytes[0]} << 16 | std::size_t{bytes[1]} << 8 | bytes[2];
}

void Put16(std::vector<unsigned char>& out, std::size_t value) {
  out.push_back(static_cast<unsigned char>(value >> 8));
  out.push_back(static_cast<unsigned char>(value));
}

// A strip's or a chunk's header: its id byte and its 24-bit size.
void PutHeader(std::vector<unsigned char>& out, std::uint8_t id, std::size_t size) {
  out.push_back(id);
  out.push_back(static_cast<unsigned char>(size >> 16));
  Put16(out, size & 0xFFFF);
}

void PatchSize(std::vector<unsigned char>& out, std::size_t header, std::size_t size) {
  for (std::size_t i = 0; i < 3; ++i) out[header + 1 + i] = static_cast<unsigned char>(size >> (16 - 8 * i));
}

constexpr std::size_t kEntryBytes = 6;  // four lumas, then U and V as signed bytes
// The encoder keeps each strip within 64 KiB, as the decoders of Cinepak's
// first years expect, though the size field holds 24 bits.
constexpr std::size_t kMaxChunkSize = 0xFFFF;
constexpr std::size_t kFlagBits = 32;
// A block whose quarters are this near to flat (8 squared luma steps a
// pixel) is drawn well enough from one V1 entry; the V4 codebook is kept
// for the others.
constexpr long kFlatEnough = 16 * 8;

// A V1 entry drawn over the quarter q of its block: that quarter's luma on
// all four pixels, and the block's chroma.
Patch Quarter(const Patch& v1, int q) { return {v1[q], v1[q], v1[q], v1[q], v1[kPatchU], v1[kPatchV]}; }

// The picture as 2x2 patches, row by row.
std::vector<Patch> PatchesOf(const unsigned char* rgb, int width, int height) {
  std::vector<Patch> patches;
  patches.reserve(static_cast<std::size_t>(width / 2) * static_cast<std::size_t>(height / 2));
  for (int y = 0; y < height; y += 2) {
    for (int x = 0; x < width; x += 2) {
      Patch patch{};
      int blueLessLuma = 0, redLessLuma = 0;
      for (int i = 0; i < 4; ++i) {
        const unsigned char* pixel =
            rgb + 3 * (static_cast<std::size_t>(y + i / 2) * static_cast<std::size_t>(width) +
                       static_cast<std::size_t>(x + i % 2));
        const int luma = (2 * pixel[0] + 4 * pixel[1] + pixel[2] + 3) / 7;
        patch[static_cast<std::size_t>(i)] = luma;
        blueLessLuma += pixel[2] - luma;
        redLessLuma += pixel[0] - luma;
      }
      patch[kPatchU] = static_cast<int>(std::clamp<long long>(RoundedDivide(blueLessLuma, 8), -128, 127));
      patch[kPatchV] = static_cast<int>(std::clamp<long long>(RoundedDivide(redLessLuma, 8), -128, 127));
      patches.push_back(patch);
    }
  }
  return patches;
}

// One 4x4 block: its four quarters, and the V1 patch of their mean lumas
// and chroma.
struct Block {
  std::array<Patch, 4> quarters;
  Patch v1;
  bool useV4 = false;
  std::array<std::size_t, 4> indices{};  // one for V1, four for V4
};

void PutChunk(std::vector<unsigned char>& out, std::uint8_t id, const std::vector<unsigned char>& body) {
  PutHeader(out, id, kCinepakChunkHeaderSize + body.size());
  out.insert(out.end(), body.begin(), body.end());
}

void PutCodebook(std::vector<unsigned char>& out, std::uint8_t id, const std::vector<Patch>& codebook) {
  std::vector<unsigned char> body;
  for (const Patch& entry : codebook) {
    for (int a = 0; a < 4; ++a) body.push_back(static_cast<unsigned char>(std::clamp(entry[a], 0, 255)));
    body.push_back(static_cast<unsigned char>(entry[kPatchU] & 0xFF));  // signed bytes
    body.push_back(static_cast<unsigned char>(entry[kPatchV] & 0xFF));
  }
  PutChunk(out, id, body);
}

// The block indices: for a strip with V4 blocks, a 32-bit word of flags
// (first block in the top bit) before every 32 blocks.
void PutVectors(std::vector<unsigned char>& out, const std::vector<Block>& blocks, bool anyV4) {
  std::vector<unsigned char> body;
  for (std::size_t first = 0; first < blocks.size(); first += kFlagBits) {
    const std::size_t last = std::min(blocks.size(), first + kFlagBits);
    if (anyV4) {
      std::uint32_t flags = 0;
      for (std::size_t i = first; i < last; ++i)
        if (blocks[i].useV4) flags |= 0x80000000u >> (i - first);
      for (int shift = 24; shift >= 0; shift -= 8) body.push_back(static_cast<unsigned char>(flags >> shift));
    }
    for (std::size_t i = first; i < last; ++i) {
      for (std::size_t k = 0; k < (blocks[i].useV4 ? 4 : 1); ++k)
        body.push_back(static_cast<unsigned char>(blocks[i].indices[k]));
    }
  }
  PutChunk(out, anyV4 ? kCinepakIntraVectors : kCinepakV1Vectors, body);
}

// The largest strip of that many blocks: both codebooks full, every block V4.
std::size_t StripBound(std::size_t blocks) {
  return kCinepakStripHeaderSize + 2 * (kCinepakChunkHeaderSize + kCodebookEntries * kEntryBytes) +
         kCinepakChunkHeaderSize + 4 * blocks + 4 * ((blocks + kFlagBits - 1) / kFlagBits);
}

// Rows of blocks in each strip: as few strips as keep every strip's size
// within kMaxChunkSize, their heights as even as whole rows allow.
std::vector<int> StripRows(int width, int height) {
  const auto perRow = static_cast<std::size_t>(width / 4);
  const int blockRows = height / 4;
  int most = 1;
  while (most < blockRows && StripBound(perRow * static_cast<std::size_t>(most + 1)) <= kMaxChunkSize) ++most;
  const int strips = (blockRows + most - 1) / most;
  std::vector<int> rows;
  for (int s = 0; s < strips; ++s) rows.push_back(blockRows / strips + (s < blockRows % strips ? 1 : 0));
  return rows;
}

void CheckSize(int width, int height) {
  for (const int side : {width, height}) {
    if (side < 4 || side > kCinepakMaxSide || side % 4 != 0) {
      throw std::invalid_argument("a Cinepak picture must be a multiple of 4 from 4 to " +
                                  std::to_string(kCinepakMaxSide) + " pixels wide and high, not " +
                                  std::to_string(width) + "x" + std::to_string(height));
    }
  }
}

// One strip of blocks, rows [firstRow, firstRow + rows) of the picture's
// blocks, with its own codebooks.
void EncodeStrip(std::vector<unsigned char>& out, const std::vector<Patch>& patches, int width, int firstRow,
                 int rows) {
  const int patchColumns = width / 2;
  std::vector<Block> blocks;
  std::vector<Patch> flat, detailed;
  for (int row = firstRow; row < firstRow + rows; ++row) {
    for (int column = 0; column < width / 4; ++column) {
      Block block;
      std::array<long long, std::tuple_size_v<Patch>> sums{};
      for (int q = 0; q < 4; ++q) {
        const Patch& quarter =
            patches[static_cast<std::size_t>((2 * row + q / 2) * patchColumns + 2 * column + q % 2)];
        block.quarters[static_cast<std::size_t>(q)] = quarter;
        for (int i = 0; i < 4; ++i) sums[static_cast<std::size_t>(q)] += quarter[static_cast<std::size_t>(i)];
        sums[kPatchU] += quarter[kPatchU];
        sums[kPatchV] += quarter[kPatchV];
      }
      for (std::size_t a = 0; a < sums.size(); ++a) block.v1[a] = static_cast<int>(RoundedDivide(sums[a], 4));
      long detail = 0;
      for (int q = 0; q < 4; ++q)
        detail += PatchDistance(block.quarters[static_cast<std::size_t>(q)], Quarter(block.v1, q));
      if (detail <= kFlatEnough) {
        flat.push_back(block.v1);
      } else {
        detailed.insert(detailed.end(), block.quarters.begin(), block.quarters.end());
      }
      blocks.push_back(block);
    }
  }
  const std::vector<Patch> v1Book = TrainCodebook(std::move(flat));
  const std::vector<Patch> v4Book = TrainCodebook(std::move(detailed));

  // Each block takes whichever codebook draws it nearer.
  bool anyV1 = false, anyV4 = false;
  for (Block& block : blocks) {
    long v1Error = std::numeric_limits<long>::max(), v4Error = std::numeric_limits<long>::max();
    int distance = 0;
    if (!v1Book.empty()) {
      block.indices[0] = NearestEntry(v1Book, block.v1, distance);
      v1Error = 0;
      for (int q = 0; q < 4; ++q)
        v1Error +=
            PatchDistance(block.quarters[static_cast<std::size_t>(q)], Quarter(v1Book[block.indices[0]], q));
    }
    std::array<std::size_t, 4> v4Indices{};
    if (!v4Book.empty()) {
      v4Error = 0;
      for (std::size_t q = 0; q < 4; ++q) {
        v4Indices[q] = NearestEntry(v4Book, block.quarters[q], distance);
        v4Error += distance;
      }
    }
    block.useV4 = v4Error < v1Error;
    if (block.useV4) block.indices = v4Indices;
    (block.useV4 ? anyV4 : anyV1) = true;
  }

  const std::size_t start = out.size();
  PutHeader(out, kCinepakIntraStrip, 0);  // the size, once known
  // Top 0 and bottom the strip's height: each strip starts where the one
  // above it ended.
  for (const int field : {0, 0, 4 * rows, width}) Put16(out, static_cast<std::size_t>(field));
  if (anyV4) PutCodebook(out, kCinepakV4Codebook, v4Book);
  if (anyV1) PutCodebook(out, kCinepakV1Codebook, v1Book);
  PutVectors(out, blocks, anyV4);
  PatchSize(out, start, out.size() - start);
}

}  // namespace

bool IsCinepakIntraFrame(const unsigned char* frame, std::size_t size) {
  if (size < kCinepakFrameHeaderSize) return false;
  const std::size_t strips = BigEndian16(frame + 8);
  if (strips == 0) return false;
  std::size_t at = kCinepakFrameHeaderSize;
  for (std::size_t strip = 0; strip < strips; ++strip) {
    if (size - at < kCinepakStripHeaderSize) return false;
    const std::uint8_t id = frame[at];
    const std::size_t stripSize = BigEndian24(frame + at + 1);
    if (id != kCinepakIntraStrip || stripSize < kCinepakStripHeaderSize || stripSize > size - at)
      return false;
    at += stripSize;
  }
  return true;
}

std::size_t CinepakKeyFrameBound(int width, int height) {
  CheckSize(width, height);
  std::size_t bound = kCinepakFrameHeaderSize;
  for (const int rows : StripRows(width, height))
    bound += StripBound(static_cast<std::size_t>(width / 4) * static_cast<std::size_t>(rows));
  return bound;
}

std::vector<unsigned char> EncodeCinepakKeyFrame(const unsigned char* rgb, int width, int height) {
  CheckSize(width, height);
  const std::vector<Patch> patches = PatchesOf(rgb, width, height);
  const std::vector<int> stripRows = StripRows(width, height);
  // Flags 0: every strip brings its own codebooks.
  std::vector<unsigned char> frame = {0, 0, 0, 0};
  Put16(frame, static_cast<std::size_t>(width));
  Put16(frame, static_cast<std::size_t>(height));
  Put16(frame, stripRows.size());
  int firstRow = 0;
  for (const int rows : stripRows) {
    EncodeStrip(frame, patches, width, firstRow, rows);
    firstRow += rows;
  }
  // The frame's length, 24 bits after the flags.
  for (int i = 0; i < 3; ++i)
    frame[static_cast<std::size_t>(1 + i)] = static_cast<unsigned char>(frame.size() >> (16 - 8 * i));
  return frame;
}

}  // namespace morvane
