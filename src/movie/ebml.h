#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

// EBML, the binary markup Matroska is written in: each element an id (its
// bytes as the id table gives them, length marker included), a size as a
// variable-length number, and a body. Numbers big-endian. Small elements are
// built in memory with this; the movie writer streams the large ones.
using EbmlBytes = std::vector<unsigned char>;

// The size field's bytes for `value` in `width` bytes (1 to 8): a marker bit
// and the value below it.
void AppendEbmlSize(EbmlBytes& out, std::uint64_t value, int width);
// The fewest bytes a size field of `value` takes.
int EbmlSizeWidth(std::uint64_t value);
// The 8-byte size that says "unknown": the segment's, until it is patched.
inline constexpr std::uint64_t kEbmlUnknownSize = 0x00FFFFFFFFFFFFFF;

void AppendEbmlId(EbmlBytes& out, std::uint32_t id);

// The bits of a double as Matroska stores a float of 8 bytes, most
// significant first (IEEE 754 on every platform this is built for).
std::uint64_t DoubleBits(double value);
// The value's 8 bytes, big-endian, as Matroska stores numbers.
void AppendBigEndian64(EbmlBytes& out, std::uint64_t value);
// Whole elements, each appended to `out`.
void AppendMaster(EbmlBytes& out, std::uint32_t id, const EbmlBytes& body);
void AppendUnsigned(EbmlBytes& out, std::uint32_t id, std::uint64_t value);
void AppendFloat(EbmlBytes& out, std::uint32_t id, double value);  // 8 bytes
void AppendString(EbmlBytes& out, std::uint32_t id, const std::string& text);
void AppendBinary(EbmlBytes& out, std::uint32_t id, const unsigned char* bytes, std::size_t count);

// An element of `id` whose whole length, header included, is exactly `room`
// bytes (at least 2): its size field is made wider when a byte would be
// left over. Gives the body's offset in the element.
std::size_t AppendMasterFilling(EbmlBytes& out, std::uint32_t id, const EbmlBytes& body, std::size_t room);
// A Void element of exactly `room` bytes (0, or at least 2).
void AppendVoid(EbmlBytes& out, std::size_t room);

}  // namespace morvane
