// morvane-cli: the window's commands from the command line, a batch
// conversion and a demo stream.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "core/byte_file.h"
#include "core/platform.h"
#include "core/support.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kRateBoxLength = 5;  // the rate box takes at most 5 characters

const char kVersion[] = "morvane-cli 0.2.5\n";

const char kUsage[] =
    "Usage: morvane-cli analyze FILE\n"
    "       morvane-cli extract FILE\n"
    "       morvane-cli wav FILE --rate TEXT\n"
    "       morvane-cli convert [-o DIR] [--keep-sound] [--map] [--null] [--rate TEXT] FILE...\n"
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
    "                   undecoded as FILEn.sound and reported. An AIFC file (FORM)\n"
    "                   with SDX2 sound gives FILE0.sound.wav. A cut file converts\n"
    "                   as far as its data goes. Prints the name of every file\n"
    "                   written, one a line (control characters escaped as \\n,\n"
    "                   \\t, \\\\, \\xHH); every problem goes to stderr as\n"
    "                   \"NAME: what happened\", and the other files go on. A progress\n"
    "                   bar is shown on stderr when it is a terminal.\n"
    "  make-demo FILE   Writes a demo stream: a stereo melody, SDX2 at 22050 Hz, in\n"
    "                   two sound streams.\n"
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
    "not be created; 2 a usage error; 130 or 143 interrupted by SIGINT or SIGTERM\n"
    "(the temporary files are removed, earlier files stay as they were).\n"
    "\n"
    "Examples:\n"
    "  morvane-cli analyze intro.str\n"
    "  morvane-cli convert -o out/ disc/*.str\n";

void Print(std::FILE* stream, const std::string& text) { std::fwrite(text.data(), 1, text.size(), stream); }

int UsageError(const std::string& problem) {
  Print(stderr, "morvane-cli: " + problem + "\n" + kUsage + "Try 'morvane-cli --help' for more.\n");
  return kUsageError;
}

// The arguments as Latin-1 text, one character per byte, so that the bytes
// of every path come back unchanged whatever their encoding.
QString FromBytes(const char* bytes) { return QString::fromLatin1(bytes); }
std::string ToBytes(const QString& text) { return text.toLatin1().toStdString(); }

}  // namespace

int main(int argc, char** argv) {
  // An interrupted run removes the files it had not finished, and ends with
  // 128 plus the signal's number.
  morvane::platform::OnInterrupt(morvane::RemoveLiveTemporaries);
  QStringList arguments;
  for (const std::string& argument : morvane::Utf8Arguments(argc, argv))
    arguments << FromBytes(argument.c_str());

  QCommandLineParser parser;
  const QCommandLineOption helpOption(QStringList{"h", "help"});
  const QCommandLineOption versionOption(QStringList{"v", "version"});
  const QCommandLineOption rateOption(QStringLiteral("rate"), QString(), QStringLiteral("TEXT"));
  parser.addOption(helpOption);
  parser.addOption(versionOption);
  parser.addOption(rateOption);
  const QCommandLineOption outputDirOption(QStringList{"o", "output-dir"}, QString(), QStringLiteral("DIR"));
  const QCommandLineOption keepSoundOption(QStringLiteral("keep-sound"));
  const QCommandLineOption mapOption(QStringLiteral("map"));
  const QCommandLineOption nullOption(QStringLiteral("null"));
  parser.addOption(outputDirOption);
  parser.addOption(keepSoundOption);
  parser.addOption(mapOption);
  parser.addOption(nullOption);
  if (!parser.parse(arguments)) return UsageError(ToBytes(parser.errorText()));

  if (parser.isSet(helpOption)) {
    Print(stdout, std::string(kUsage) + kHelp);
    return 0;
  }
  if (parser.isSet(versionOption)) {
    Print(stdout, kVersion);
    return 0;
  }

  const QStringList positional = parser.positionalArguments();
  if (positional.isEmpty()) return UsageError("no command given");
  const std::string command = ToBytes(positional.front());
  std::vector<std::string> files;
  for (qsizetype i = 1; i < positional.size(); ++i) files.push_back(ToBytes(positional[i]));

  std::optional<std::string> rate;
  if (parser.isSet(rateOption)) {
    const QStringList values = parser.values(rateOption);
    if (values.size() > 1) return UsageError("--rate given more than once");
    rate = ToBytes(values.front());
    // Counted as the box counts its characters.
    if (QString::fromUtf8(rate->data(), static_cast<qsizetype>(rate->size())).size() > kRateBoxLength) {
      return UsageError("the rate text holds more than 5 characters");
    }
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
  for (const QCommandLineOption* option : {&outputDirOption, &keepSoundOption, &mapOption, &nullOption}) {
    if (parser.isSet(*option) && command != "convert") {
      return UsageError("--" + ToBytes(option->names().back()) + " belongs to convert only");
    }
  }
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
    if (parser.isSet(outputDirOption)) {
      const QStringList values = parser.values(outputDirOption);
      if (values.size() > 1) return UsageError("--output-dir given more than once");
      settings.outputDir = ToBytes(values.front());
      if (settings.outputDir->empty()) return UsageError("--output-dir needs a folder");
    }
    settings.keepSound = parser.isSet(keepSoundOption);
    settings.map = parser.isSet(mapOption);
    morvane::BatchPrinting printing;
    printing.nullSeparated = parser.isSet(nullOption);
    printing.progressBar = morvane::platform::StandardErrorIsTerminal();
    return morvane::ConvertCommand(files, settings, printing);
  }
  return morvane::MakeDemoCommand(files.front());
}
