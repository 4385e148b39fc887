// What the window does with files dropped on it: one file on a command's
// button runs that command on it, as if it had been picked in the open
// dialog; files and folders dropped anywhere else are converted in one batch.

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include "app/form1.h"
#include "commands/batch_inputs.h"
#include "core/errors.h"
#include "core/support.h"
#include "disc/disc_image.h"

namespace morvane {

namespace {

// The batch's progress in the gauge: a fixed range, since the bytes of a
// whole drop may overflow the gauge's 32 bits.
constexpr std::int32_t kBatchGaugeRange = 10000;

// The local files a drag carries, in its order.
QStringList LocalFiles(const QMimeData* data) {
  QStringList files;
  if (data == nullptr) return files;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) files << url.toLocalFile();
  }
  return files;
}

// Takes the event when it carries local files that may be copied or linked.
// The files are only read: a move offered by the source is taken as a copy,
// so that the source never removes them.
bool TakeFiles(QDropEvent* event) {
  const Qt::DropActions offered = event->possibleActions();
  if (LocalFiles(event->mimeData()).isEmpty() || !(offered & (Qt::CopyAction | Qt::LinkAction))) {
    event->ignore();
    return false;
  }
  event->setDropAction(offered & Qt::CopyAction ? Qt::CopyAction : Qt::LinkAction);
  event->accept();
  return true;
}

std::string Counted(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Where a batch reports in the window: each file written and each problem
// a line of the information box, the gauge over all the bytes dropped, and
// a look at the queue at every chunk.
class WindowBatchSink final : public BatchSink {
 public:
  WindowBatchSink(Window& window, const SharedState& state, const FoundFiles& found)
      : window_(window), state_(state), bytes_(found) {}

  void Start(std::size_t, const std::string& path) override {
    ++started;
    inTrack_ = false;
    bytes_.Start(path);
    Show(0);
    window_.ProcessPendingMessages();
  }
  bool StopRequested() override { return state_.StopRequested; }
  void Wrote(const std::string& path) override { window_.AppendMemoLine(EscapedName(path)); }
  void Tell(const std::string& name, const std::string& text) override {
    Problem(EscapedName(name) + ": " + text);
  }
  void Progress(std::int64_t done, std::int64_t) override {
    Show(done);
    window_.ProcessPendingMessages();
  }
  void SoundDone(const SoundFacts&) override { ++(inTrack_ ? tracks : streams); }
  void DiscPartStart(const DiscPart& part) override { inTrack_ = part.audioTrack; }
  void MovieDone(const MovieFacts&) override { ++films; }

  void Problem(const std::string& line) {
    window_.AppendMemoLine(line);
    ++problems;
  }

  std::size_t started = 0, streams = 0, films = 0, tracks = 0, problems = 0;

 private:
  void Show(std::int64_t done) { window_.Gauge().SetPosition(bytes_.Position(done, kBatchGaugeRange)); }

  Window& window_;
  const SharedState& state_;
  BatchBytes bytes_;
  bool inTrack_ = false;  // a disc's CD audio track is being written
};

std::string BatchSummary(const WindowBatchSink& sink, std::size_t files, bool stopped) {
  std::string text = stopped ? "Stopped after " + Counted(sink.started, "file", "files") + " of " +
                                   std::to_string(files) + ": "
                             : std::string("Conversion finished: ");
  text += Counted(sink.streams, "stream", "streams") + (sink.tracks > 0 ? ", " : " and ") +
          Counted(sink.films, "film", "films");
  if (sink.tracks > 0) text += " and " + Counted(sink.tracks, "audio track", "audio tracks");
  text += " converted; ";
  text += sink.problems == 0
              ? "no problems."
              : Counted(sink.problems, "problem", "problems") + ", listed in the information box.";
  return text;
}

}  // namespace

QPushButton* Form1::ButtonAt(const QPoint& position) const {
  for (QWidget* under = childAt(position); under != nullptr && under != this; under = under->parentWidget()) {
    for (QPushButton* button : {BitBtn1, BitBtn2, BitBtn3, Button1, Button2}) {
      if (under == button) return button;
    }
  }
  return nullptr;
}

bool Form1::TakesDrop(const QDropEvent& event) const {
  const QPushButton* button = ButtonAt(event.position().toPoint());
  if (button == nullptr) return true;
  const QStringList files = LocalFiles(event.mimeData());
  return CommandOf(button) != nullptr && button->isEnabled() && files.size() == 1 &&
         !QFileInfo(files.front()).isDir() && !IsDiscImage(FileLayerPath(files.front()));
}

void Form1::dragEnterEvent(QDragEnterEvent* event) {
  // Taken wherever it enters when it holds files: a drag refused here would
  // bring the window no moves later. Each move says whether a drop at its
  // place is taken.
  TakeFiles(event);
}

void Form1::dragMoveEvent(QDragMoveEvent* event) {
  if (TakeFiles(event) && !TakesDrop(*event)) event->ignore();
}

void Form1::dropEvent(QDropEvent* event) {
  if (!TakeFiles(event)) return;
  const QStringList files = LocalFiles(event->mimeData());
  QPushButton* button = ButtonAt(event->position().toPoint());
  // The drop ends here, so that the program it came from is free again; the
  // command runs from the queue next, as a click's would.
  QMetaObject::invokeMethod(
      this, [this, button, files] { Dropped(button, files); }, Qt::QueuedConnection);
}

void Form1::Dropped(QPushButton* button, const QStringList& files) {
  if (commandRunning_) {
    RefuseSecondCommand();
    return;
  }
  std::vector<std::string> paths;
  for (const QString& file : files) paths.push_back(FileLayerPath(file));
  if (button == nullptr) {
    ConvertDropped(paths);
    return;
  }
  const FileCommand command = CommandOf(button);
  if (command == nullptr || !button->isEnabled()) return;
  const std::string name = button->text().toStdString();
  if (files.size() > 1) {
    NotifyUser(name + " takes one file at a time, not " + std::to_string(files.size()) +
               ". Drop files beside the buttons to convert them all.");
  } else if (QFileInfo(files.front()).isDir()) {
    NotifyUser(name +
               " takes a file, not a folder. Drop the folder beside the buttons to convert every "
               "stream in it.");
  } else if (IsDiscImage(paths.front())) {
    NotifyUser(name +
               " takes a stream file, not a disc image. Drop the image beside the buttons to convert the "
               "whole disc.");
  } else {
    (this->*command)([&paths] { return paths.front(); });
  }
}

void Form1::ConvertDropped(const std::vector<std::string>& paths) {
  RunCommand([this, &paths] { return RunDroppedBatch(paths); },
             [this] {
               state_.StopRequested = false;
               SetStopEnabled(false);
               SetCommandButtonsEnabled(true);
             });
}

CommandResult Form1::RunDroppedBatch(const std::vector<std::string>& paths) {
  // The buttons as during Extract Chunks' walk, and STOP ends the batch
  // after the file in hand.
  SetCommandButtonsEnabled(false);
  CommandResult result;
  const FoundFiles found = FindBatchFiles(paths);
  const FolderCheck canWrite = [](const std::string& folder) {
#ifdef Q_OS_WIN
    return QFileInfo(QString::fromStdString(folder)).isWritable();
#else
    return QFileInfo(QFile::decodeName(QByteArray::fromStdString(folder))).isWritable();
#endif
  };
  if (found.files.empty() && found.problems.empty()) {
    NotifyUser("Nothing to convert: what was dropped holds no file.");
    return result;
  }
  std::string outputFolder;
  if (NeedsOutputFolder(found, canWrite)) {
    outputFolder = FileLayerPath(dialogs_->AskFolder(
        QStringLiteral("Some files are in folders that can't be written: a folder for their outputs"),
        QDir::homePath()));
    // Cancelled: nothing is converted.
    if (TrimBlanks(outputFolder).empty()) return result;
  }
  result.opened = true;
  SetStopEnabled(true);
  Gauge().SetMinimum(0);
  Gauge().SetMaximum(kBatchGaugeRange);
  Gauge().SetPosition(0);
  SetMemoText("Converting " + Counted(found.files.size(), "file", "files") + ":");
  WindowBatchSink sink(*this, state_, found);
  for (const auto& [name, problem] : found.problems) sink.Tell(name, problem);
  BatchResult runs;
  result.error = RunCommandSteps(
      [&] { runs = RunConvert(PlanBatchInputs(found, canWrite, outputFolder), ConvertSettings{}, sink); },
      [] {});
  if (result.error) return result;
  if (runs.refusal) sink.Problem(*runs.refusal);
  SetStopEnabled(false);
  if (!runs.stopped) Gauge().SetPosition(kBatchGaugeRange);
  result.completed = !runs.stopped;
  NotifyUser(BatchSummary(sink, found.files.size(), runs.stopped));
  return result;
}

}  // namespace morvane
