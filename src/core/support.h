#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace morvane {

// Signed decimal text: no leading zeros, blanks or separators; "-" for
// negative values, the most negative one included.
std::string DecimalText(std::int32_t value);

// An optional sign as the very first character, then decimal digits up to
// the first other character, in 32-bit arithmetic that wraps. No blank is
// skipped: empty text, letters or a leading blank give 0.
std::int32_t ParseLeadingInt(const std::string& text);

// The sample rate the rate box's text gives, read as ParseLeadingInt reads
// it; nothing when that is no positive number (empty text, "0", "-1", "abc"),
// for which no player would open the WAV. SDX2 to WAV and PLAY then end
// before their dialog with kNoRateNotice.
std::optional<std::int32_t> RateFromText(const std::string& text);
inline constexpr char kNoRateNotice[] = "Type the sample rate in Hz into the box first";

// A name as one line of text: control characters and the backslash
// escaped (\n, \t, \\, \xHH), except a backslash that separates folders
// (Windows'); every other byte as it is.
std::string EscapedName(const std::string& name);

// The text without its leading and trailing characters of code 32 or less.
std::string TrimBlanks(const std::string& text);

// The low 32 bits of the file's size as a signed number, read from its
// directory entry without opening it; 0 when no such file exists.
std::int32_t QueryFileSize(const std::string& path);

// Four-character ids are compared byte for byte, case and all.
inline bool IsId(const unsigned char* bytes, const char* id) { return std::memcmp(bytes, id, 4) == 0; }

// Numbers in the stream are big-endian, in the map and the WAV little-endian.
inline std::int32_t ReadBigEndian32(const unsigned char* bytes) {
  return static_cast<std::int32_t>((std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                                   (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]});
}

inline void WriteBigEndian32(unsigned char* bytes, std::uint32_t value) {
  const unsigned char big[4] = {static_cast<unsigned char>(value >> 24),
                                static_cast<unsigned char>(value >> 16),
                                static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
  std::memcpy(bytes, big, 4);
}

inline void WriteId(unsigned char* bytes, const char (&id)[5]) { std::memcpy(bytes, id, 4); }

inline std::int32_t ReadLittleEndian32(const unsigned char* bytes) {
  return static_cast<std::int32_t>((std::uint32_t{bytes[3]} << 24) | (std::uint32_t{bytes[2]} << 16) |
                                   (std::uint32_t{bytes[1]} << 8) | std::uint32_t{bytes[0]});
}

inline void WriteLittleEndian32(unsigned char* bytes, std::uint32_t value) {
  bytes[0] = static_cast<unsigned char>(value);
  bytes[1] = static_cast<unsigned char>(value >> 8);
  bytes[2] = static_cast<unsigned char>(value >> 16);
  bytes[3] = static_cast<unsigned char>(value >> 24);
}

inline void WriteLittleEndian16(unsigned char* bytes, std::uint16_t value) {
  bytes[0] = static_cast<unsigned char>(value);
  bytes[1] = static_cast<unsigned char>(value >> 8);
}

}  // namespace morvane
