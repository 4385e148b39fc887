#include "app/gauge_widget.h"

#include <QPainter>

namespace morvane {

GaugeWidget::GaugeWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  model_.onRepaint = [this] { repaint(); };
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
