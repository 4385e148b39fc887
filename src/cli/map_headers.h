#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

// The sample rate of every sound header of the map, in the order the
// extraction numbers its sound files: the n-th "SHDR" record starts sound
// file n. The map is read with the extraction's own reader, so that the two
// always agree on what a header record is. A header record cut short by the
// end of the map still starts a sound file, but has no rate (nullopt).
// Raises the file layer's errors, and "Read beyond end of file" where the
// extraction's walk would meet the end of the map.
std::vector<std::optional<std::int32_t>> SoundHeaderRates(const std::string& mapPath);

}  // namespace morvane
