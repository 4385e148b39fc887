// The window's four file commands with the k-th file operation failing, for
// k = 1, 2, ... until the command runs through, all on one window: each
// failure shows one box, no completion message, and leaves the buttons, the
// flags and the files as after any command, so the next one works.

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <cerrno>
#include <filesystem>
#include <functional>

#include "app/form1.h"
#include "audio/wav_image.h"
#include "scripted_dialogs.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

using namespace morvane;
using morvane::test::Bytes;
using morvane::test::ScriptedDialogs;
using morvane::test::StreamBuilder;
using morvane::test::TempDir;

namespace {

QString ButtonStates(const Form1& form) {
  QString word;
  for (const QPushButton* b : {form.BitBtn1, form.BitBtn2, form.BitBtn3, form.Button1, form.Button2}) {
    word += b->isEnabled() ? u'E' : u'd';
  }
  return word;
}

Bytes Stream() {
  StreamBuilder s;
  for (int stream = 0; stream < 2; ++stream) {
    StreamBuilder::Header header;
    header.stream = stream;
    s.Shdr(header);
    for (int i = 0; i < 6; ++i) {
      s.Sized("FILM", test::PatternBytes(20, static_cast<std::uint32_t>(i)));
      s.Ssmp(test::PatternBytes(static_cast<std::size_t>(5 + 17 * i),
                                static_cast<std::uint32_t>(stream * 10 + i)));
    }
    s.Sized("FILL", Bytes(12, 0));
  }
  return s.bytes();
}

}  // namespace

class InjectedFaultWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void everyFailureGivesBackAnIdleWindow();
};

void InjectedFaultWindowTest::everyFailureGivesBackAnIdleWindow() {
  TempDir dir;
  const std::string stream = dir.Write("intro.str", Stream());
  Bytes sound(DecodeStartOffset, 0);
  const Bytes music = test::PatternBytes(600, 3);
  sound.insert(sound.end(), music.begin(), music.end());
  const std::string soundPath = dir.Write("song.sound", sound);

  SharedState state;
  auto* dialogs = new ScriptedDialogs;
  auto* player = new test::RecordingPlayer;
  Form1 form(state, std::unique_ptr<Dialogs>(dialogs), std::unique_ptr<SoundPlayer>(player));
  form.SetPumpInterval(0);
  form.Edit1->setText(QStringLiteral("22050"));

  struct Command {
    const char* name;
    std::function<void()> click;
    std::string path;
    QString completion;  // empty: PLAY shows none
  };
  const std::vector<Command> commands = {
      {"Analyze File", [&] { form.BitBtn1Click(); }, stream, "Process finished"},
      {"Extract Chunks", [&] { form.BitBtn2Click(); }, stream, "Process Completed"},
      {"SDX2 to WAV", [&] { form.BitBtn3Click(); }, soundPath, "Process Completed"},
      {"PLAY", [&] { form.Button2Click(); }, soundPath, QString()},
  };
  for (const Command& command : commands) {
    bool ranThrough = false;
    int failures = 0;
    for (std::int64_t k = 1; k < 5000 && !ranThrough; ++k) {
      const QByteArray where = QByteArray(command.name) + ", operation " + QByteArray::number(k);
      dialogs->notices.clear();
      dialogs->errors.clear();
      player->played.clear();
      dialogs->answers.push_back(QString::fromStdString(command.path));
      faults::FailOperation(k, EIO);
      command.click();
      const bool reached = faults::OperationsPerformed() >= k;
      faults::Disarm();

      QVERIFY2(ButtonStates(form) == QStringLiteral("EEEdE"), where.constData());
      QVERIFY2(!state.FileOpened && !state.MapMissing && !state.StopRequested, where.constData());
      QVERIFY2(!state.InputFile.IsOpen() && !state.SecondFile.IsOpen(), where.constData());
      QVERIFY2(!form.CommandRunning(), where.constData());
      const bool completed = command.completion.isEmpty() ? !player->played.empty()
                                                          : dialogs->notices.contains(command.completion);
      if (!reached) {
        QVERIFY2(completed, where.constData());
        QVERIFY2(dialogs->errors.isEmpty(), where.constData());
        ranThrough = true;
        continue;
      }
      ++failures;
      QVERIFY2(!completed, where.constData());
      QVERIFY2(player->played.empty(), where.constData());
      // One message: a notice of the command's own, or one error box whose
      // text ends in a full stop.
      const int boxes = static_cast<int>(dialogs->errors.size() + dialogs->notices.size());
      QVERIFY2(boxes == 1 || (boxes == 2 && dialogs->notices.size() == 1 && dialogs->errors.size() == 1),
               where.constData());
      for (const QString& error : dialogs->errors) QVERIFY2(error.endsWith(u'.'), qPrintable(error));
    }
    QVERIFY2(ranThrough, command.name);
    QVERIFY2(failures >= 4, command.name);
  }
}

QTEST_MAIN(InjectedFaultWindowTest)
#include "injected_fault_test.moc"
