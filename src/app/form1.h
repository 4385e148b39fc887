#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/dialogs.h"
#include "app/gauge_widget.h"
#include "audio/wav_image.h"
#include "commands/command_flow.h"
#include "core/shared_state.h"
#include "core/window.h"

class QAction;
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

 private:
  void FormCreate();
  // The open dialog; gives the chosen path, empty when it was cancelled.
  std::string AskFileName();
  // Runs a command, then the window's closing steps; an error that ended
  // the command is shown after them. A click while another command runs is
  // refused.
  void RunCommand(const std::function<CommandResult()>& command, const std::function<void()>& closing);
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
