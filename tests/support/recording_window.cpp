#include "support/recording_window.h"

namespace morvane::test {

RecordingWindow::RecordingWindow() {
  gauge.onRepaint = [this] { ++repaints; };
}

std::string RecordingWindow::Label(ValueLabel label) const {
  auto found = labels.find(label);
  return found == labels.end() ? "Unknown" : found->second;
}

}  // namespace morvane::test
