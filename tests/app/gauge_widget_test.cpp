#include "app/gauge_widget.h"

#include <QImage>
#include <QtTest>

using morvane::GaugeWidget;

class GaugeWidgetTest : public QObject {
  Q_OBJECT

 private slots:
  void drawsTheBarAndRepaintsOnlyOnPercentChange();
};

namespace {
int BlackColumns(const QImage& image, int row) {
  int count = 0;
  for (int x = 1; x < image.width() - 1; ++x) {
    if (image.pixelColor(x, row) == Qt::black) ++count;
  }
  return count;
}
}  // namespace

void GaugeWidgetTest::drawsTheBarAndRepaintsOnlyOnPercentChange() {
  GaugeWidget gauge;
  gauge.resize(100, 25);
  gauge.show();
  QVERIFY(QTest::qWaitForWindowExposed(&gauge));
  gauge.model().SetMaximum(1000);
  const int before = gauge.paintCount();
  for (int p = 0; p <= 500; p += 2) gauge.model().SetPosition(p);
  QCOMPARE(gauge.paintCount() - before, 50);  // once per whole percent

  const QImage half = gauge.grab().toImage();
  // Frame black; a row above the text is black over 98 * 50 / 100 = 49 inner columns.
  QCOMPARE(half.pixelColor(0, 0), QColor(Qt::black));
  QCOMPARE(BlackColumns(half, 2), 49);
  QCOMPARE(half.pixelColor(1 + 48, 2), QColor(Qt::black));
  QCOMPARE(half.pixelColor(1 + 49, 2), QColor(Qt::white));
  // In the text's row both colours cross the middle: the text is inverted.
  bool whiteInBlack = false, blackInWhite = false;
  for (int y = 6; y < 19; ++y) {
    for (int x = 30; x < 49; ++x) whiteInBlack |= half.pixelColor(x, y) == Qt::white;
    for (int x = 50; x < 70; ++x) blackInWhite |= half.pixelColor(x, y) == Qt::black;
  }
  QVERIFY(whiteInBlack);
  QVERIFY(blackInWhite);

  gauge.model().SetPosition(1000);
  QCOMPARE(BlackColumns(gauge.grab().toImage(), 2), 98);
}

QTEST_MAIN(GaugeWidgetTest)
#include "gauge_widget_test.moc"
