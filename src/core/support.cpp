#include "core/support.h"

#include <cstdio>

#include "core/platform.h"

namespace morvane {

std::string DecimalText(std::int32_t value) {
  // The magnitude is taken unsigned so that -2147483648 comes out right.
  std::uint32_t magnitude =
      value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  char digits[11];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::string text;
  if (value < 0) text.push_back('-');
  while (count > 0) text.push_back(digits[--count]);
  return text;
}

std::int32_t ParseLeadingInt(const std::string& text) {
  std::size_t at = 0;
  bool negative = false;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
    negative = text[at] == '-';
    ++at;
  }
  std::uint32_t value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    value = value * 10u + static_cast<std::uint32_t>(text[at] - '0');
    ++at;
  }
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> RateFromText(const std::string& text) {
  const std::int32_t rate = ParseLeadingInt(text);
  if (rate <= 0) return std::nullopt;
  return rate;
}

std::string EscapedName(const std::string& name) {
  std::string text;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    // Where the backslash separates folders (Windows) it is in no name, and
    // is shown as it is.
    if (c == '\\' && !platform::IsSeparator(c)) {
      text += "\\\\";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\t') {
      text += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      text += escaped;
    } else {
      text += c;
    }
  }
  return text;
}

std::string TrimBlanks(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= 32) ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) --last;
  return text.substr(first, last - first);
}

std::int32_t QueryFileSize(const std::string& path) {
  std::int64_t size = 0;
  if (!platform::FileSizeByName(path, size)) return 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(size)));
}

}  // namespace morvane
