#pragma once

namespace morvane {

class Form1;

// Shows the window and runs the program until the window is closed (status
// 0) or the program is ended from outside: by SIGTERM, SIGINT or SIGHUP
// (status 128 plus the signal's number), or by the end of the desktop
// session. The command in hand then stops and nothing it had not finished
// is left on disk.
int RunWindow(Form1& form);

}  // namespace morvane
