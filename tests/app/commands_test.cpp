#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "app/form1.h"
#include "form_fixture.h"
#include "support/sound_models.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

using namespace morvane;
using namespace morvane::test;
using Fixture = FormFixture;

namespace {

// Runs the action at the n-th look at the queue from now on.
void AtNthPump(QObject* context, int n, std::function<void()> action) {
  auto* timer = new QTimer(context);
  auto count = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, context, [timer, count, n, action] {
    if (++*count == n) {
      timer->stop();
      timer->deleteLater();
      action();
    }
  });
  timer->start(0);
}

// The 142-byte sound file whose one frame is 10 20, and the WAV it gives at 22050 Hz.
Bytes OneFrameSound() {
  Bytes sound = test::PatternBytes(140, 5);
  sound.push_back(0x10);
  sound.push_back(0x20);
  return sound;
}
const Bytes
    kOneFrameWav = {0x52, 0x49, 0x46, 0x46, 0x28, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66,
                    0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x22, 0x56,
                    0x00, 0x00, 0x88, 0x58, 0x01, 0x00, 0x04, 0x00, 0x10, 0x00, 0x64, 0x61, 0x74,
                    0x61, 0x04, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x08};  // 10 20: left 512, right 2048

}  // namespace

class CommandsTest : public QObject {
  Q_OBJECT

 private slots:
  void analyzeThenExtractWritesEachStream();
  void stopEndsTheWalkAfterTheCurrentRecord();
  void missingMapIsToldOnceAndKeepsTheMemo();
  void sdx2ToWavWritesTheWaveAndFillsTheGauge();
  void sdx2ToWavPutsTheLeftToneOnTheLeft();
  void playHandsTheSameImageToThePlayer();
  void closingDuringAWalkStopsIt();
};

void CommandsTest::analyzeThenExtractWritesEachStream() {
  TempDir dir;
  Fixture f;
  StreamBuilder stream;
  const Bytes a1 = test::PatternBytes(30, 1), a2 = test::PatternBytes(7, 2), b1 = test::PatternBytes(25, 3);
  stream.Shdr({}).Ssmp(a1).Sized("FILM", test::PatternBytes(40, 9)).Ssmp(a2).Shdr({}).Ssmp(b1);
  const std::string path = dir.Write("intro.str", stream.bytes());
  f.Pick(path);
  f.form->BitBtn1Click();
  f.Pick(path);
  QString statesInNotice;
  f.dialogs->onNotify = [&](const QString&) { statesInNotice = ButtonStates(*f.form); };
  f.form->BitBtn2Click();

  QCOMPARE(f.dialogs->notices, QStringList({"Process finished", "Process Completed"}));
  Bytes first = a1;
  first.insert(first.end(), a2.begin(), a2.end());
  QCOMPARE(test::ReadAll(path + "0.sound"), first);
  QCOMPARE(test::ReadAll(path + "1.sound"), b1);
  QCOMPARE(f.form->MemoText(),
           "MAP-file \"" + path + ".map\" loaded successfully\r\nFile \"" + path + "1.sound\" created");
  // While the box is up, Extract and SDX2 to WAV stay disabled.
  QCOMPARE(statesInNotice, QStringLiteral("EdddE"));
  QCOMPARE(ButtonStates(*f.form), QStringLiteral("EEEdE"));
  QCOMPARE(f.form->Gauge1->model().Percent(), 0);  // the walk never moves the gauge
}

void CommandsTest::stopEndsTheWalkAfterTheCurrentRecord() {
  TempDir dir;
  Fixture f;
  StreamBuilder stream;
  stream.Shdr({});
  const int records = 20000;
  const Bytes data = test::PatternBytes(12, 4);
  for (int i = 0; i < records; ++i) stream.Ssmp(data);
  const std::string path = dir.Write("long.str", stream.bytes());
  f.Pick(path);
  f.form->BitBtn1Click();

  f.Pick(path);
  QString statesInWalk;
  AtNthPump(f.form.get(), 100, [&] {
    statesInWalk = ButtonStates(*f.form);
    QTest::mouseClick(f.form->Button1, Qt::LeftButton);
    QVERIFY(!f.form->Button1->isEnabled());
  });
  f.form->BitBtn2Click();

  QCOMPARE(statesInWalk, QStringLiteral("EddEE"));
  QCOMPARE(f.dialogs->notices.last(), QStringLiteral("Process Completed"));
  QVERIFY(f.dialogs->errors.isEmpty());
  QVERIFY(!f.state.StopRequested);
  QVERIFY(!f.form->Button1->isEnabled());
  QVERIFY(!f.state.InputFile.IsOpen());
  QVERIFY(!f.state.SecondFile.IsOpen());
  // The file holds whole records only, and fewer than all of them.
  const Bytes written = test::ReadAll(path + "0.sound");
  QVERIFY(!written.empty());
  QVERIFY(written.size() < data.size() * records);
  QCOMPARE(written.size() % data.size(), std::size_t{0});
  for (std::size_t at = 0; at < written.size(); at += data.size()) {
    QVERIFY(std::equal(data.begin(), data.end(), written.begin() + static_cast<std::ptrdiff_t>(at)));
  }
  QCOMPARE(ButtonStates(*f.form), QStringLiteral("EEEdE"));
}

void CommandsTest::missingMapIsToldOnceAndKeepsTheMemo() {
  TempDir dir;
  Fixture f;
  const std::string path = dir.Write("nomap.str", StreamBuilder().Shdr({}).bytes());
  f.Pick(path);
  f.form->BitBtn2Click();
  QCOMPARE(f.dialogs->notices,
           QStringList{QString::fromStdString("Input Error. File \"" + path + ".MAP\" not found.\"")});
  QCOMPARE(f.form->MemoText(), std::string("Information about file:"));
  QVERIFY(!f.state.MapMissing);
  QCOMPARE(ButtonStates(*f.form), QStringLiteral("EEEdE"));
}

// Even offsets of each pair carry 440 Hz, odd offsets 660 Hz: 440 Hz is the
// left channel of the WAV.
void CommandsTest::sdx2ToWavPutsTheLeftToneOnTheLeft() {
  TempDir dir;
  Fixture f;
  const Bytes sound = test::Concat({test::PatternBytes(140, 5), TwoToneSdx2(440, 660, 22050, 11025)});
  const std::string path = dir.Write("tones.sound", sound);
  f.form->Edit1->setText(QStringLiteral("22050"));
  f.Pick(path);
  f.form->BitBtn3Click();
  const Bytes wav = test::ReadAll(path + ".wav");
  QCOMPARE(wav.size(), std::size_t{44 + 4 * 11025});
  const Bytes pcm(wav.begin() + 44, wav.end());
  QVERIFY(ToneLevel(pcm, 2, 0, 440, 22050) > 0.4);
  QVERIFY(ToneLevel(pcm, 2, 0, 660, 22050) < 0.01);
  QVERIFY(ToneLevel(pcm, 2, 1, 660, 22050) > 0.4);
}

void CommandsTest::sdx2ToWavWritesTheWaveAndFillsTheGauge() {
  TempDir dir;
  Fixture f;
  const std::string path = dir.Write("name1.sound", OneFrameSound());
  f.form->Edit1->setText(QStringLiteral("22050"));
  f.Pick(path);
  QString statesInNotice;
  f.dialogs->onNotify = [&](const QString&) { statesInNotice = ButtonStates(*f.form); };
  f.form->BitBtn3Click();
  QCOMPARE(f.dialogs->notices, QStringList{"Process Completed"});
  QCOMPARE(test::ReadAll(path + ".wav"), kOneFrameWav);
  QCOMPARE(f.form->Gauge1->model().Percent(), 100);
  QCOMPARE(statesInNotice, QStringLiteral("EdddE"));
  QVERIFY(!f.state.SourceImage && !f.state.WaveImage);  // released
  QCOMPARE(int{f.state.ProgressStep}, 1);
}

void CommandsTest::playHandsTheSameImageToThePlayer() {
  TempDir dir;
  Fixture f;
  const std::string path = dir.Write("name1.sound", OneFrameSound());
  f.form->Edit1->setText(QStringLiteral("22050"));
  f.Pick(path);
  f.form->Button2Click();
  QVERIFY(f.dialogs->notices.isEmpty());
  QCOMPARE(f.player->played.size(), std::size_t{1});
  QCOMPARE(f.player->played[0]->bytes, kOneFrameWav);
  QVERIFY(!test::Exists(path + ".wav"));
  QVERIFY(!f.state.FileOpened);
  QVERIFY(f.state.WaveImage != nullptr);  // kept while it may play
  const int stopsBefore = f.player->stops;

  // A second PLAY stops the first sound before decoding; a cancelled one does nothing.
  f.Pick(path);
  f.form->Button2Click();
  QVERIFY(f.player->stops > stopsBefore);
  QCOMPARE(f.player->played.size(), std::size_t{2});
  const int stopsAfter = f.player->stops;
  f.form->Button2Click();  // no answer: cancelled
  QCOMPARE(f.player->stops, stopsAfter);
  QCOMPARE(f.player->played.size(), std::size_t{2});
}

void CommandsTest::closingDuringAWalkStopsIt() {
  TempDir dir;
  Fixture f;
  f.form->show();
  StreamBuilder stream;
  stream.Shdr({});
  for (int i = 0; i < 20000; ++i) stream.Ssmp(test::PatternBytes(12, 4));
  const std::string path = dir.Write("long.str", stream.bytes());
  f.Pick(path);
  f.form->BitBtn1Click();
  f.Pick(path);
  AtNthPump(f.form.get(), 100, [&] { f.form->close(); });
  f.form->BitBtn2Click();
  QVERIFY(test::ReadAll(path + "0.sound").size() < 12u * 20000u);  // stopped early
  QVERIFY(!f.state.StopRequested);
  QTRY_VERIFY(!f.form->isVisible());
}

QTEST_MAIN(CommandsTest)
#include "commands_test.moc"
