#include "app/form1.h"

#include <sys/stat.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <filesystem>

#include "form_fixture.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

using namespace morvane;
using namespace morvane::test;
using Fixture = FormFixture;

namespace {

Bytes SmallStream(int chunks) {
  StreamBuilder stream;
  StreamBuilder::Header header;
  stream.Shdr(header);
  for (int i = 1; i < chunks; ++i) stream.Ssmp(test::PatternBytes(16, static_cast<std::uint32_t>(i)), i, 0);
  return stream.bytes();
}

}  // namespace

class Form1Test : public QObject {
  Q_OBJECT

 private slots:
  void initialWindowMatchesTheLayout();
  void analyzeFileShowsLabelsMemoAndFullGauge();
  void cancelledDialogChangesNothing();
  void inputErrorForAFileThatCannotBeOpened();
  void failingPassShowsTheErrorBoxAndFreesTheButtons();
  void secondCommandIsRefusedWhileOneRuns();
  void buttonStatesFollowTheTableDuringAnalyze();
  void buttonStatesDuringExtractAndConvertDialogs();
  void closingDuringACommandWaitsForItsEnd();
  void aboutShowsTheOlderVersion();
  void noPositiveRateEndsBeforeTheDialog();
  void oddInputsAreRefusedAtOnce();
};

void Form1Test::initialWindowMatchesTheLayout() {
  Fixture f;
  Form1& form = *f.form;
  QCOMPARE(form.windowTitle(), QStringLiteral("Tarrow Morvane ver.0.2.5"));
  QCOMPARE(form.centralWidget()->size(), QSize(617, 298));
  QCOMPARE(form.minimumSize(), form.maximumSize());
  QCOMPARE(form.centralWidget()->palette().color(QPalette::Window), QColor(192, 192, 192));
  QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
  QCOMPARE(form.menuBar()->actions().size(), 1);
  QCOMPARE(form.menuBar()->actions().first()->text(), QStringLiteral("About"));
  QVERIFY(form.About1->menu() == nullptr);

  struct Control {
    QWidget* widget;
    QRect geometry;
    QString text;
    bool enabled;
  };
  const std::vector<Control> controls = {
      {form.Memo1, {48, 24, 337, 161}, "Information about file:", true},
      {form.BitBtn1, {48, 216, 89, 25}, "Analyze File", true},
      {form.BitBtn2, {152, 216, 81, 25}, "Extract Chunks", true},
      {form.Button1, {240, 216, 41, 25}, "STOP", false},
      {form.Gauge1, {288, 216, 100, 25}, "", true},
      {form.Button2, {48, 256, 41, 25}, "PLAY", true},
      {form.BitBtn3, {104, 256, 75, 25}, "SDX2 to WAV", true},
      {form.Edit1, {200, 256, 49, 21}, "", true},
      {form.Edit2, {280, 256, 25, 21}, "- 2 -", false},
  };
  for (const Control& c : controls) {
    QCOMPARE(c.widget->geometry(), c.geometry);
    QCOMPARE(c.widget->isEnabled(), c.enabled);
    if (auto* button = qobject_cast<QPushButton*>(c.widget)) QCOMPARE(button->text(), c.text);
    if (auto* edit = qobject_cast<QLineEdit*>(c.widget)) QCOMPARE(edit->text(), c.text);
  }
  QCOMPARE(form.Memo1->toPlainText(), QStringLiteral("Information about file:"));
  QVERIFY(form.Memo1->isReadOnly());
  QCOMPARE(form.Edit1->maxLength(), 5);
  QCOMPARE(form.Gauge1->model().Percent(), 0);
  QCOMPARE(form.Gauge1->model().Maximum(), 100);

  // Caption labels at 400 (or their own left), value labels "Unknown".
  struct Place {
    int top;
    int captionLeft, valueLeft;
  };
  const std::vector<Place> places = {{24, 400, 512},  {40, 400, 512},  {56, 400, 512},  {72, 400, 512},
                                     {96, 400, 512},  {120, 400, 512}, {136, 400, 512}, {152, 400, 512},
                                     {168, 400, 512}, {192, 400, 512}, {208, 400, 512}, {224, 400, 512},
                                     {240, 400, 512}, {264, 400, 432}, {264, 496, 544}};
  QCOMPARE(places.size(), std::size(kInformationRows));
  for (std::size_t i = 0; i < places.size(); ++i) {
    const InformationRow& row = kInformationRows[i];
    const int value = static_cast<int>(row.value);
    QCOMPARE(form.Labels[row.captionLabel]->text(), QString::fromLatin1(row.caption));
    QCOMPARE(form.Labels[row.captionLabel]->pos(), QPoint(places[i].captionLeft, places[i].top));
    QCOMPARE(form.Labels[value]->text(), QStringLiteral("Unknown"));
    QCOMPARE(form.Labels[value]->pos(), QPoint(places[i].valueLeft, places[i].top));
    QCOMPARE(form.Labels[value]->height(), 13);
  }
  QCOMPARE(form.Labels[31]->text(), QStringLiteral("Hz"));
  QCOMPARE(form.Labels[31]->pos(), QPoint(256, 264));
  QCOMPARE(form.Labels[32]->text(), QStringLiteral("Compress Ratio"));
  QCOMPARE(form.Labels[32]->pos(), QPoint(312, 264));

  // Tab order: Analyze, Memo, Extract, SDX2 to WAV, Edit1, STOP, Edit2, PLAY.
  const std::vector<QWidget*> order = {form.BitBtn1, form.Memo1,   form.BitBtn2, form.BitBtn3,
                                       form.Edit1,   form.Button1, form.Edit2,   form.Button2};
  for (std::size_t i = 0; i + 1 < order.size(); ++i) {
    QWidget* next = order[i]->nextInFocusChain();
    while (next != order[i + 1] && next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
    QCOMPARE(next, order[i + 1]);
  }
}

void Form1Test::analyzeFileShowsLabelsMemoAndFullGauge() {
  TempDir dir;
  Fixture f;
  const std::string path = dir.Write("intro.str", SmallStream(5));
  f.dialogs->answers.push_back(QString::fromStdString(path));
  f.form->BitBtn1Click();

  QCOMPARE(f.dialogs->asked.size(), std::size_t{1});
  QCOMPARE(f.dialogs->asked[0].title, QStringLiteral("Open File"));
  QCOMPARE(f.dialogs->asked[0].folder, QDir::currentPath());
  QCOMPARE(f.dialogs->asked[0].filter, QStringLiteral("All files (*.*)|*.*|"));
  QCOMPARE(f.dialogs->notices, QStringList{"Process finished"});
  QVERIFY(f.dialogs->errors.isEmpty());
  const std::string memo = "Information about file:\r\n" + path +
                           "\r\nSummary Info:\r\nSNDS chunks founded:5\r\nSHDR sub-chunks founded:1"
                           "\r\nSSMP sub-chunks founded:4\r\nSSND chunks founded:0\r\n";
  QCOMPARE(f.form->MemoText(), memo);
  QString shown = QString::fromStdString(memo);
  shown.replace("\r\n", "\n");
  QCOMPARE(f.form->Memo1->toPlainText(), shown);
  QCOMPARE(f.form->Labels[15]->text(), QStringLiteral("22050 (Hz)"));
  QCOMPARE(f.form->Labels[21]->text(), QStringLiteral("16 (Bit)"));
  QCOMPARE(f.form->Labels[14]->text(), QStringLiteral("SDX2"));
  QCOMPARE(f.form->Labels[28]->text(), QStringLiteral("4"));
  QCOMPARE(f.form->Labels[26]->text(), QStringLiteral("Unknown"));
  QCOMPARE(f.form->Gauge1->model().Percent(), 100);
  QVERIFY(test::Exists(path + ".MAP"));
  QCOMPARE(ButtonStates(*f.form), QStringLiteral("EEEdE"));
  QVERIFY(!f.state.FileOpened);
  QCOMPARE(int{f.state.ProgressStep}, 1);
  QVERIFY(!f.state.InputFile.IsOpen());
  QVERIFY(!f.state.SecondFile.IsOpen());
}

void Form1Test::cancelledDialogChangesNothing() {
  TempDir dir;
  Fixture f;
  f.form->Edit1->setText(QStringLiteral("22050"));
  f.form->Gauge1->model().SetPosition(40);
  using Handler = void (Form1::*)();
  for (Handler handler :
       {&Form1::BitBtn1Click, &Form1::BitBtn2Click, &Form1::BitBtn3Click, &Form1::Button2Click}) {
    f.dialogs->answers.push_back(QString());
    (f.form.get()->*handler)();
    QVERIFY(f.dialogs->notices.isEmpty());
    QVERIFY(f.dialogs->errors.isEmpty());
    QVERIFY(f.state.SelectedPath.empty());
    QCOMPARE(f.state.TotalSize, 0);
    QVERIFY(!f.state.FileOpened);
    QCOMPARE(f.form->Gauge1->model().Position(), 40);
    QCOMPARE(ButtonStates(*f.form), QStringLiteral("EEEdE"));
  }
  QVERIFY(f.player->played.empty());
  // Blanks and tabs only count as a cancel too.
  f.dialogs->answers.push_back(QStringLiteral(" \t "));
  f.form->BitBtn1Click();
  QVERIFY(f.dialogs->notices.isEmpty());
}

void Form1Test::inputErrorForAFileThatCannotBeOpened() {
  TempDir dir;
  Fixture f;
  const std::string gone = dir.File("gone.str");
  f.dialogs->answers.push_back(QString::fromStdString(gone));
  f.form->BitBtn1Click();
  QCOMPARE(f.dialogs->notices, QStringList{"Input Error "});
  QVERIFY(f.dialogs->errors.isEmpty());
  QCOMPARE(f.state.SelectedPath, gone);
  QVERIFY(!test::Exists(gone + ".MAP"));
  QCOMPARE(f.form->MemoText(), std::string("Information about file:"));
  QCOMPARE(ButtonStates(*f.form), QStringLiteral("EEEdE"));
}

void Form1Test::failingPassShowsTheErrorBoxAndFreesTheButtons() {
  TempDir dir;
  Fixture f;
  const std::string path = dir.Write("cut.str", {'S', 'N'});
  f.dialogs->answers.push_back(QString::fromStdString(path));
  f.form->BitBtn1Click();
  QCOMPARE(f.dialogs->errors, QStringList{"Read beyond end of file."});
  QVERIFY(f.dialogs->notices.isEmpty());  // no "Process finished"
  QCOMPARE(ButtonStates(*f.form), QStringLiteral("EEEdE"));
  QVERIFY(!f.state.FileOpened);
  QVERIFY(!f.form->CommandRunning());
  QVERIFY(test::Exists(path + ".MAP"));

  // The next command works normally.
  const std::string good = dir.Write("good.str", SmallStream(2));
  f.dialogs->answers.push_back(QString::fromStdString(good));
  f.form->BitBtn1Click();
  QCOMPARE(f.dialogs->notices, QStringList{"Process finished"});
}

void Form1Test::secondCommandIsRefusedWhileOneRuns() {
  TempDir dir;
  Fixture f;
  const std::string path = dir.Write("long.str", SmallStream(2000));
  f.dialogs->answers.push_back(QString::fromStdString(path));
  QString statesWhileRefused;
  // Clicks that land in the pass's pump: PLAY and Analyze File, both enabled.
  QTimer::singleShot(0, f.form.get(), [&] {
    QVERIFY(f.form->CommandRunning());
    statesWhileRefused = ButtonStates(*f.form);
    QTest::mouseClick(f.form->Button2, Qt::LeftButton);
    QTest::mouseClick(f.form->BitBtn1, Qt::LeftButton);
  });
  f.form->BitBtn1Click();
  QCOMPARE(f.form->RefusedClicks(), 2);
  QCOMPARE(f.dialogs->asked.size(), std::size_t{1});  // no second dialog
  QCOMPARE(f.dialogs->notices, QStringList{"Process finished"});
  QCOMPARE(statesWhileRefused, QStringLiteral("EEEdE"));
  QVERIFY(f.player->played.empty());
}

void Form1Test::buttonStatesFollowTheTableDuringAnalyze() {
  TempDir dir;
  Fixture f;
  const std::string path = dir.Write("a.str", SmallStream(50));
  f.dialogs->answers.push_back(QString::fromStdString(path));
  QString inDialog, inPass, inNotice;
  f.dialogs->onAsk = [&] { inDialog = ButtonStates(*f.form); };
  QTimer::singleShot(0, f.form.get(), [&] { inPass = ButtonStates(*f.form); });
  f.dialogs->onNotify = [&](const QString&) { inNotice = ButtonStates(*f.form); };
  f.form->BitBtn1Click();
  QCOMPARE(inDialog, QStringLiteral("dEEdE"));
  QCOMPARE(inPass, QStringLiteral("EEEdE"));
  QCOMPARE(inNotice, QStringLiteral("EEEdE"));
  // The gauge shows 0% for the whole pass and 100% after it.
  QCOMPARE(f.form->Gauge1->model().Percent(), 100);
}

void Form1Test::buttonStatesDuringExtractAndConvertDialogs() {
  Fixture f;
  f.form->Edit1->setText(QStringLiteral("22050"));
  QString extractDialog, convertDialog;
  f.dialogs->onAsk = [&] { extractDialog = ButtonStates(*f.form); };
  f.form->BitBtn2Click();
  f.dialogs->onAsk = [&] { convertDialog = ButtonStates(*f.form); };
  f.form->BitBtn3Click();
  QCOMPARE(extractDialog, QStringLiteral("ddddE"));
  QCOMPARE(convertDialog, QStringLiteral("ddddE"));
  QCOMPARE(ButtonStates(*f.form), QStringLiteral("EEEdE"));
}

void Form1Test::closingDuringACommandWaitsForItsEnd() {
  TempDir dir;
  Fixture f;
  f.form->show();
  const std::string path = dir.Write("long.str", SmallStream(500));
  f.dialogs->answers.push_back(QString::fromStdString(path));
  bool visibleAfterClose = false;
  QTimer::singleShot(0, f.form.get(), [&] {
    f.form->close();
    visibleAfterClose = f.form->isVisible();
  });
  f.form->BitBtn1Click();
  QVERIFY(visibleAfterClose);
  QCOMPARE(f.dialogs->notices, QStringList{"Process finished"});  // the pass ran to its end
  QTRY_VERIFY(!f.form->isVisible());                              // then the window goes
}

void Form1Test::aboutShowsTheOlderVersion() {
  Fixture f;
  f.form->About1->trigger();
  QCOMPARE(f.dialogs->notices.size(), 1);
  const QStringList lines = f.dialogs->notices[0].split(QStringLiteral("\r\n"));
  QCOMPARE(lines.size(), 4);
  QCOMPARE(lines[0], QStringLiteral("Tarrow Morvane ver.0.2.3"));
  QCOMPARE(lines[1], QString());
  QVERIFY(!lines[2].isEmpty() && !lines[3].isEmpty());
}

void Form1Test::noPositiveRateEndsBeforeTheDialog() {
  TempDir dir;
  Fixture f;
  const std::string path = dir.Write("a.sound", test::PatternBytes(300, 4));
  using Handler = void (Form1::*)();
  int asked = 0;
  f.dialogs->onAsk = [&] { ++asked; };
  for (const char* text : {"", "0", "-1", "abc", " 8000", "+0", "-0"}) {
    for (Handler handler : {&Form1::BitBtn3Click, &Form1::Button2Click}) {
      f.dialogs->notices.clear();
      f.dialogs->answers = {QString::fromStdString(path)};
      f.form->Edit1->setText(QString::fromLatin1(text));
      (f.form.get()->*handler)();
      QVERIFY2(asked == 0, text);
      QCOMPARE(f.dialogs->notices, QStringList{"Type the sample rate in Hz into the box first"});
      QVERIFY(f.dialogs->errors.isEmpty());
      QCOMPARE(ButtonStates(*f.form), QStringLiteral("EEEdE"));
      QVERIFY(!f.form->CommandRunning());
    }
  }
  QVERIFY(f.player->played.empty());
  QVERIFY(!test::Exists(path + ".wav"));
  // A positive rate goes on to the dialog and the conversion.
  f.dialogs->notices.clear();
  f.form->Edit1->setText(QStringLiteral("8000"));
  f.form->BitBtn3Click();
  QCOMPARE(asked, 1);
  QCOMPARE(f.dialogs->notices, QStringList{"Process Completed"});
  QVERIFY(test::Exists(path + ".wav"));
}

void Form1Test::oddInputsAreRefusedAtOnce() {
  TempDir dir;
  Fixture f;
  f.form->Edit1->setText(QStringLiteral("22050"));
  const std::string fifo = dir.File("pipe.str");
  QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directory(dir.File("folder.str"));
  using Handler = void (Form1::*)();
  struct Case {
    std::string path;
    std::vector<Handler> commands;
  };
  const std::vector<Case> cases = {
      {fifo, {&Form1::BitBtn1Click, &Form1::BitBtn2Click, &Form1::BitBtn3Click, &Form1::Button2Click}},
      {dir.File("folder.str"), {&Form1::BitBtn1Click, &Form1::BitBtn3Click}},
      {"/dev/zero", {&Form1::BitBtn1Click}},
  };
  for (const Case& c : cases) {
    for (Handler handler : c.commands) {
      f.dialogs->notices.clear();
      f.dialogs->answers = {QString::fromStdString(c.path)};
      QElapsedTimer clock;
      clock.start();
      (f.form.get()->*handler)();
      QVERIFY2(clock.elapsed() < 1000, c.path.c_str());
      QCOMPARE(f.dialogs->notices, QStringList{"Input Error "});
      QVERIFY(f.dialogs->errors.isEmpty());
      QCOMPARE(ButtonStates(*f.form), QStringLiteral("EEEdE"));
    }
  }
  QVERIFY(f.player->played.empty());
  QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
  QVERIFY(!test::Exists("/dev/zero.MAP"));
}

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
