#pragma once

#include <optional>
#include <string>

namespace morvane {

// The usage lines of every command, printed with each usage error.
extern const char kUsage[];

// morvane-cli --help: the usage lines, the commands and what holds for all.
std::string OverviewHelp();

// A command's own help (morvane-cli COMMAND --help, morvane-cli help
// COMMAND): its synopsis, what it does and writes, its options; nothing for
// a name that is no command.
std::optional<std::string> CommandHelp(const std::string& command);

}  // namespace morvane
