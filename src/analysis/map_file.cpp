#include "analysis/map_file.h"

#include "core/window.h"

namespace morvane {

void CreateMapFile(SharedState& state, Window& window) {
  try {
    state.SecondFile.Open(state.SelectedPath + kMapSuffix, ByteFile::Mode::kCreate);
  } catch (const CommandError&) {
    // The pass still runs; its first map write then fails as an operation
    // on a file that is not open.
    window.NotifyUser("Output writing Error ");
  }
}

}  // namespace morvane
