#include <QApplication>
#include <QDirIterator>
#include <QIcon>

#include "app/form1.h"
#include "app/program_end.h"
#include "core/shared_state.h"

int main(int argc, char* argv[]) {
  // The state exists before the window and outlives it.
  static morvane::SharedState state;
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Morvane"));
  QApplication::setApplicationVersion(QStringLiteral(MORVANE_VERSION));
  // Lets a desktop match the window to its launcher entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral(MORVANE_APP_ID));
  QIcon icon;
  QDirIterator sizes(QStringLiteral(":/icons"), {QStringLiteral("*.png")}, QDir::Files,
                     QDirIterator::Subdirectories);
  while (sizes.hasNext()) icon.addFile(sizes.next());
  QApplication::setWindowIcon(icon);
  morvane::Form1 form(state);
  return morvane::RunWindow(form);
}
