#include "cli/map_headers.h"

#include "analysis/map_file.h"
#include "core/byte_file.h"

namespace morvane {

std::vector<std::optional<std::int32_t>> SoundHeaderRates(const std::string& mapPath) {
  ByteFile file;
  file.Open(mapPath, ByteFile::Mode::kRead);
  std::vector<std::optional<std::int32_t>> rates;
  MapReader reader(file);
  MapRecord record;
  while (reader.Next(record)) {
    if (record.kind != MapRecord::Kind::kShdr) continue;
    if (record.header) {
      rates.push_back(record.header->sampleRate);
    } else {
      rates.push_back(std::nullopt);
    }
  }
  file.Close();
  return rates;
}

}  // namespace morvane
