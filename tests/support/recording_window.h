#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio/wav_image.h"
#include "core/window.h"

namespace morvane::test {

// A Window that records what the passes show, for tests of the passes alone.
class RecordingWindow : public Window {
 public:
  RecordingWindow();

  void SetLabel(ValueLabel label, const std::string& text) override { labels[label] = text; }
  std::string MemoText() const override { return memo; }
  void SetMemoText(const std::string& text) override { memo = text; }
  void AppendMemoLine(const std::string& line) override { memo += "\r\n" + line; }
  GaugeModel& Gauge() override { return gauge; }
  void SetStopEnabled(bool enabled) override {
    stopEnabled = enabled;
    stopChanges.push_back(enabled);
  }
  std::string RateText() const override { return rate; }
  void NotifyUser(const std::string& text) override { notices.push_back(text); }
  void ProcessPendingMessages() override {
    ++pumps;
    if (onPump) onPump();
  }

  // The label's text; "Unknown" while nothing has set it.
  std::string Label(ValueLabel label) const;

  std::map<ValueLabel, std::string> labels;
  std::string memo = "Information about file:";
  GaugeModel gauge;
  int repaints = 0;
  bool stopEnabled = false;
  std::vector<bool> stopChanges;
  std::string rate;
  std::vector<std::string> notices;
  long long pumps = 0;
  std::function<void()> onPump;
};

// Records what PLAY hands to the player.
class RecordingPlayer : public SoundPlayer {
 public:
  void Play(std::shared_ptr<const ByteImage> image) override { played.push_back(std::move(image)); }
  void Stop() override { ++stops; }
  std::vector<std::shared_ptr<const ByteImage>> played;
  int stops = 0;
};

}  // namespace morvane::test
