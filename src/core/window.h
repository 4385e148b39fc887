#pragma once

#include <string>

#include "core/gauge_model.h"

namespace morvane {

// The value labels of the information rows that the passes write.
enum class ValueLabel {
  Label13 = 13,
  Label14,
  Label15,
  Label16,
  Label17,
  Label18,
  Label19,
  Label20,
  Label21,
  Label22,
  Label23,
  Label24,
  Label26 = 26,
  Label28 = 28,
  Label30 = 30
};

// The fifteen information rows in window order: the caption label's number,
// its text, and the value label beside it.
struct InformationRow {
  int captionLabel;
  const char* caption;
  ValueLabel value;
};
inline constexpr InformationRow kInformationRows[] = {
    {25, "Video Format:", ValueLabel::Label26},
    {1, "Audio Format:", ValueLabel::Label13},
    {2, "Compression Type:", ValueLabel::Label14},
    {3, "Frequency:", ValueLabel::Label15},
    {4, "Version:", ValueLabel::Label16},
    {5, "Number Of Buffers:", ValueLabel::Label17},
    {6, "Initial Amplitude:", ValueLabel::Label18},
    {7, "Initial Balance:", ValueLabel::Label19},
    {8, "Data Format:", ValueLabel::Label20},
    {9, "Sample Size:", ValueLabel::Label21},
    {10, "Number Of Samples:", ValueLabel::Label22},
    {11, "Number Of Channels:", ValueLabel::Label23},
    {12, "Compression Ratio:", ValueLabel::Label24},
    {27, "Time:", ValueLabel::Label28},
    {29, "Stream:", ValueLabel::Label30},
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
