#include "movie/ebml.h"

#include <bit>
#include <cstring>
#include <stdexcept>

namespace morvane {

namespace {

constexpr std::uint32_t kVoidId = 0xEC;

int IdWidth(std::uint32_t id) { return id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1; }

// The whole length of an element of `id` with a body of `body` bytes and a
// size field `width` bytes wide.
std::size_t ElementLength(std::uint32_t id, std::size_t body, int width) {
  return static_cast<std::size_t>(IdWidth(id) + width) + body;
}

}  // namespace

int EbmlSizeWidth(std::uint64_t value) {
  // All ones in a width's value bits would read as "unknown".
  int width = 1;
  while (width < 8 && value >= (std::uint64_t{1} << (7 * width)) - 1) ++width;
  return width;
}

void AppendEbmlSize(EbmlBytes& out, std::uint64_t value, int width) {
  const std::uint64_t marked = value | (std::uint64_t{1} << (7 * width));
  for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
    out.push_back(static_cast<unsigned char>(marked >> shift));
}

void AppendEbmlId(EbmlBytes& out, std::uint32_t id) {
  for (int shift = 8 * (IdWidth(id) - 1); shift >= 0; shift -= 8)
    out.push_back(static_cast<unsigned char>(id >> shift));
}

void AppendMaster(EbmlBytes& out, std::uint32_t id, const EbmlBytes& body) {
  AppendEbmlId(out, id);
  AppendEbmlSize(out, body.size(), EbmlSizeWidth(body.size()));
  out.insert(out.end(), body.begin(), body.end());
}

void AppendUnsigned(EbmlBytes& out, std::uint32_t id, std::uint64_t value) {
  const int bytes = value == 0 ? 1 : (std::bit_width(value) + 7) / 8;
  AppendEbmlId(out, id);
  AppendEbmlSize(out, static_cast<std::uint64_t>(bytes), 1);
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
    out.push_back(static_cast<unsigned char>(value >> shift));
}

std::uint64_t DoubleBits(double value) {
  static_assert(sizeof(double) == sizeof(std::uint64_t));
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

void AppendBigEndian64(EbmlBytes& out, std::uint64_t value) {
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

void AppendFloat(EbmlBytes& out, std::uint32_t id, double value) {
  AppendEbmlId(out, id);
  AppendEbmlSize(out, 8, 1);
  AppendBigEndian64(out, DoubleBits(value));
}

void AppendString(EbmlBytes& out, std::uint32_t id, const std::string& text) {
  AppendBinary(out, id, reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

void AppendBinary(EbmlBytes& out, std::uint32_t id, const unsigned char* bytes, std::size_t count) {
  AppendEbmlId(out, id);
  AppendEbmlSize(out, count, EbmlSizeWidth(count));
  out.insert(out.end(), bytes, bytes + count);
}

std::size_t AppendMasterFilling(EbmlBytes& out, std::uint32_t id, const EbmlBytes& body, std::size_t room) {
  int width = EbmlSizeWidth(body.size());
  if (ElementLength(id, body.size(), width) + 1 == room) ++width;
  if (width > 8 || ElementLength(id, body.size(), width) > room)
    throw std::logic_error("an EBML element outgrew the room kept for it");
  const std::size_t start = out.size();
  AppendEbmlId(out, id);
  AppendEbmlSize(out, body.size(), width);
  const std::size_t bodyOffset = out.size() - start;
  out.insert(out.end(), body.begin(), body.end());
  AppendVoid(out, room - (out.size() - start));
  return bodyOffset;
}

void AppendVoid(EbmlBytes& out, std::size_t room) {
  if (room == 0) return;
  if (room == 1) throw std::logic_error("no Void element is one byte long");
  // A one-byte size up to 126, an eight-byte one beyond; between them a
  // width that fits exactly.
  int width = 1;
  while (width < 8 && (room - 1 - static_cast<std::size_t>(width) >= (std::size_t{1} << (7 * width)) - 1))
    ++width;
  AppendEbmlId(out, kVoidId);
  AppendEbmlSize(out, room - 1 - static_cast<std::size_t>(width), width);
  out.insert(out.end(), room - 1 - static_cast<std::size_t>(width), 0);
}

}  // namespace morvane
