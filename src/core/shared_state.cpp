#include "core/shared_state.h"

#include "core/support.h"
#include "core/window.h"

namespace morvane {

void OpenSelectedFile(SharedState& state, Window& window, const std::string& path) {
  state.SelectedPath = path;
  if (!TrimBlanks(state.SelectedPath).empty()) {
    // The chosen file is only ever read, so a read-only file opens too.
    try {
      state.InputFile.Open(state.SelectedPath, ByteFile::Mode::kRead);
      state.FileOpened = true;
    } catch (const CommandError&) {
      window.NotifyUser("Input Error ");
    }
  }
  state.TotalSize = QueryFileSize(state.SelectedPath);
}

void Progress(SharedState& state, Window& window) {
  GaugeModel& gauge = window.Gauge();
  gauge.SetMinimum(0);
  gauge.SetMaximum(state.TotalSize);
  gauge.SetPosition(std::int64_t{gauge.Position()} + state.ProgressStep);
  if (state.ProgressStep == 0) gauge.SetPosition(gauge.Maximum());
}

}  // namespace morvane
