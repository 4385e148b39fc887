#include "app/form1.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <iterator>
#include <optional>

#include "app/sound_player.h"
#include "core/byte_file.h"
#include "core/support.h"

namespace morvane {

namespace {

constexpr int kClientWidth = 617;
constexpr int kClientHeight = 298;
constexpr int kLabelHeight = 13;

// Where each information row stands, in the order of kInformationRows.
struct RowPlace {
  int top;
  int captionLeft = 400;
  int valueLeft = 512;
};
constexpr RowPlace kRowPlaces[] = {{24},  {40},  {56},  {72},  {96},  {120},           {136},          {152},
                                   {168}, {192}, {208}, {224}, {240}, {264, 400, 432}, {264, 496, 544}};
static_assert(std::size(kRowPlaces) == std::size(kInformationRows));

QFont WindowFont() {
  // "MS Sans Serif" where installed, else a sans font of the same pixel size
  // and of about its width, so that every text fits its control.
  for (const char* family : {"MS Sans Serif", "Liberation Sans", "Arial", "DejaVu Sans Condensed"}) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(11);
    if (QFontInfo(font).family() == font.family()) return font;
  }
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

QString FromBytes(const std::string& text) { return QString::fromStdString(text); }

// Thrown at the look at the queue that meets the program's end, through the
// passes, whose closing steps run on its way, to the command's handler.
struct CommandEnded {};

}  // namespace

Form1::Form1(SharedState& state, std::unique_ptr<Dialogs> dialogs, std::unique_ptr<SoundPlayer> player)
    : state_(state), dialogs_(std::move(dialogs)), player_(std::move(player)) {
  if (!dialogs_) dialogs_ = std::make_unique<QtDialogs>(this);
  if (!player_) player_ = std::make_unique<QtSoundPlayer>();

  setWindowTitle(QStringLiteral("Tarrow Morvane ver.0.2.5"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFont(WindowFont());

  auto* client = new QWidget(this);
  client->setAutoFillBackground(true);
  QPalette palette = client->palette();
  palette.setColor(QPalette::Window, QColor(192, 192, 192));
  client->setPalette(palette);
  client->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(client);

  auto* about = menuBar()->addAction(QStringLiteral("About"));
  About1 = about;
  connect(About1, &QAction::triggered, this, &Form1::About1Click);

  Memo1 = new QPlainTextEdit(client);
  Memo1->setGeometry(48, 24, 337, 161);
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo1->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  Memo1->setAccessibleName(QStringLiteral("Information about file"));

  auto button = [client](const char* text, int left, int top, int width) {
    auto* b = new QPushButton(QString::fromLatin1(text), client);
    b->setGeometry(left, top, width, 25);
    b->setAutoDefault(false);
    b->setAccessibleName(b->text());
    return b;
  };
  BitBtn1 = button("Analyze File", 48, 216, 89);
  BitBtn2 = button("Extract Chunks", 152, 216, 81);
  Button1 = button("STOP", 240, 216, 41);
  Button1->setEnabled(false);
  Button2 = button("PLAY", 48, 256, 41);
  BitBtn3 = button("SDX2 to WAV", 104, 256, 75);
  for (QPushButton* b : {BitBtn1, BitBtn2, BitBtn3, Button2}) {
    b->setAccessibleDescription(QStringLiteral("Asks for a file, or takes a file dropped on the button"));
  }

  Gauge1 = new GaugeWidget(client);
  Gauge1->setGeometry(288, 216, 100, 25);
  Gauge1->setAccessibleName(QStringLiteral("Progress"));

  Edit1 = new QLineEdit(client);
  Edit1->setGeometry(200, 256, 49, 21);
  Edit1->setMaxLength(5);
  Edit1->setAccessibleName(QStringLiteral("Sample rate in Hz"));
  Edit2 = new QLineEdit(QStringLiteral("- 2 -"), client);
  Edit2->setGeometry(280, 256, 25, 21);
  Edit2->setEnabled(false);
  Edit2->setAccessibleName(QStringLiteral("Compress Ratio"));

  auto label = [client, this](int number, const QString& text, int left, int top) {
    auto* l = new QLabel(text, client);
    l->move(left, top);
    l->adjustSize();
    l->resize(l->width(), kLabelHeight);
    Labels[static_cast<std::size_t>(number)] = l;
  };
  for (std::size_t i = 0; i < std::size(kInformationRows); ++i) {
    const InformationRow& row = kInformationRows[i];
    const RowPlace& place = kRowPlaces[i];
    label(row.captionLabel, QString::fromLatin1(row.caption), place.captionLeft, place.top);
    label(static_cast<int>(row.value), QStringLiteral("Unknown"), place.valueLeft, place.top);
  }
  label(31, QStringLiteral("Hz"), 256, 264);
  label(32, QStringLiteral("Compress Ratio"), 312, 264);

  // Only the window takes drops: it tells its buttons from the rest by
  // where the pointer is. The text boxes would take a dropped path as text.
  setAcceptDrops(true);
  setAccessibleDescription(
      QStringLiteral("Files and folders dropped on the window are converted to WAV files"));
  for (QWidget* own : {static_cast<QWidget*>(Memo1), Memo1->viewport(), static_cast<QWidget*>(Edit1),
                       static_cast<QWidget*>(Edit2)}) {
    own->setAcceptDrops(false);
  }

  setTabOrder(BitBtn1, Memo1);
  setTabOrder(Memo1, BitBtn2);
  setTabOrder(BitBtn2, BitBtn3);
  setTabOrder(BitBtn3, Edit1);
  setTabOrder(Edit1, Button1);
  setTabOrder(Button1, Edit2);
  setTabOrder(Edit2, Button2);

  connect(BitBtn1, &QPushButton::clicked, this, &Form1::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &Form1::BitBtn2Click);
  connect(BitBtn3, &QPushButton::clicked, this, &Form1::BitBtn3Click);
  connect(Button1, &QPushButton::clicked, this, &Form1::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &Form1::Button2Click);

  SetMemoText("Information about file:");
  FormCreate();

  adjustSize();
  setFixedSize(sizeHint());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  pumpClock_.start();
}

Form1::~Form1() {
  if (player_) player_->Stop();
}

void Form1::FormCreate() {
  // The message boxes take their caption from the dialogs layer: "Morvane".
}

// --- what the passes reach ---

void Form1::SetLabel(ValueLabel label, const std::string& text) {
  pendingLabels_[static_cast<std::size_t>(label)] = text;
  labelsPending_ = true;
  if (!commandRunning_) ShowPendingLabels();
}

void Form1::ShowPendingLabels() {
  if (!labelsPending_) return;
  labelsPending_ = false;
  for (std::size_t number = 0; number < pendingLabels_.size(); ++number) {
    std::optional<std::string>& text = pendingLabels_[number];
    if (!text) continue;
    QLabel* target = Labels[number];
    target->setText(FromBytes(*text));
    target->adjustSize();
    target->resize(target->width(), kLabelHeight);
    text.reset();
  }
}

void Form1::SetMemoText(const std::string& text) {
  memoText_ = text;
  QString shown = FromBytes(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  Memo1->setPlainText(shown);
}

void Form1::AppendMemoLine(const std::string& line) {
  memoText_ += "\r\n";
  memoText_ += line;
  // The same as setting the whole text back, without redoing its layout.
  Memo1->appendPlainText(FromBytes(line));
}

void Form1::SetStopEnabled(bool enabled) { Button1->setEnabled(enabled); }

std::string Form1::RateText() const { return Edit1->text().toStdString(); }

void Form1::NotifyUser(const std::string& text) {
  ShowPendingLabels();
  if (endStatus_) return;  // nobody is there to read it
  dialogs_->NotifyUser(FromBytes(text));
}

void Form1::ProcessPendingMessages() {
  if (--pumpCountdown_ != 0) return;
  const qint64 now = pumpClock_.nsecsElapsed();
  if (pumpIntervalMs_ > 0) {
    const qint64 sinceClock = now - lastClockNs_;
    if (sinceClock < 250'000 && pumpStride_ < 1024) {
      pumpStride_ *= 2;
    } else if (sinceClock > 1'000'000 && pumpStride_ > 1) {
      pumpStride_ /= 2;
    }
  }
  lastClockNs_ = now;
  pumpCountdown_ = pumpStride_;
  if (now - lastLookNs_ >= qint64{pumpIntervalMs_} * 1'000'000) LookAtQueue();
}

void Form1::KeepResponsive() {
  if (pumpClock_.nsecsElapsed() - lastLookNs_ >= qint64{pumpIntervalMs_} * 1'000'000) LookAtQueue();
}

void Form1::LookAtQueue() {
  const qint64 now = pumpClock_.nsecsElapsed();
  longestPumpGapNs_ = std::max(longestPumpGapNs_, now - lastLookNs_);
  ShowPendingLabels();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  lastLookNs_ = pumpClock_.nsecsElapsed();
  if (endStatus_ && commandRunning_) {
    // The temporaries go first: the quiet closes on the way out put what
    // they close in place, and a name whose temporary is gone keeps the
    // earlier file.
    RemoveLiveTemporaries();
    throw CommandEnded{};
  }
}

// --- the commands ---

void Form1::RunCommand(const std::function<CommandResult()>& command, const std::function<void()>& closing) {
  if (endStatus_) return;
  if (commandRunning_) {
    // One command at a time: the enabled states stay as they are.
    RefuseSecondCommand();
    return;
  }
  commandRunning_ = true;
  longestPumpGapNs_ = 0;
  lastLookNs_ = lastClockNs_ = pumpClock_.nsecsElapsed();
  pumpStride_ = pumpCountdown_ = 1;
  try {
    lastResult_ = command();
  } catch (const CommandEnded&) {
    lastResult_ = {};
  }
  ShowPendingLabels();
  closing();
  if (lastResult_.error && !endStatus_) dialogs_->ShowError(FromBytes(ErrorBoxText(*lastResult_.error)));
  commandRunning_ = false;
  if (endStatus_) {
    RemoveLiveTemporaries();
    emit Ended(*endStatus_);
  } else if (closeRequested_) {
    QTimer::singleShot(0, this, &QWidget::close);
  }
}

void Form1::RefuseSecondCommand() {
  ++refusedClicks_;
  QApplication::beep();
}

std::string Form1::AskFileName() {
  if (endStatus_) return {};
  return FileLayerPath(dialogs_->AskOpenFileName(QStringLiteral("Open File"), QDir::currentPath(),
                                                 QStringLiteral("All files (*.*)|*.*|")));
}

std::string Form1::FileLayerPath(const QString& path) {
  // The file layer takes UTF-8 paths on Windows, whose own 8-bit encoding
  // (the ANSI code page) would lose every letter outside it.
#ifdef Q_OS_WIN
  return path.toUtf8().toStdString();
#else
  return QFile::encodeName(path).toStdString();
#endif
}

void Form1::FileOpenEnded() { BitBtn1->setEnabled(true); }

void Form1::BitBtn1Click() {
  AnalyzeFile([this] { return AskFileName(); });
}

void Form1::BitBtn2Click() {
  ExtractChunks([this] { return AskFileName(); });
}

void Form1::BitBtn3Click() {
  Sdx2ToWav([this] { return AskFileName(); });
}

void Form1::Button2Click() {
  Play([this] { return AskFileName(); });
}

void Form1::AnalyzeFile(const PathSource& ask) {
  RunCommand(
      [this, &ask] {
        BitBtn1->setEnabled(false);
        return RunAnalyzeFile(state_, *this, ask());
      },
      [this] { BitBtn1->setEnabled(true); });
}

void Form1::ExtractChunks(const PathSource& ask) {
  RunCommand(
      [this, &ask] {
        SetCommandButtonsEnabled(false);
        return RunExtractChunks(state_, *this, ask());
      },
      [this] { SetCommandButtonsEnabled(true); });
}

void Form1::Sdx2ToWav(const PathSource& ask) {
  RunCommand(
      [this, &ask] {
        SetCommandButtonsEnabled(false);
        if (!RateFromText(RateText())) return RefuseWithoutRate();
        return RunSdx2ToWav(state_, *this, ask(), player_.get());
      },
      [this] { SetCommandButtonsEnabled(true); });
}

void Form1::Play(const PathSource& ask) {
  RunCommand(
      [this, &ask] {
        if (!RateFromText(RateText())) return RefuseWithoutRate();
        return RunPlay(state_, *this, ask(), *player_);
      },
      [] {});
}

Form1::FileCommand Form1::CommandOf(const QPushButton* button) const {
  if (button == BitBtn1) return &Form1::AnalyzeFile;
  if (button == BitBtn2) return &Form1::ExtractChunks;
  if (button == BitBtn3) return &Form1::Sdx2ToWav;
  if (button == Button2) return &Form1::Play;
  return nullptr;
}

// SDX2 to WAV and PLAY end before their dialog when the rate box gives no
// positive rate: a WAV at such a rate would open in no player.
CommandResult Form1::RefuseWithoutRate() {
  NotifyUser(kNoRateNotice);
  CommandResult result;
  result.notices.push_back(kNoRateNotice);
  return result;
}

void Form1::SetCommandButtonsEnabled(bool enabled) {
  BitBtn1->setEnabled(enabled);
  BitBtn2->setEnabled(enabled);
  BitBtn3->setEnabled(enabled);
}

void Form1::Button1Click() {
  state_.StopRequested = true;
  Button1->setEnabled(false);
}

void Form1::About1Click() {
  NotifyUser(
      "Tarrow Morvane ver.0.2.3\r\n\r\nWritten by Tarrow, who digs the sound out of stream files.\r\n"
      "With thanks to the assistant who tried every file.");
}

void Form1::closeEvent(QCloseEvent* event) {
  if (commandRunning_) {
    // The window stays until the command has ended; a walk stops as STOP
    // would stop it.
    closeRequested_ = true;
    if (Button1->isEnabled()) Button1Click();
    event->ignore();
    return;
  }
  player_->Stop();
  event->accept();
}

}  // namespace morvane
