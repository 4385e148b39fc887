#pragma once

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>

#include "app/form1.h"
#include "scripted_dialogs.h"

namespace morvane::test {

// A window whose dialogs answer from a script, whose player records, and
// whose pump looks at the queue at every call.
struct FormFixture {
  SharedState state;
  ScriptedDialogs* dialogs = new ScriptedDialogs;
  RecordingPlayer* player = new RecordingPlayer;
  std::unique_ptr<Form1> form;
  FormFixture()
      : form(std::make_unique<Form1>(state, std::unique_ptr<Dialogs>(dialogs),
                                     std::unique_ptr<SoundPlayer>(player))) {
    form->SetPumpInterval(0);
  }
  void Pick(const std::string& path) { dialogs->answers.push_back(QString::fromStdString(path)); }
};

// Where a drop on the widget lands, in the window's coordinates.
inline QPoint On(const Form1& form, const QWidget* widget) {
  return widget->mapTo(&form, widget->rect().center());
}
// A spot of the window's background, beside every control.
inline QPoint Beside(const Form1& form) { return form.centralWidget()->mapTo(&form, QPoint(8, 8)); }

// Drags files (or URLs) over the window to `at` as a file manager does (the
// source offers a move or a copy) and drops them there. Gives whether the
// window took the drag there; the command that the drop starts runs from
// the queue before this returns.
inline bool DropFiles(Form1& form, const QStringList& paths, QPoint at) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& path : paths) urls << (path.contains(u':') ? QUrl(path) : QUrl::fromLocalFile(path));
  data.setUrls(urls);
  const Qt::DropActions offered = Qt::MoveAction | Qt::CopyAction;
  QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&form, &enter);
  QDragMoveEvent move(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&form, &move);
  // A move reaches the window only once it took the enter.
  const bool taken = enter.isAccepted() && move.isAccepted() && move.dropAction() == Qt::CopyAction;
  QDropEvent drop(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&form, &drop);
  QCoreApplication::processEvents();
  return taken;
}
inline bool DropFile(Form1& form, const std::string& path, QPoint at) {
  return DropFiles(form, {QString::fromStdString(path)}, at);
}

// Runs the action at the first look at the queue inside a command.
inline void WhileRunning(Form1& form, std::function<void()> action) {
  auto* timer = new QTimer(&form);
  QObject::connect(timer, &QTimer::timeout, &form, [&form, timer, action] {
    if (!form.CommandRunning()) return;
    timer->deleteLater();
    timer->stop();
    action();
  });
  timer->start(0);
}

// Enabled state of Analyze, Extract, SDX2 to WAV, STOP, PLAY, as a word.
inline QString ButtonStates(const Form1& form) {
  QString word;
  for (const QPushButton* b : {form.BitBtn1, form.BitBtn2, form.BitBtn3, form.Button1, form.Button2}) {
    word += b->isEnabled() ? u'E' : u'd';
  }
  return word;
}

}  // namespace morvane::test
