#include <QApplication>

#include "app/form1.h"
#include "core/shared_state.h"

int main(int argc, char* argv[]) {
  // The state exists before the window and outlives it.
  static morvane::SharedState state;
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Morvane"));
  morvane::Form1 form(state);
  form.show();
  return QApplication::exec();
}
