#pragma once

#include <cstdint>

#include "core/shared_state.h"

namespace morvane {

class Window;

// The map: SelectedPath + ".MAP", a headerless sequence of records, each a
// 4-byte kind and a body whose length depends on the kind alone. Numbers are
// little-endian.
inline constexpr char kMapSuffix[] = ".MAP";
inline constexpr int kSndsRecordSize = 8;
inline constexpr int kSsmpRecordSize = 12;
inline constexpr int kShdrRecordSize = 40;
inline constexpr int kSsndRecordSize = 12;

// Creates (empties) the map as SecondFile for writing; "Output writing Error "
// when it cannot.
void CreateMapFile(SharedState& state, Window& window);

}  // namespace morvane
