#pragma once

#include <QWidget>

#include "core/gauge_model.h"

namespace morvane {

// Gauge1: a bar inside a 1-pixel black frame, filled in black from the left,
// with the percentage drawn inverted over it. It repaints at once, and only
// when what it shows changes. Assistive technology reads it as a progress
// bar whose value is the percentage.
class GaugeWidget : public QWidget {
  Q_OBJECT

 public:
  explicit GaugeWidget(QWidget* parent = nullptr);

  GaugeModel& model() { return model_; }
  int paintCount() const { return paintCount_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  GaugeModel model_;
  int paintCount_ = 0;
};

}  // namespace morvane
