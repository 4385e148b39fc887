#pragma once

#include "core/shared_state.h"

namespace morvane {

class Window;

// The analysis pass: walks the chunks of InputFile, fills the labels, writes
// the map into SecondFile, appends the summary to Memo1 and fills the gauge.
// Closes both files however it ends.
void AnalyzeStream(SharedState& state, Window& window);

}  // namespace morvane
