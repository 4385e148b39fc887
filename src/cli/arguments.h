#pragma once

#include <string>
#include <vector>

namespace morvane {

// The program's arguments as UTF-8 text, the program's name first. On POSIX
// they are argv's bytes unchanged; on Windows they are taken from the wide
// command line, since argv holds them in the ANSI code page, which loses
// every letter outside it, and the console is set to show UTF-8, the text
// every name is printed in.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace morvane
