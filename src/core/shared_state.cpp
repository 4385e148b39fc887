#include "core/shared_state.h"

#include <limits>

#include "core/support.h"
#include "core/window.h"

namespace morvane {

namespace {
constexpr std::int64_t kLargestInputSize = std::numeric_limits<std::int32_t>::max();
}  // namespace

void OpenSelectedFile(SharedState& state, Window& window, const std::string& path) {
  state.SelectedPath = path;
  state.InputRefusal.clear();
  if (!TrimBlanks(state.SelectedPath).empty()) {
    // The chosen file is only ever read, so a read-only file opens too.
    try {
      state.InputFile.Open(state.SelectedPath, ByteFile::Mode::kRead);
      // The map's positions, the gauge and the passes' moves are 32-bit: a
      // file of 2 GiB or more is refused before anything is written.
      if (state.InputFile.Size() >= kLargestInputSize + 1) {
        state.InputFile.CloseQuietly();
        throw CommandError(kNoFileCode, kTooLargeText);
      }
      state.FileOpened = true;
    } catch (const CommandError& refusal) {
      // A file that is no regular file or too large is told apart from one
      // that could not be opened.
      if (refusal.code() == kNoFileCode) state.InputRefusal = refusal.text();
      window.NotifyUser("Input Error ");
    }
  }
  state.TotalSize = QueryFileSize(state.SelectedPath);
}

void Progress(SharedState& state, Window& window) { Progress(state, window, 1); }

void Progress(SharedState& state, Window& window, std::int64_t calls) {
  if (calls <= 0) return;
  GaugeModel& gauge = window.Gauge();
  gauge.SetMinimum(0);
  gauge.SetMaximum(state.TotalSize);
  // The step is never negative, so holding the sum once within the range
  // gives what holding it after every step would.
  gauge.SetPosition(std::int64_t{gauge.Position()} + std::int64_t{state.ProgressStep} * calls);
  if (state.ProgressStep == 0) gauge.SetPosition(gauge.Maximum());
}

}  // namespace morvane
