#pragma once

#include <cstdint>
#include <functional>

namespace morvane {

// The arithmetic of the progress gauge: minimum <= position <= maximum at all
// times, a whole-number percentage, and a repaint only when that percentage
// changes (the decodes move the position once per frame).
class GaugeModel {
 public:
  // Called whenever what the gauge shows may have changed.
  std::function<void()> onRepaint;

  std::int32_t Minimum() const { return minimum_; }
  std::int32_t Maximum() const { return maximum_; }
  std::int32_t Position() const { return position_; }
  int Percent() const { return percent_; }

  // Raise "Value must be between %d and %d" when the range would invert.
  // Setting the value the gauge already has does nothing, at the cost of a
  // compare: Progress sets both once per frame.
  void SetMinimum(std::int32_t value) {
    if (value != minimum_) ChangeMinimum(value);
  }
  void SetMaximum(std::int32_t value) {
    if (value != maximum_) ChangeMaximum(value);
  }

  void SetPosition(std::int64_t value) {
    if (value < minimum_) value = minimum_;
    if (value > maximum_) value = maximum_;
    if (value == position_) return;
    position_ = static_cast<std::int32_t>(value);
    // Positions in [percentLow_, percentHigh_) show the same percentage.
    if (position_ >= percentLow_ && position_ < percentHigh_) return;
    Recompute();
  }

  // (position - minimum) x 100 / (maximum - minimum), without overflow,
  // rounded toward zero; 0 when maximum equals minimum.
  static int PercentOf(std::int32_t minimum, std::int32_t maximum, std::int32_t position);

 private:
  void ChangeMinimum(std::int32_t value);
  void ChangeMaximum(std::int32_t value);
  void Recompute();

  std::int32_t minimum_ = 0;
  std::int32_t maximum_ = 100;
  std::int32_t position_ = 0;
  int percent_ = 0;
  std::int64_t percentLow_ = 0;
  std::int64_t percentHigh_ = 1;
};

}  // namespace morvane
