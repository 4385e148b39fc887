// The window as the program runs it (RunWindow), with a file dropped on it
// at start, for the tests that end it from outside:
//   window_probe button|window FILE
// "button" drops FILE on Analyze File, "window" beside the buttons. Its
// dialogs and boxes answer at once, so that only a signal ends it.

#include <QApplication>
#include <QTimer>

#include "app/program_end.h"
#include "form_fixture.h"

int main(int argc, char* argv[]) {
  using namespace morvane;
  QApplication application(argc, argv);
  if (argc != 3) return 2;
  static SharedState state;
  Form1 form(state, std::make_unique<test::ScriptedDialogs>(), std::make_unique<test::RecordingPlayer>());
  const std::string target = argv[1], path = argv[2];
  QTimer::singleShot(0, &form, [&] {
    test::DropFile(form, path, target == "button" ? test::On(form, form.BitBtn1) : test::Beside(form));
  });
  return RunWindow(form);
}
