// morvane-cli: the window's commands from the command line, a batch
// conversion and a demo stream.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "codecs/film_encoders.h"
#include "core/byte_file.h"
#include "core/platform.h"
#include "core/support.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kRateBoxLength = 5;  // the rate box takes at most 5 characters

const char kVersion[] = "morvane-cli " MORVANE_VERSION "\n";

const char kUsage[] =
    "Usage: morvane-cli analyze FILE\n"
    "       morvane-cli extract FILE\n"
    "       morvane-cli wav FILE --rate TEXT\n"
    "       morvane-cli convert [-o DIR] [--keep-sound] [--map] [--no-movies]\n"
    "                           [--no-posters] [--webm [--all-tracks]] [--null]\n"
    "                           [--rate TEXT] FILE...\n"
    "       morvane-cli make-demo FILE\n"
    "       morvane-cli --help | --version\n";

const char kHelp[] =
    "\n"
    "Commands:\n"
    "  analyze FILE     Analyze File: walks the chunks of FILE and writes FILE.MAP.\n"
    "                   Prints the text box's new lines (the path, the summary) and\n"
    "                   the fifteen information rows.\n"
    "  extract FILE     Extract Chunks: reads FILE.MAP and writes FILE0.sound,\n"
    "                   FILE1.sound, ... Prints the text box's lines.\n"
    "  wav FILE         SDX2 to WAV: decodes the sound file FILE into FILE.wav at the\n"
    "                   rate TEXT, read as the window reads its rate box: a leading\n"
    "                   sign, then digits up to the first other character; empty text,\n"
    "                   letters or a leading blank give 0. --rate is required here\n"
    "                   (give --rate \"\" for the empty box).\n"
    "  convert FILE...  Converts every sound stream of each file in one pass: each\n"
    "                   sound header n starts FILEn.sound.wav, and each data block\n"
    "                   goes to the present output of its own stream number, so\n"
    "                   interleaved streams come apart. SDX2 stereo and mono are\n"
    "                   decoded at each header's rate; any other compression is kept\n"
    "                   undecoded as FILEn.sound and reported. Each film header n\n"
    "                   starts FILEn.film.mkv, a Matroska movie of the film's frames\n"
    "                   (copied as they are, each at its own time) with a 16-bit\n"
    "                   PCM track of each decoded sound stream that plays beside it,\n"
    "                   and FILEn.film.png, the picture of its first key frame.\n"
    "                   An AIFC file (FORM) with SDX2 sound gives FILE0.sound.wav.\n"
    "                   A cut file converts as far as its data goes. Prints the name\n"
    "                   of every file written, one a line (control characters\n"
    "                   escaped as \\n, \\t, \\\\, \\xHH); every problem goes to stderr as\n"
    "                   \"NAME: what happened\", and the other files go on. A progress\n"
    "                   bar is shown on stderr when it is a terminal.\n"
    "  make-demo FILE   Writes a demo stream: a stereo melody, SDX2 at 22050 Hz, in\n"
    "                   two sound streams, and beside the first a film of four\n"
    "                   seconds: a moving test pattern, Cinepak at 320x240, 12\n"
    "                   frames a second.\n"
    "\n"
    "Options:\n"
    "  --rate TEXT      The text of the rate box, at most 5 characters, giving a\n"
    "                   positive sample rate in Hz; with convert, one rate for\n"
    "                   every stream instead of its header's.\n"
    "  -o, --output-dir DIR\n"
    "                   convert: writes every output into DIR (made when missing)\n"
    "                   under the input's base name, not beside the input.\n"
    "  --keep-sound     convert: also writes each stream's raw data, FILEn.sound.\n"
    "  --map            convert: also writes FILE.MAP as analyze does.\n"
    "  --no-movies      convert: writes no movie; the films are passed over.\n"
    "  --no-posters     convert: writes no FILEn.film.png beside the movies.\n"
    "  --webm           convert: also writes each Cinepak film as FILEn.film.webm,\n"
    "                   VP9 and Opus, which browsers and phones play: the one to\n"
    "                   share (the .mkv keeps every bit of the original). It holds\n"
    "                   the movie's first sound track.\n"
    "  --all-tracks     convert --webm: the WebM holds every sound track.\n"
    "  --null           convert: ends each printed name with a NUL byte instead of\n"
    "                   a line feed, unescaped (for xargs -0).\n"
    "  -h, --help       Shows this text.\n"
    "  -v, --version    Shows the version.\n"
    "\n"
    "The window's messages (\"Process finished\", \"Input Error \", ...) go to stderr,\n"
    "one a line; so does the text of an error that ends a command.\n"
    "\n"
    "Every file is written under a hidden temporary name beside it and renamed\n"
    "onto its name when complete; a link at the name is replaced, never written\n"
    "through. Only regular files below 2 GiB are read.\n"
    "\n"
    "Exit status: 0 success; 1 a command failed: an error ended it, its file could\n"
    "not be opened (\"Input Error \"), the map is missing, or an output file could\n"
    "not be created; 2 a usage error; 130, 143 or 129 interrupted by SIGINT, SIGTERM\n"
    "or SIGHUP (the temporary files are removed, earlier files stay as they were).\n"
    "\n"
    "Examples:\n"
    "  morvane-cli analyze intro.str\n"
    "  morvane-cli convert -o out/ disc/*.str\n";

void Print(std::FILE* stream, const std::string& text) { std::fwrite(text.data(), 1, text.size(), stream); }

int UsageError(const std::string& problem) {
  Print(stderr, "morvane-cli: " + problem + "\n" + kUsage + "Try 'morvane-cli --help' for more.\n");
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
       noPosters = false, webm = false, allTracks = false;
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

  if (help) {
    Print(stdout, std::string(kUsage) + kHelp);
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
  if (command != "analyze" && command != "extract" && !takesRate && command != "make-demo") {
    return UsageError("unknown command '" + command + "'");
  }
  if (rate && !takesRate) return UsageError("--rate belongs to wav and convert only");
  // A WAV at no positive rate would open in no player.
  if (rate && !morvane::RateFromText(*rate)) {
    return UsageError("--rate '" + *rate + "' gives no positive sample rate in Hz");
  }
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
  return morvane::MakeDemoCommand(files.front());
}
