#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/gauge_widget.h"
#include "audio/wav_image.h"
#include "commands/command_flow.h"
#include "core/shared_state.h"
#include "core/window.h"

class QAction;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace morvane {

// The main window, with its controls named as in its layout. It runs every
// command inside the click handler of its button and is the Window through
// which the passes show what they find.
class Form1 : public QMainWindow, public Window {
  Q_OBJECT

 public:
  // Dialogs and player default to the real ones; tests hand in their own.
  explicit Form1(SharedState& state, std::unique_ptr<Dialogs> dialogs = nullptr,
                 std::unique_ptr<SoundPlayer> player = nullptr);
  ~Form1() override;

  // Window
  void SetLabel(ValueLabel label, const std::string& text) override;
  std::string MemoText() const override { return memoText_; }
  void SetMemoText(const std::string& text) override;
  void AppendMemoLine(const std::string& line) override;
  GaugeModel& Gauge() override { return Gauge1->model(); }
  void SetStopEnabled(bool enabled) override;
  std::string RateText() const override;
  void NotifyUser(const std::string& text) override;
  void ProcessPendingMessages() override;
  void KeepResponsive() override;
  void FileOpenEnded() override;

  // The pump looks at the queue only when this much time has passed since
  // it last did (tests set 0 to look every time).
  void SetPumpInterval(int milliseconds) { pumpIntervalMs_ = milliseconds; }
  bool CommandRunning() const { return commandRunning_; }
  int RefusedClicks() const { return refusedClicks_; }
  // The longest time between two looks at the queue during the last command.
  qint64 LongestPumpGapNs() const { return longestPumpGapNs_; }
  SharedState& State() { return state_; }
  // How the last command that ran ended.
  const CommandResult& LastResult() const { return lastResult_; }

  // The click handlers.
  void BitBtn1Click();  // Analyze File
  void BitBtn2Click();  // Extract Chunks
  void BitBtn3Click();  // SDX2 to WAV
  void Button1Click();  // STOP
  void Button2Click();  // PLAY
  void About1Click();

  // The program is ended from outside (a signal, the session's end) with
  // this exit status (program_end.cpp): the command in hand stops at its
  // next look at the queue, no box is shown any more, the live temporaries
  // are removed, and then Ended is emitted.
  void EndFromOutside(int status);

 signals:
  // The program may end now, with this status.
  void Ended(int status);

 public:
  QPlainTextEdit* Memo1;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;
  QPushButton* BitBtn3;
  QPushButton* Button1;
  QPushButton* Button2;
  GaugeWidget* Gauge1;
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QAction* About1;
  // Label1 .. Label32; index 0 is unused.
  std::array<QLabel*, 33> Labels{};

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Drops (form1_drops.cpp): one file on a command's button runs the
  // command on it; files and folders anywhere else are converted.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Where a command takes its file from: the open dialog, or a file
  // dropped on its button. Either gives the path as the file layer takes it.
  using PathSource = std::function<std::string()>;
  void AnalyzeFile(const PathSource& ask);
  void ExtractChunks(const PathSource& ask);
  void Sdx2ToWav(const PathSource& ask);
  void Play(const PathSource& ask);
  // The command of a button that takes a file, null for the others.
  using FileCommand = void (Form1::*)(const PathSource&);
  FileCommand CommandOf(const QPushButton* button) const;

  void FormCreate();
  // The open dialog; gives the chosen path, empty when it was cancelled.
  std::string AskFileName();
  // A path as the file layer takes it.
  static std::string FileLayerPath(const QString& path);
  // Runs a command, then the window's closing steps; an error that ended
  // the command is shown after them. A click while another command runs is
  // refused.
  void RunCommand(const std::function<CommandResult()>& command, const std::function<void()>& closing);
  // A click or drop that would start a second command: the beep.
  void RefuseSecondCommand();
  // What a drop starts, from the queue: null for the window beside the buttons.
  void Dropped(QPushButton* button, const QStringList& files);
  // The dropped files and folders converted in one batch.
  void ConvertDropped(const std::vector<std::string>& paths);
  CommandResult RunDroppedBatch(const std::vector<std::string>& paths);
  // What a drag carries and where it is: whether a drop there is taken.
  bool TakesDrop(const QDropEvent& event) const;
  QPushButton* ButtonAt(const QPoint& position) const;
  void SetCommandButtonsEnabled(bool enabled);  // BitBtn1, BitBtn2, BitBtn3, in that order
  // Tells the user to type a rate first; the result of a command that ended there.
  CommandResult RefuseWithoutRate();
  void LookAtQueue();
  // Shows the label texts that a running command set since the last look.
  void ShowPendingLabels();

  SharedState& state_;
  std::unique_ptr<Dialogs> dialogs_;
  std::unique_ptr<SoundPlayer> player_;
  std::string memoText_;
  CommandResult lastResult_;
  bool commandRunning_ = false;
  std::optional<int> endStatus_;
  bool closeRequested_ = false;
  int refusedClicks_ = 0;
  int pumpIntervalMs_ = 5;
  // The clock is read once every pumpStride_ calls; the stride adapts so
  // that it is read about every millisecond whatever a unit of work costs.
  unsigned pumpStride_ = 1;
  unsigned pumpCountdown_ = 1;
  QElapsedTimer pumpClock_;
  qint64 lastLookNs_ = 0;
  qint64 lastClockNs_ = 0;
  qint64 longestPumpGapNs_ = 0;
  // While a command runs, label texts wait here for the next look at the
  // queue: a pass sets two labels per sound chunk, and laying out a label's
  // text costs more than the rest of the chunk's work. Nothing can paint
  // them before that look.
  std::array<std::optional<std::string>, 33> pendingLabels_{};
  bool labelsPending_ = false;
};

}  // namespace morvane
