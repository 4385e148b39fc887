#include "cli/map_headers.h"

#include <cstring>

#include "analysis/map_file.h"
#include "core/byte_file.h"
#include "core/errors.h"
#include "core/support.h"

namespace morvane {

namespace {

constexpr std::size_t kIdSize = 4;
constexpr std::size_t kValueSize = 4;
// Offset of the sample rate in an "SHDR" record, from the record's kind.
constexpr std::size_t kShdrRateOffset = 20;
constexpr auto kSnds = static_cast<std::size_t>(kSndsRecordSize);
constexpr auto kSsmp = static_cast<std::size_t>(kSsmpRecordSize);
constexpr auto kShdr = static_cast<std::size_t>(kShdrRecordSize);
static_assert(kShdrRateOffset + kValueSize <= kShdr);

bool IsId(const unsigned char* bytes, const char* id) { return std::memcmp(bytes, id, kIdSize) == 0; }

}  // namespace

std::vector<std::optional<std::int32_t>> SoundHeaderRates(const std::string& mapPath) {
  ByteFile file;
  file.Open(mapPath, ByteFile::Mode::kRead);
  std::vector<unsigned char> map(static_cast<std::size_t>(file.Size()));
  if (!map.empty()) file.Read(map.data(), map.size());
  file.Close();

  std::vector<std::optional<std::int32_t>> rates;
  auto need = [&map](std::size_t at, std::size_t count) {
    if (map.size() - at < count) throw CommandError(kReadBeyondEnd);
  };
  for (std::size_t at = 0; at < map.size();) {
    need(at, kIdSize);
    const unsigned char* record = map.data() + at;
    if (IsId(record, "SNDS")) {
      need(at, kSnds);
      at += kSnds;
    } else if (IsId(record, "SSMP")) {
      need(at, kSsmp);
      at += kSsmp;
    } else if (IsId(record, "SHDR")) {
      if (map.size() - at >= kShdr) {
        rates.push_back(ReadLittleEndian32(record + kShdrRateOffset));
      } else {
        rates.push_back(std::nullopt);
      }
      at += kShdr;
    } else {
      // Anything else, an "SSND" record included, is passed over 4 bytes at
      // a time.
      at += kIdSize;
    }
  }
  return rates;
}

}  // namespace morvane
