#pragma once

#include "core/shared_state.h"

namespace morvane {

class Window;

// Opens SelectedPath + ".MAP" for reading as SecondFile and replaces Memo1's
// text with the map-loaded line, or tells the user and sets MapMissing.
void OpenMapFile(SharedState& state, Window& window);

// The map walk: copies the sound data of every stream into SelectedPath +
// number + ".sound". Enables STOP while it runs; clears StopRequested,
// disables STOP and closes every file however it ends.
void ExtractSounds(SharedState& state, Window& window);

}  // namespace morvane
