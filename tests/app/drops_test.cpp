// Files dropped on the window: on a command's button, exactly what the open
// dialog's answer gives; anywhere else, a batch conversion.

#include <sys/mount.h>
#include <sys/stat.h>

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>
#include <filesystem>

#include "commands/command_flow.h"
#include "commands/convert_flow.h"
#include "form_fixture.h"
#include "support/disc_builder.h"
#include "support/film_stream.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"

using namespace morvane;
using namespace morvane::test;
namespace fs = std::filesystem;

namespace {

Bytes Stream(int streams, int blocks, std::int32_t channels = 2) {
  StreamBuilder s;
  StreamBuilder::Header header;
  header.channels = channels;
  for (header.stream = 0; header.stream < streams; ++header.stream) s.Shdr(header);
  for (int i = 0; i < blocks; ++i) s.Ssmp(PatternBytes(24, static_cast<std::uint32_t>(i)), i, i % streams);
  return s.bytes();
}

// Each file below the folder, as its name and bytes.
QStringList Files(const fs::path& folder) {
  QStringList files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const Bytes bytes = entry.is_regular_file() ? ReadAll(entry.path().string()) : Bytes();
    files << QString::fromStdString(entry.path().string()) +
                 QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()))
                     .toHex();
  }
  files.sort();
  return files;
}

// What a command left: its boxes, texts, states, sound and files.
QStringList Outcome(FormFixture& f, const fs::path& folder, const QString& statesInBox) {
  QStringList seen = f.dialogs->notices + f.dialogs->errors + Files(folder);
  for (int label = 13; label <= 30; ++label) seen << f.form->Labels[static_cast<std::size_t>(label)]->text();
  for (const auto& image : f.player->played) seen << QString::number(qHash(QByteArrayView(image->bytes)));
  return seen << QString::fromStdString(f.form->MemoText()) << statesInBox << ButtonStates(*f.form)
              << QString::number(f.form->Gauge1->model().Percent());
}

class NullSink : public BatchSink {
  void Start(std::size_t, const std::string&) override {}
  void Wrote(const std::string&) override {}
  void Tell(const std::string&, const std::string&) override {}
};

// Every file below a folder, by its path from it, with its bytes.
std::map<std::string, Bytes> FilesBelow(const fs::path& folder) {
  std::map<std::string, Bytes> files;
  if (!fs::exists(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file())
      files[entry.path().lexically_relative(folder).string()] = ReadAll(entry.path());
  }
  return files;
}

// A disc's files: a film with its sound, streams mono and stereo three deep,
// an AIFC and a file that is none of these.
Bytes DiscBlocks(int films) {
  FilmStreamOptions film;
  film.films = films;
  film.seconds = 0.5;
  Bytes movie;
  WriteFilmStream(film, [&](const unsigned char* data, std::size_t count) {
    movie.insert(movie.end(), data, data + count);
  });
  IffAudio aifc;
  aifc.data = PatternBytes(3000, 8);
  return TreeImage({{"MOVIES/INTRO.STR", movie},
                    {"MOVIES/PART2/DEEP/Intro", Stream(1, 40, 1)},
                    {"SOUND/THEME.AIFC", IffAudioFile(aifc)},
                    {"README.TXT", PatternBytes(300, 10)},
                    {"logo.stream", Stream(2, 30)}},
                   {"GAME", 2, false, false});
}

}  // namespace

class DropsTest : public QObject {
  Q_OBJECT

 private slots:
  void aFileDroppedOnAButtonIsTheDialogsAnswer();
  void dropsTheWindowRefuses();
  void aFolderDroppedBesideTheButtonsIsConverted();
  void stopEndsTheBatchAfterTheFileInHand();
  void aReadOnlyFolderAsksForAnOutputFolderOnce();
  void aDiscImageIsConvertedAsConvertConvertsIt();
  void aBadImageGivesItsLineAndTheRestIsConverted();
  void endedFromOutside();
};

void DropsTest::aFileDroppedOnAButtonIsTheDialogsAnswer() {
  TempDir dir;
  const fs::path folder = dir.path() / "Disc ü";
  fs::create_directory(folder);
  const std::string stream = (folder / "intro ä.str").string(), sound = stream + "0.sound";
  WriteFile(stream, Stream(2, 9));
  WriteFile(sound, PatternBytes(400, 3));
  const std::string fifo = (folder / "pipe.str").string();
  QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    QPushButton* Form1::*button;
    void (Form1::*click)();
    std::string path;
    const char* rate;
  };
  const Case cases[] = {
      {&Form1::BitBtn1, &Form1::BitBtn1Click, stream, ""},
      {&Form1::BitBtn2, &Form1::BitBtn2Click, stream, ""},
      {&Form1::BitBtn3, &Form1::BitBtn3Click, sound, "22050"},
      {&Form1::BitBtn3, &Form1::BitBtn3Click, sound, ""},
      {&Form1::Button2, &Form1::Button2Click, sound, "8000"},
      {&Form1::Button2, &Form1::Button2Click, sound, "0"},
      {&Form1::BitBtn1, &Form1::BitBtn1Click, fifo, ""},
  };
  for (const Case& c : cases) {
    QStringList roads[2];
    for (const bool dropped : {false, true}) {
      fs::remove(stream + ".MAP");
      fs::remove(stream + "1.sound");
      fs::remove(sound + ".wav");
      WriteFile(sound, PatternBytes(400, 3));
      if (c.button == &Form1::BitBtn2) {  // Extract Chunks reads the map
        SharedState state;
        RecordingWindow window;
        RunAnalyzeFile(state, window, stream);
      }
      FormFixture f;
      f.form->Edit1->setText(QString::fromLatin1(c.rate));
      QString statesInBox;
      f.dialogs->onNotify = [&](const QString&) {
        if (statesInBox.isEmpty()) statesInBox = ButtonStates(*f.form);
      };
      if (dropped) {
        QVERIFY(DropFile(*f.form, c.path, On(*f.form, (*f.form).*c.button)));
        QVERIFY(f.dialogs->asked.empty());  // the drop is the dialog's answer
      } else {
        f.Pick(c.path);
        ((*f.form).*c.click)();
        QVERIFY(!f.dialogs->notices.isEmpty() || !f.player->played.empty());
      }
      roads[dropped] = Outcome(f, folder, statesInBox);
    }
    QCOMPARE(roads[1], roads[0]);
  }
}

void DropsTest::dropsTheWindowRefuses() {
  TempDir dir;
  FormFixture f;
  const QString a = QString::fromStdString(dir.Write("a.str", Stream(1, 3)));
  // Every drag reaches the window itself, which tells the buttons apart.
  for (const QWidget* child : f.form->findChildren<QWidget*>())
    QVERIFY2(!child->acceptDrops(), child->metaObject()->className());
  const std::tuple<QStringList, QPushButton*, QString> cases[] = {
      {{a, a},
       f.form->BitBtn1,
       "Analyze File takes one file at a time, not 2. Drop files beside the buttons to convert them all."},
      {{QString::fromStdString(dir.path().string())},
       f.form->BitBtn2,
       "Extract Chunks takes a file, not a folder. Drop the folder beside the buttons to convert every "
       "stream "
       "in it."},
      {{a}, f.form->Button1, ""},  // STOP takes no file
      {{QString::fromStdString(dir.Write("game.iso", DiscBlocks(1)))},
       f.form->BitBtn1,
       "Analyze File takes a stream file, not a disc image. Drop the image beside the buttons to convert the "
       "whole disc."},
      {{QString::fromStdString(dir.Write("game.cue", {'F', 'I', 'L', 'E'}))},
       f.form->BitBtn3,
       "SDX2 to WAV takes a stream file, not a disc image. Drop the image beside the buttons to convert the "
       "whole disc."},
  };
  for (const auto& [paths, button, notice] : cases) {
    f.dialogs->notices.clear();
    QVERIFY(!DropFiles(*f.form, paths, On(*f.form, button)));
    QCOMPARE(f.dialogs->notices, notice.isEmpty() ? QStringList() : QStringList{notice});
  }
  QVERIFY(!DropFiles(*f.form, {"http://example.org/a.str"}, Beside(*f.form)));
  QVERIFY(f.dialogs->asked.empty());
  QCOMPARE(Files(dir.path()).size(), 3);

  // While a command runs, a drop is refused as a click is; over a button
  // the command keeps disabled, the pointer says so.
  const std::string longStream = dir.Write("long.str", Stream(1, 3000));
  SharedState state;
  RecordingWindow window;
  RunAnalyzeFile(state, window, longStream);
  f.Pick(longStream);
  bool takenOnExtract = true;
  WhileRunning(*f.form, [&] {
    takenOnExtract = DropFiles(*f.form, {a}, On(*f.form, f.form->BitBtn2));
    DropFiles(*f.form, {a}, On(*f.form, f.form->BitBtn1));
    DropFiles(*f.form, {a}, Beside(*f.form));
  });
  f.form->BitBtn2Click();
  QVERIFY(!takenOnExtract);
  QCOMPARE(f.form->RefusedClicks(), 3);
  QCOMPARE(f.dialogs->asked.size(), std::size_t{1});
  QCOMPARE(Files(dir.path()).size(), 6);  // the 3 above, long.str, its map and its one sound file
}

void DropsTest::aFolderDroppedBesideTheButtonsIsConverted() {
  TempDir dir, reference;
  const fs::path disc = dir.path() / "Disc";
  fs::create_directories(disc / "sub");
  const std::pair<const char*, Bytes> inputs[] = {
      {"a.str", Stream(2, 8)},
      {"b.str", Stream(1, 5, 1)},
      {"cut.str", Slice(Stream(1, 4), 0, Stream(1, 4).size() - 20)},
      {"picture.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13}},
      {"sub/c.str", Stream(1, 3)},
  };
  std::vector<std::string> copies;
  for (const auto& [name, bytes] : inputs) {
    WriteFile((disc / name).string(), bytes);
    copies.push_back(reference.Write(fs::path(name).filename().string(), bytes));
  }
  // Hidden files and what a run writes are no inputs.
  WriteFile((disc / ".hidden.str").string(), Stream(1, 3));
  WriteFile((disc / "a.str.MAP").string(), PatternBytes(40, 1));
  WriteFile((disc / "a.str1.sound.wav").string(), PatternBytes(50, 2));
  NullSink sink;
  RunConvert(copies, ConvertSettings{}, sink);

  FormFixture f;
  QString statesDuring;
  WhileRunning(*f.form, [&] { statesDuring = ButtonStates(*f.form); });
  QVERIFY(DropFile(*f.form, disc.string(), Beside(*f.form)));
  QCOMPARE(statesDuring, QStringLiteral("dddEE"));
  QCOMPARE(ButtonStates(*f.form), QStringLiteral("EEEdE"));
  QCOMPARE(f.form->Gauge1->model().Percent(), 100);
  const std::string d = disc.string() + "/";
  QCOMPARE(f.form->MemoText(),
           "Converting 5 files:\r\n" + d + "a.str0.sound.wav\r\n" + d + "a.str1.sound.wav\r\n" + d +
               "b.str0.sound.wav\r\n" + d +
               "cut.str0.sound.wav: cut short: the file ends inside its data at offset 208; "
               "20 bytes missing, converted up to the cut\r\n" +
               d + "cut.str0.sound.wav\r\n" + d + "sub/c.str0.sound.wav");
  // The picture, no stream met in a folder, is passed over silently.
  QCOMPARE(f.dialogs->notices, QStringList{"Conversion finished: 5 streams and 0 films converted; 1 problem, "
                                           "listed in the information box."});
  for (const char* wav : {"a.str0.sound.wav", "a.str1.sound.wav", "b.str0.sound.wav", "cut.str0.sound.wav"})
    QVERIFY2(ReadAll(d + wav) == ReadAll(reference.File(wav)), wav);
  QVERIFY(ReadAll(d + "sub/c.str0.sound.wav") == ReadAll(reference.File("c.str0.sound.wav")));
  QCOMPARE(Files(disc).size(), 13);  // the 5 inputs, the 3 others, sub/ and 4 new WAVs
}

void DropsTest::stopEndsTheBatchAfterTheFileInHand() {
  TempDir dir;
  for (const char* name : {"1.str", "2.str", "3.str"}) dir.Write(name, Stream(1, 4000));
  FormFixture f;
  WhileRunning(*f.form, [&] { QTest::mouseClick(f.form->Button1, Qt::LeftButton); });
  QVERIFY(DropFile(*f.form, dir.path().string(), Beside(*f.form)));
  QCOMPARE(f.dialogs->notices,
           QStringList{"Stopped after 1 file of 3: 1 stream and 0 films converted; no problems."});
  QVERIFY(Exists(dir.File("1.str0.sound.wav")) && !Exists(dir.File("2.str0.sound.wav")));
  QVERIFY(!f.state.StopRequested);
  QCOMPARE(ButtonStates(*f.form), QStringLiteral("EEEdE"));
}

void DropsTest::aReadOnlyFolderAsksForAnOutputFolderOnce() {
  TempDir dir;
  const fs::path disc = dir.path() / "disc", out = dir.path() / "out";
  fs::create_directories(disc);
  if (::mount("tmpfs", disc.c_str(), "tmpfs", 0, "size=1m") != 0)
    QSKIP("cannot mount a tmpfs here (needs root or CAP_SYS_ADMIN): a read-only disc can't be made");
  const std::unique_ptr<const char, int (*)(const char*)> unmount(disc.c_str(), ::umount);
  fs::create_directory(disc / "sub");
  for (const char* name : {"intro.str", "sub/intro.str"}) WriteFile((disc / name).string(), Stream(1, 3));
  WriteFile((disc / "sub/game.iso").string(), TreeImage({{"A/intro.str", Stream(1, 3)}}));
  const std::string own = dir.Write("own.str", Stream(1, 3));
  QCOMPARE(::mount("tmpfs", disc.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m"), 0);
  FormFixture f;
  const QStringList dropped = {QString::fromStdString(disc.string()), QString::fromStdString(own)};
  DropFiles(*f.form, dropped, Beside(*f.form));  // the folder dialog cancelled: nothing starts
  QCOMPARE(f.dialogs->askedFolder.size(), std::size_t{1});
  QVERIFY(f.dialogs->notices.isEmpty() && !Exists(own + "0.sound.wav"));
  f.dialogs->folderAnswers = {QString::fromStdString(out.string())};
  DropFiles(*f.form, dropped, Beside(*f.form));
  QCOMPARE(f.dialogs->askedFolder.size(), std::size_t{2});
  QCOMPARE(f.dialogs->notices.last(),
           QStringLiteral("Conversion finished: 4 streams and 0 films converted; no problems."));
  QVERIFY(Exists(own + "0.sound.wav"));
  // A disc's outputs under its name, at the place of the image below the folder dropped.
  for (const char* wav : {"disc/sub/intro.str0.sound.wav", "disc/sub/game/A/intro.str0.sound.wav"})
    QVERIFY2(ReadAll((out / "disc/intro.str0.sound.wav").string()) == ReadAll((out / wav).string()), wav);
}

void DropsTest::aDiscImageIsConvertedAsConvertConvertsIt() {
  const Bytes blocks = DiscBlocks(1);
  const Bytes audio = PatternBytes(2352 * 4, 21);
  const CueDisc cue = CueAndBin(blocks, audio);
  for (const bool sheet : {false, true}) {
    // The image as convert takes it, and as dropped on the window with the
    // sheet's file beside it.
    TempDir dir, reference;
    QStringList dropped;
    std::string image;
    for (const TempDir* at : {&reference, &dir}) {
      if (sheet) {
        at->Write("game.bin", cue.bin);
        image = at->Write("game.cue", Bytes(cue.cue.begin(), cue.cue.end()));
      } else {
        image = at->Write("game.iso", blocks);
      }
    }
    NullSink sink;
    const BatchResult converted =
        RunConvert({reference.File(sheet ? "game.cue" : "game.iso")}, ConvertSettings{}, sink);
    QVERIFY(converted.whole);
    for (const auto& entry : fs::directory_iterator(dir.path()))
      dropped << QString::fromStdString(entry.path().string());

    FormFixture f;
    std::vector<int> gauge;
    GaugeModel& model = f.form->Gauge1->model();
    model.onRepaint = [&, repaint = model.onRepaint] {
      repaint();
      gauge.push_back(model.Percent());
    };
    QVERIFY(DropFiles(*f.form, dropped, Beside(*f.form)));
    const std::map<std::string, Bytes> outputs = FilesBelow(dir.path() / "game");
    QCOMPARE(outputs.size(), std::size_t{sheet ? 8u : 7u});  // the film's poster among them
    QVERIFY(outputs == FilesBelow(reference.path() / "game"));
    QCOMPARE(
        f.dialogs->notices,
        QStringList{sheet ? "Conversion finished: 5 streams, 1 film and 1 audio track converted; no problems."
                          : "Conversion finished: 5 streams and 1 film converted; no problems."});
    // The memo: one file converted, then each output written.
    QString memo = QString::fromStdString(f.form->MemoText());
    QVERIFY2(memo.startsWith("Converting 1 file:\r\n"), qPrintable(memo));
    for (const auto& [name, bytes] : outputs)
      QVERIFY2(memo.contains(QString::fromStdString((dir.path() / "game" / name).string())), name.c_str());
    QCOMPARE(memo.count("\r\n"), static_cast<qsizetype>(outputs.size()));
    // The gauge over the image's bytes, the audio track at its end.
    QVERIFY(gauge.size() > 4);
    QVERIFY(std::is_sorted(gauge.begin(), gauge.end()));
    QCOMPARE(f.form->Gauge1->model().Percent(), 100);
  }

  // STOP ends the disc after the file in hand.
  TempDir dir;
  const std::string image = dir.Write("game.iso", DiscBlocks(1));
  FormFixture f;
  WhileRunning(*f.form, [&] { QTest::mouseClick(f.form->Button1, Qt::LeftButton); });
  QVERIFY(DropFile(*f.form, image, Beside(*f.form)));
  QCOMPARE(f.dialogs->notices,
           QStringList{"Stopped after 1 file of 1: 1 stream and 1 film converted; no problems."});
  QCOMPARE(FilesBelow(dir.path() / "game").size(), std::size_t{3});  // INTRO.STR's movie, poster and WAV
}

void DropsTest::aBadImageGivesItsLineAndTheRestIsConverted() {
  TempDir dir;
  const Bytes good = Stream(1, 60);
  const std::string image = dir.Write("bad.iso", LoopingFolderImage(good));
  const std::string other = dir.Write("other.str", Stream(1, 5));
  FormFixture f;
  DropFiles(*f.form, {QString::fromStdString(image), QString::fromStdString(other)}, Beside(*f.form));
  const std::string d = dir.path().string() + "/";
  QCOMPARE(f.form->MemoText(), "Converting 2 files:\r\n" + image +
                                   "/D: the directory's chain loops back to its block 0; the rest is passed "
                                   "over\r\n" +
                                   d + "bad/GOOD.STR0.sound.wav\r\n" + d + "other.str0.sound.wav");
  QCOMPARE(f.dialogs->notices, QStringList{"Conversion finished: 2 streams and 0 films converted; 1 problem, "
                                           "listed in the information box."});
  TempDir reference;
  NullSink sink;
  RunConvert({reference.Write("GOOD.STR", good)}, ConvertSettings{}, sink);
  QVERIFY(ReadAll(d + "bad/GOOD.STR0.sound.wav") == ReadAll(reference.File("GOOD.STR0.sound.wav")));
}

void DropsTest::endedFromOutside() {
  // In the open dialog (the platform's own): it closes as if cancelled.
  SharedState state;
  Form1 form(state);
  QSignalSpy ended(&form, &Form1::Ended);
  QTimer::singleShot(200, &form, [&] { form.EndFromOutside(143); });
  form.BitBtn1Click();
  QCOMPARE(ended.size(), 1);
  QCOMPARE(ended.first().first().toInt(), 143);
  // Idle: at once; and nothing starts any more.
  FormFixture f;
  QSignalSpy idle(f.form.get(), &Form1::Ended);
  f.form->EndFromOutside(129);
  QCOMPARE(idle.first().first().toInt(), 129);
  f.Pick("/nonexistent.str");
  f.form->BitBtn1Click();
  QVERIFY(f.dialogs->asked.empty());
}

QTEST_MAIN(DropsTest)
#include "drops_test.moc"
