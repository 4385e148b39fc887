// morvane-cli: the window's commands from the command line, a batch
// conversion and a demo stream.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/help.h"
#include "codecs/film_encoders.h"
#include "core/byte_file.h"
#include "core/platform.h"
#include "core/support.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kRateBoxLength = 5;  // the rate box takes at most 5 characters

const char kVersion[] = "morvane-cli " MORVANE_VERSION "\n";

void Print(std::FILE* stream, const std::string& text) { std::fwrite(text.data(), 1, text.size(), stream); }

int UsageError(const std::string& problem) {
  Print(stderr, "morvane-cli: " + problem + "\n" + morvane::kUsage + "Try 'morvane-cli --help' for more.\n");
  return kUsageError;
}

// The length of the text as the rate box counts it: in UTF-16 units, a
// character beyond the basic plane taking two and each byte that is no
// part of a whole UTF-8 character one.
std::size_t BoxLength(const std::string& text) {
  std::size_t units = 0;
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t trail = lead >= 0xF0 && lead <= 0xF4  ? 3
                              : lead >= 0xE0 && lead < 0xF0 ? 2
                              : lead >= 0xC2 && lead < 0xE0 ? 1
                                                            : 0;
    std::size_t whole = 0;
    while (whole < trail && at + 1 + whole < text.size() &&
           (static_cast<unsigned char>(text[at + 1 + whole]) & 0xC0) == 0x80) {
      ++whole;
    }
    const bool character = lead < 0x80 || (trail > 0 && whole == trail);
    units += character && trail == 3 ? 2 : 1;
    at += character ? 1 + trail : 1;
  }
  return units;
}

// The option of the command line that a missing value belongs to, as it
// was spelled.
std::string OptionMissingItsValue(const std::vector<std::string>& arguments) {
  for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) {
    if (*it == "--rate" || *it == "-o" || *it == "--output-dir") return *it;
  }
  return "--rate";
}

// An unknown option's name without its dashes and value.
std::string OptionName(const std::string& argument) {
  const std::size_t start = argument.find_first_not_of('-');
  if (start == std::string::npos) return argument;
  return argument.substr(
      start, argument.find('=') == std::string::npos ? std::string::npos : argument.find('=') - start);
}

}  // namespace

int main(int argc, char** argv) {
  // An interrupted run removes the files it had not finished, and ends with
  // 128 plus the signal's number.
  morvane::platform::OnInterrupt(morvane::RemoveLiveTemporaries);
  // "--rate=TEXT" is read as "--rate" "TEXT", so that TEXT may be empty.
  const std::vector<std::string> given = morvane::Utf8Arguments(argc, argv);
  std::vector<std::string> arguments;
  bool optionsEnded = false;
  for (std::size_t i = 1; i < given.size(); ++i) {
    const std::string& argument = given[i];
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    optionsEnded = optionsEnded || argument == "--";
    if (!optionsEnded && equals != std::string::npos && (name == "--rate" || name == "--output-dir")) {
      arguments.push_back(name);
      arguments.push_back(argument.substr(equals + 1));
    } else {
      arguments.push_back(argument);
    }
  }

  // Options may stand before, between and after the command and its files;
  // "--" ends them.
  CLI::App app;
  app.set_help_flag();
  app.allow_extras();
  bool help = false, version = false, keepSound = false, map = false, nullSeparated = false, noMovies = false,
       disc = false, noPosters = false, webm = false, allTracks = false;
  std::vector<std::string> rates, outputDirs, positional;
  app.add_flag("-h,--help", help);
  app.add_flag("-v,--version", version);
  // Each of these takes one value each time it is given.
  for (auto [names, values] : {std::pair{"--rate", &rates}, std::pair{"-o,--output-dir", &outputDirs}}) {
    app.add_option(names, *values)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  }
  app.add_flag("--keep-sound", keepSound);
  app.add_flag("--map", map);
  app.add_flag("--no-movies", noMovies);
  app.add_flag("--no-posters", noPosters);
  app.add_flag("--webm", webm);
  app.add_flag("--all-tracks", allTracks);
  app.add_flag("--null", nullSeparated);
  app.add_flag("--disc", disc);
  app.add_option("arguments", positional);
  try {
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch&) {
    return UsageError("Missing value after '" + OptionMissingItsValue(arguments) + "'.");
  } catch (const CLI::ParseError& error) {
    return UsageError(error.what());
  }
  for (const std::string& extra : app.remaining()) {
    if (extra == "--") continue;
    if (extra.size() > 1 && extra.front() == '-')
      return UsageError("Unknown option '" + OptionName(extra) + "'.");
    positional.push_back(extra);
  }

  // "--help" after a command, and "help COMMAND", give the command's own help.
  const bool helpCommand = !positional.empty() && positional.front() == "help";
  if (help || helpCommand) {
    const std::size_t named = helpCommand ? 1 : 0;
    if (positional.size() <= named) {
      Print(stdout, morvane::OverviewHelp());
      return 0;
    }
    if (helpCommand && positional.size() > 2) return UsageError("help takes one COMMAND");
    const std::optional<std::string> text = morvane::CommandHelp(positional[named]);
    if (!text) return UsageError("unknown command '" + positional[named] + "'");
    Print(stdout, *text);
    return 0;
  }
  if (version) {
    Print(stdout, kVersion);
    return 0;
  }

  if (positional.empty()) return UsageError("no command given");
  const std::string command = positional.front();
  const std::vector<std::string> files(positional.begin() + 1, positional.end());

  std::optional<std::string> rate;
  if (!rates.empty()) {
    if (rates.size() > 1) return UsageError("--rate given more than once");
    rate = rates.front();
    if (BoxLength(*rate) > kRateBoxLength) return UsageError("the rate text holds more than 5 characters");
  }

  const bool takesRate = command == "wav" || command == "convert";
  if (command != "analyze" && command != "extract" && !takesRate && command != "make-demo" &&
      command != "list" && command != "unpack") {
    return UsageError("unknown command '" + command + "'");
  }
  if (rate && !takesRate) return UsageError("--rate belongs to wav and convert only");
  // A WAV at no positive rate would open in no player.
  if (rate && !morvane::RateFromText(*rate)) {
    return UsageError("--rate '" + *rate + "' gives no positive sample rate in Hz");
  }
  // unpack takes its folder as convert does, and needs one.
  std::string unpackDir;
  if (command == "unpack") {
    if (outputDirs.empty()) return UsageError("unpack needs -o DIR");
    if (outputDirs.size() > 1) return UsageError("--output-dir given more than once");
    if (outputDirs.front().empty()) return UsageError("--output-dir needs a folder");
    unpackDir = outputDirs.front();
    outputDirs.clear();
  }
  if (disc && command != "make-demo") return UsageError("--disc belongs to make-demo only");
  const std::pair<const char*, bool> convertOptions[] = {{"output-dir", !outputDirs.empty()},
                                                         {"keep-sound", keepSound},
                                                         {"map", map},
                                                         {"no-movies", noMovies},
                                                         {"no-posters", noPosters},
                                                         {"webm", webm},
                                                         {"all-tracks", allTracks},
                                                         {"null", nullSeparated}};
  for (const auto& [name, given] : convertOptions) {
    if (given && command != "convert")
      return UsageError(std::string("--") + name + " belongs to convert only");
  }
  if (allTracks && !webm) return UsageError("--all-tracks belongs to --webm");
  if (webm && noMovies) return UsageError("--webm writes each film beside its movie; not with --no-movies");
  if (webm && !morvane::FilmEncodersBuilt()) return UsageError("--webm: not in this build");
  if (files.empty()) return UsageError(command + " needs a FILE");
  if (command != "convert" && files.size() > 1) return UsageError(command + " takes one FILE");
  for (const std::string& file : files) {
    // The window takes a blank name for a cancelled dialog; here it is a slip.
    if (morvane::TrimBlanks(file).empty()) return UsageError("FILE must not be empty or blank");
  }

  if (command == "analyze") return morvane::AnalyzeCommand(files.front());
  if (command == "list") return morvane::ListCommand(files.front());
  if (command == "unpack") {
    morvane::BatchPrinting printing;
    printing.progressBar = morvane::platform::StandardErrorIsTerminal();
    return morvane::UnpackCommand(files.front(), unpackDir, printing);
  }
  if (command == "extract") return morvane::ExtractCommand(files.front());
  if (command == "wav") {
    if (!rate) return UsageError("wav needs --rate TEXT");
    return morvane::WavCommand(files.front(), *rate);
  }
  if (command == "convert") {
    morvane::ConvertSettings settings;
    settings.rateText = rate;
    if (!outputDirs.empty()) {
      if (outputDirs.size() > 1) return UsageError("--output-dir given more than once");
      settings.outputDir = outputDirs.front();
      if (settings.outputDir->empty()) return UsageError("--output-dir needs a folder");
    }
    settings.keepSound = keepSound;
    settings.map = map;
    settings.movies = !noMovies;
    settings.posters = !noPosters;
    settings.webm = webm;
    settings.allTracks = allTracks;
    morvane::BatchPrinting printing;
    printing.nullSeparated = nullSeparated;
    printing.progressBar = morvane::platform::StandardErrorIsTerminal();
    return morvane::ConvertCommand(files, settings, printing);
  }
  return morvane::MakeDemoCommand(files.front(), disc);
}
