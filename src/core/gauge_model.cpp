#include "core/gauge_model.h"

#include <cstdio>
#include <limits>

#include "core/errors.h"

namespace morvane {

namespace {
CommandError RangeError(std::int64_t low, std::int64_t high) {
  char text[96];
  std::snprintf(text, sizeof text, "Value must be between %lld and %lld", static_cast<long long>(low),
                static_cast<long long>(high));
  return CommandError(kNoFileCode, text);
}

// Smallest position p >= minimum with PercentOf(p) >= percent.
std::int64_t FirstPositionOf(std::int64_t minimum, std::int64_t span, int percent) {
  return minimum + (span * percent + 99) / 100;
}
}  // namespace

int GaugeModel::PercentOf(std::int32_t minimum, std::int32_t maximum, std::int32_t position) {
  const std::int64_t span = std::int64_t{maximum} - minimum;
  if (span == 0) return 0;
  return static_cast<int>((std::int64_t{position} - minimum) * 100 / span);
}

void GaugeModel::ChangeMinimum(std::int32_t value) {
  if (value > maximum_)
    throw RangeError(-std::numeric_limits<std::int32_t>::max(), std::int64_t{maximum_} - 1);
  minimum_ = value;
  if (position_ < minimum_) position_ = minimum_;
  Recompute();
}

void GaugeModel::ChangeMaximum(std::int32_t value) {
  if (value < minimum_)
    throw RangeError(std::int64_t{minimum_} + 1, std::numeric_limits<std::int32_t>::max());
  maximum_ = value;
  if (position_ > maximum_) position_ = maximum_;
  Recompute();
}

void GaugeModel::Recompute() {
  const std::int64_t span = std::int64_t{maximum_} - minimum_;
  percent_ = PercentOf(minimum_, maximum_, position_);
  if (span == 0) {
    percentLow_ = minimum_;
    percentHigh_ = std::int64_t{maximum_} + 1;
  } else {
    percentLow_ = FirstPositionOf(minimum_, span, percent_);
    percentHigh_ =
        percent_ >= 100 ? std::int64_t{maximum_} + 1 : FirstPositionOf(minimum_, span, percent_ + 1);
  }
  if (onRepaint) onRepaint();
}

}  // namespace morvane
