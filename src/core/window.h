#pragma once

#include <string>

#include "core/gauge_model.h"

namespace morvane {

// The value labels of the information rows that the passes write.
enum class ValueLabel {
  Label13 = 13,  // Audio Format
  Label14 = 14,  // Compression Type
  Label15 = 15,  // Frequency
  Label16 = 16,  // Version
  Label17 = 17,  // Number Of Buffers
  Label18 = 18,  // Initial Amplitude
  Label19 = 19,  // Initial Balance
  Label20 = 20,  // Data Format
  Label21 = 21,  // Sample Size
  Label22 = 22,  // Number Of Samples
  Label23 = 23,  // Number Of Channels
  Label24 = 24,  // Compression Ratio
  Label26 = 26,  // Video Format (never written)
  Label28 = 28,  // Time
  Label30 = 30,  // Stream
};

// What the passes reach of the window. The Qt window implements it, the
// command-line companion prints through it, and tests record it.
class Window {
 public:
  virtual ~Window() = default;

  virtual void SetLabel(ValueLabel label, const std::string& text) = 0;

  // Memo1. The text's lines are joined by CR LF; appending adds a line break
  // and the line at the end of the whole text.
  virtual std::string MemoText() const = 0;
  virtual void SetMemoText(const std::string& text) = 0;
  virtual void AppendMemoLine(const std::string& line) = 0;

  virtual GaugeModel& Gauge() = 0;
  virtual void SetStopEnabled(bool enabled) = 0;  // Button1
  virtual std::string RateText() const = 0;       // Edit1

  // A modal box with the caption "Morvane", the text unchanged, no icon.
  virtual void NotifyUser(const std::string& text) = 0;
  // Lets the window handle what waits in its queue; called once per unit of
  // work of a pass (chunk, map record, frame).
  virtual void ProcessPendingMessages() = 0;
  // Called between the pieces of a long load or save, which are no units of
  // work: lets the window look at its queue when that is due.
  virtual void KeepResponsive() {}
  // The end of FileOpen, whether or not a file was opened: the window makes
  // Analyze File usable again.
  virtual void FileOpenEnded() {}
};

}  // namespace morvane
