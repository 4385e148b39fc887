#include "app/program_end.h"

#include <QApplication>
#include <QDialog>
#include <QSessionManager>

#include "app/form1.h"
#include "core/byte_file.h"
#include "core/platform.h"

#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#else
#include <QSocketNotifier>
#endif

namespace morvane {

namespace {

// A command cut short by the session's end ends as SIGTERM would end it:
// that is what the desktop sends next anyway.
constexpr int kTerminated = 128 + 15;

void EndOnRequest(Form1& form) {
  if (const int signalNumber = platform::TakeEndRequest(); signalNumber != 0)
    form.EndFromOutside(128 + signalNumber);
}

}  // namespace

void Form1::EndFromOutside(int status) {
  if (endStatus_) return;
  endStatus_ = status;
  if (!commandRunning_) {
    RemoveLiveTemporaries();
    emit Ended(status);
    return;
  }
  // A dialog or box of the command closes as if cancelled or dismissed; the
  // command then meets the end at its next look at the queue.
  for (int open = 0; open < 8; ++open) {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) break;
    dialog->reject();
  }
}

int RunWindow(Form1& form) {
  const platform::FileHandle watched = platform::WatchEndRequests(RemoveLiveTemporaries);
  if (watched != platform::kNoFile) {
#ifdef Q_OS_WIN
    auto* notifier = new QWinEventNotifier(reinterpret_cast<void*>(watched), &form);
    QObject::connect(notifier, &QWinEventNotifier::activated, &form, [&form] { EndOnRequest(form); });
#else
    auto* notifier = new QSocketNotifier(static_cast<qintptr>(watched), QSocketNotifier::Read, &form);
    QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] { EndOnRequest(form); });
#endif
  }
#if QT_CONFIG(sessionmanager)
  QObject::connect(qApp, &QGuiApplication::commitDataRequest, &form, [&form](QSessionManager&) {
    form.EndFromOutside(form.CommandRunning() ? kTerminated : 0);
  });
#endif
  // A quit from elsewhere while a command runs ends it as the session's
  // end does; otherwise nothing is left to remove.
  QObject::connect(qApp, &QCoreApplication::aboutToQuit, &form, [&form] {
    if (form.CommandRunning()) {
      form.EndFromOutside(kTerminated);
    } else {
      RemoveLiveTemporaries();
    }
  });
  QObject::connect(&form, &Form1::Ended, qApp, [](int status) { QCoreApplication::exit(status); });
  form.show();
  return QApplication::exec();
}

}  // namespace morvane
