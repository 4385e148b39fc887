#include "window_driver.h"

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/dialogs.h"
#include "app/form1.h"
#include "audio/wav_image.h"
#include "commands/command_flow.h"
#include "core/errors.h"
#include "core/shared_state.h"

namespace morvane::bench {

namespace {

// The open dialog always picks the benchmark's file; the boxes are answered
// at once (the command's result tells what they said).
class PickingDialogs : public Dialogs {
 public:
  explicit PickingDialogs(QString path) : path_(std::move(path)) {}
  QString AskOpenFileName(const QString&, const QString&, const QString&) override { return path_; }
  QString AskFolder(const QString&, const QString&) override { return {}; }
  void NotifyUser(const QString&) override {}
  void ShowError(const QString&) override {}

 private:
  QString path_;
};

class SilentPlayer : public SoundPlayer {
 public:
  void Play(std::shared_ptr<const ByteImage>) override {}
};

using Clock = std::chrono::steady_clock;

}  // namespace

int RunWindowCommand(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: morvane-bench window analyze|extract|wav FILE [RATE]\n");
    return 1;
  }
  const std::string command = argv[2];
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication application(qtArgc, argv);

  SharedState state;
  Form1 form(state, std::make_unique<PickingDialogs>(QString::fromLocal8Bit(argv[3])),
             std::make_unique<SilentPlayer>());
  form.show();
  if (argc > 4) form.Edit1->setText(QString::fromLocal8Bit(argv[4]));
  QCoreApplication::processEvents();

  // A timer due at every look at the queue: the gaps between its firings are
  // the times in which the window could not have answered the user.
  Clock::time_point lastFired;
  Clock::time_point start;
  Clock::duration longestStall{};
  QTimer watch;
  watch.setInterval(0);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    const Clock::time_point now = Clock::now();
    if (std::getenv("MORVANE_BENCH_TRACE") && now - lastFired > std::chrono::milliseconds(12)) {
      std::fprintf(stderr, "gap %.1f ms at %.3f s: source %zu wave %zu\n",
                   std::chrono::duration<double, std::milli>(now - lastFired).count(),
                   std::chrono::duration<double>(now - start).count(),
                   state.SourceImage ? state.SourceImage->position : 0,
                   state.WaveImage ? state.WaveImage->bytes.size() : 0);
    }
    longestStall = std::max(longestStall, now - lastFired);
    lastFired = now;
  });
  watch.start();

  start = Clock::now();
  lastFired = start;
  if (command == "analyze") {
    form.BitBtn1Click();
  } else if (command == "extract") {
    form.BitBtn2Click();
  } else if (command == "wav") {
    form.BitBtn3Click();
  } else {
    std::fprintf(stderr, "unknown window command %s\n", command.c_str());
    return 1;
  }
  const Clock::time_point end = Clock::now();
  longestStall = std::max(longestStall, end - lastFired);
  watch.stop();

  const CommandResult& result = form.LastResult();
  if (result.Failed()) {
    std::string told = result.error ? "error box: " + ErrorBoxText(*result.error) : "no completion message";
    for (const std::string& notice : result.notices) told += " | " + notice;
    std::fprintf(stderr, "%s\n", told.c_str());
    return 2;
  }
  std::printf(
      "%.9f %lld %lld\n", std::chrono::duration<double>(end - start).count(),
      static_cast<long long>(form.LongestPumpGapNs()),
      static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(longestStall).count()));
  return 0;
}

}  // namespace morvane::bench
