#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>

#include "core/window.h"

namespace morvane {

// The window as the command line sees it: the labels and the text box are
// kept to be printed when a command ends, notices go out at once, the rate
// box holds the text given with --rate, and the gauge keeps its arithmetic
// (and its errors) without being drawn.
class ConsoleWindow : public Window {
 public:
  // Where the notices go; one line each on stderr unless set otherwise.
  explicit ConsoleWindow(std::function<void(const std::string&)> noticeSink = {});

  void SetLabel(ValueLabel label, const std::string& text) override { labels_[label] = text; }
  std::string MemoText() const override { return memo_; }
  void SetMemoText(const std::string& text) override { memo_ = text; }
  void AppendMemoLine(const std::string& line) override { memo_ += "\r\n" + line; }
  GaugeModel& Gauge() override { return gauge_; }
  void SetStopEnabled(bool) override {}  // nothing can click STOP here
  std::string RateText() const override { return rate_; }
  void NotifyUser(const std::string& text) override;
  void ProcessPendingMessages() override {}  // no queue to look at

  void SetRateText(const std::string& text) { rate_ = text; }

  // The fifteen information rows in window order, each "Caption: value\n".
  std::string InformationRows() const;
  // What a value label shows: "Unknown" until a pass sets it.
  std::string Label(ValueLabel label) const;

 private:
  std::function<void(const std::string&)> noticeSink_;
  std::map<ValueLabel, std::string> labels_;
  std::string memo_ = "Information about file:";
  GaugeModel gauge_;
  std::string rate_;
};

// The memo's lines as printed: each ended by "\n" instead of joined by CR LF.
std::string PrintedLines(const std::string& memoText);

// The lines appended to the memo since it held `before`, as printed; all of
// its lines when its text was replaced meanwhile.
std::string AppendedLines(const std::string& before, const std::string& after);

}  // namespace morvane
