#include "app/gauge_widget.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>

namespace morvane {

namespace {

// What assistive technology reads of the gauge: a progress bar whose value
// is the percentage it shows.
class GaugeAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit GaugeAccessible(GaugeWidget* gauge) : QAccessibleWidget(gauge, QAccessible::ProgressBar) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Value) return QStringLiteral("%1%").arg(Percent());
    return QAccessibleWidget::text(kind);
  }

  QVariant currentValue() const override { return Percent(); }
  void setCurrentValue(const QVariant&) override {}  // the user cannot move it
  QVariant maximumValue() const override { return 100; }
  QVariant minimumValue() const override { return 0; }
  QVariant minimumStepSize() const override { return 1; }

 private:
  int Percent() const { return static_cast<GaugeWidget*>(widget())->model().Percent(); }
};

QAccessibleInterface* GaugeAccessibleFactory(const QString&, QObject* object) {
  if (auto* gauge = qobject_cast<GaugeWidget*>(object)) return new GaugeAccessible(gauge);
  return nullptr;
}

}  // namespace

GaugeWidget::GaugeWidget(QWidget* parent) : QWidget(parent) {
  static const bool factoryInstalled = (QAccessible::installFactory(GaugeAccessibleFactory), true);
  Q_UNUSED(factoryInstalled);
  setAttribute(Qt::WA_OpaquePaintEvent);
  model_.onRepaint = [this] {
    repaint();
    if (QAccessible::isActive()) {
      QAccessibleValueChangeEvent event(this, model_.Percent());
      QAccessible::updateAccessibility(&event);
    }
  };
}

void GaugeWidget::paintEvent(QPaintEvent*) {
  ++paintCount_;
  QPainter painter(this);
  const QRect inner = rect().adjusted(1, 1, -1, -1);
  painter.fillRect(rect(), Qt::black);
  painter.fillRect(inner, Qt::white);
  const int filled = inner.width() * model_.Percent() / 100;
  const QRect bar(inner.left(), inner.top(), filled, inner.height());
  painter.fillRect(bar, Qt::black);

  // The text is black over the white part and white over the black part.
  const QString text = QStringLiteral("%1%").arg(model_.Percent());
  painter.setFont(font());
  painter.save();
  painter.setClipRect(inner.adjusted(filled, 0, 0, 0));
  painter.setPen(Qt::black);
  painter.drawText(inner, Qt::AlignCenter, text);
  painter.restore();
  painter.setClipRect(bar);
  painter.setPen(Qt::white);
  painter.drawText(inner, Qt::AlignCenter, text);
}

}  // namespace morvane
