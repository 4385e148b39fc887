#include "cli/help.h"

#include <string_view>

namespace morvane {

const char kUsage[] =
    "Usage: morvane-cli convert [OPTION]... FILE|FOLDER...\n"
    "  or:  morvane-cli analyze FILE\n"
    "  or:  morvane-cli extract FILE\n"
    "  or:  morvane-cli wav --rate TEXT FILE\n"
    "  or:  morvane-cli list IMAGE\n"
    "  or:  morvane-cli unpack -o DIR IMAGE\n"
    "  or:  morvane-cli make-demo [--disc] FILE\n"
    "  or:  morvane-cli help [COMMAND]\n"
    "  or:  morvane-cli --help | --version\n";

namespace {

const char kOverview[] =
    "\n"
    "Digs the sound and the pictures out of chunked multimedia stream files: each\n"
    "sound stream becomes a WAV file, each film a Matroska movie with its sound.\n"
    "The commands analyze, extract and wav are the window's own, one file at a time;\n"
    "their messages (\"Process finished\", \"Input Error \", ...) go to stderr, one a\n"
    "line, and so does the text of an error that ends a command. Every file is\n"
    "written under a hidden temporary name beside it and renamed onto its name when\n"
    "complete; a link at the name is replaced, never written through. Only regular\n"
    "files below 2 GiB are read.\n"
    "\n"
    "Commands:\n"
    "  convert        every sound stream and film of files and whole folders of\n"
    "                 streams, each file in one pass: FILEn.sound.wav, FILEn.film.mkv\n"
    "  analyze        Analyze File: the summary and the fifteen rows; writes FILE.MAP\n"
    "  extract        Extract Chunks: each sound stream into FILE0.sound, FILE1.sound...\n"
    "  wav            SDX2 to WAV: a sound file into FILE.wav at the rate given\n"
    "  list           a disc image's label and every file of it, with what it holds\n"
    "  unpack         every file of a disc image, byte for byte, into a folder\n"
    "  make-demo      writes a demo stream: a Cinepak film beside two SDX2 streams\n"
    "  help COMMAND   the command's own help, as morvane-cli COMMAND --help\n"
    "\n"
    "Options:\n"
    "  -h, --help     shows this text; after a command, the command's own help\n"
    "  -v, --version  shows the version\n"
    "\n"
    "Options may stand before, between and after the command and its files; \"--\"\n"
    "ends them.\n"
    "\n"
    "Exit status: 0 success; 1 a command failed, or did not convert everything\n"
    "whole (stderr says what); 2 a usage error; 130, 143 or 129 interrupted by\n"
    "SIGINT, SIGTERM or SIGHUP (the temporary files are removed, earlier files stay\n"
    "as they were).\n"
    "\n"
    "Examples:\n"
    "  morvane-cli make-demo demo.str\n"
    "  morvane-cli convert demo.str\n"
    "  morvane-cli convert -o out/ disc/\n"
    "  morvane-cli convert game.cue\n"
    "  morvane-cli help convert\n";

struct Command {
  std::string_view name;
  const char* text;  // from its usage line on
};

const Command kCommands[] = {
    {"convert",
     "Usage: morvane-cli convert [OPTION]... FILE|FOLDER...\n"
     "\n"
     "Converts every sound stream and film of each FILE, and of every stream in each\n"
     "FOLDER, reading each file once, front to back. A folder is walked down every\n"
     "level in name order, as the window walks one dropped on it; hidden entries,\n"
     "links to folders, what a run writes (.MAP, .sound, .sound.wav, .film.mkv,\n"
     ".film.png, .film.webm) and files that are no stream are passed over.\n"
     "\n"
     "A disc image (a .cue sheet, or a file of 2048-byte blocks or raw 2352-byte\n"
     "sectors holding the disc's file system), named or met in a folder, is\n"
     "converted whole: every stream and sound file of the disc as the same file\n"
     "unpacked, its outputs at its path on the disc under NAME/ beside the image\n"
     "(DIR/NAME/ with -o), NAME being the image's name less its extension (NAME.files\n"
     "without one), and each CD audio track as NAME/TrackNN.wav. A file that a .cue\n"
     "beside it names is read through the sheet alone.\n"
     "\n"
     "Writes, beside each stream or below DIR:\n"
     "  FILEn.sound.wav  the stream of the n-th sound header: SDX2 stereo or mono\n"
     "                   decoded to 16-bit PCM at its header's rate. Each data block\n"
     "                   goes to the present output of its own stream number, so\n"
     "                   interleaved streams come apart. An AIFC file (FORM) with\n"
     "                   SDX2 sound gives FILE0.sound.wav.\n"
     "  FILEn.film.mkv   the film of the n-th film header: a Matroska movie of its\n"
     "                   frames, copied as they are, each at its own time, with a\n"
     "                   16-bit PCM track of each decoded sound stream beside it.\n"
     "  FILEn.sound      a stream of any other compression or channel count, kept\n"
     "                   undecoded (and told); with --keep-sound, every stream.\n"
     "  FILE.MAP         with --map: the map as analyze writes it.\n"
     "\n"
     "Options:\n"
     "  -o, --output-dir DIR  writes the outputs below DIR (made when missing):\n"
     "                        those of a FILE in DIR, those of a stream met in a\n"
     "                        FOLDER at its place below the folder's own name\n"
     "                        (convert tree -o out writes\n"
     "                        out/tree/disc1/intro.str0.sound.wav).\n"
     "  --keep-sound          also writes each stream's raw data, FILEn.sound.\n"
     "  --map                 also writes FILE.MAP as analyze does.\n"
     "  --no-movies           writes no movie; the films are passed over.\n"
     "  --null                ends each printed name with a NUL byte instead of a\n"
     "                        line feed, unescaped (for xargs -0).\n"
     "  --rate TEXT           one rate for every stream instead of its header's:\n"
     "                        the text of the rate box, at most 5 characters,\n"
     "                        giving a positive rate in Hz.\n"
     "  -h, --help            shows this text.\n"
     "\n"
     "Prints the name of every file written whole, one a line (control characters\n"
     "escaped as \\n, \\t, \\\\, \\xHH). Every problem goes to stderr as \"NAME: what\n"
     "happened\", and the other files go on. A cut file converts as far as its data\n"
     "goes, and every output it cut short is named. A FILE that is no stream is\n"
     "skipped and told, as is a batch whose FOLDERs hold no stream at all. On a\n"
     "terminal, one progress line on stderr follows the whole batch.\n"
     "\n"
     "Exit status: 0 every stream of every file converted whole; 1 something was\n"
     "not (stderr says what); 2 a usage error, such as two FILEs named with -o that\n"
     "would write the same outputs (nothing is written).\n"
     "\n"
     "Examples:\n"
     "  morvane-cli convert demo.str\n"
     "  morvane-cli convert -o out/ disc/\n"
     "  morvane-cli convert --null disc/ | xargs -0 ls -l\n"
     "  morvane-cli convert -o out/ game.cue\n"},
    {"list",
     "Usage: morvane-cli list IMAGE\n"
     "\n"
     "Shows a disc image's label (\"Label: ...\"), then every folder and file of its\n"
     "file system, one a line: the path, a tab, \"folder\" or the size in bytes, a\n"
     "tab and what the file holds (\"stream: 2 sounds, 1 film\", \"AIFF\" or\n"
     "\"other\"); then its CD audio tracks. IMAGE is a .cue sheet and the files it\n"
     "names, or an image of 2048-byte blocks or of raw 2352-byte mode-1 sectors.\n"
     "What could not be read goes to stderr as \"IMAGE/PATH: what happened\".\n"
     "\n"
     "Exit status: 0 the whole disc was read; 1 something of it could not be (stderr\n"
     "says what); 2 a usage error.\n"
     "\n"
     "Example:\n"
     "  morvane-cli list game.cue\n"},
    {"unpack",
     "Usage: morvane-cli unpack -o DIR IMAGE\n"
     "\n"
     "Writes every folder and file of a disc image under DIR (made when missing) at\n"
     "its path, the files byte for byte, reading the image once in the order its\n"
     "files lie. A name that can't be a file name here (/, \\, control bytes, bytes\n"
     "that are no UTF-8, . and .., on Windows : * ? \" < > |) is written with %XX for\n"
     "each such byte; nothing is written outside DIR. Prints the name of every file\n"
     "written; every problem of the image goes to stderr as \"IMAGE/PATH: what\n"
     "happened\", and the rest of the disc goes on.\n"
     "\n"
     "Options:\n"
     "  -o, --output-dir DIR  the folder to write under, required.\n"
     "  -h, --help            shows this text.\n"
     "\n"
     "Exit status: 0 every file written; 1 something of the disc could not be read\n"
     "or written (stderr says what); 2 a usage error.\n"
     "\n"
     "Example:\n"
     "  morvane-cli unpack -o files/ game.iso\n"},
    {"analyze",
     "Usage: morvane-cli analyze FILE\n"
     "\n"
     "Analyze File: walks the chunks of FILE and writes its map, FILE.MAP, beside it.\n"
     "Prints the text box's new lines (the path, the summary of the chunk kinds) and\n"
     "the fifteen information rows (\"Frequency: 22050 (Hz)\", \"Video Format: cvid\n"
     "320x240\", ...). A file that begins with FORM is read as an IFF audio file.\n"
     "\n"
     "Exit status: 0 success; 1 an error ended it or FILE could not be opened; 2 a\n"
     "usage error.\n"
     "\n"
     "Example:\n"
     "  morvane-cli analyze intro.str\n"},
    {"extract",
     "Usage: morvane-cli extract FILE\n"
     "\n"
     "Extract Chunks: reads FILE.MAP (written by analyze) and copies each sound\n"
     "stream of FILE into FILE0.sound, FILE1.sound, ... Prints the text box's lines.\n"
     "\n"
     "Exit status: 0 success; 1 an error ended it, FILE could not be opened or its\n"
     "map is missing; 2 a usage error.\n"
     "\n"
     "Example:\n"
     "  morvane-cli analyze intro.str && morvane-cli extract intro.str\n"},
    {"wav",
     "Usage: morvane-cli wav --rate TEXT FILE\n"
     "\n"
     "SDX2 to WAV: decodes the SDX2 stereo sound file FILE (from byte 140 on, as the\n"
     "window does) into FILE.wav, 16-bit PCM at the rate TEXT.\n"
     "\n"
     "Options:\n"
     "  --rate TEXT      the text of the rate box, required: at most 5 characters,\n"
     "                   read as the window reads the box (a leading sign, then\n"
     "                   digits up to the first other character), giving a positive\n"
     "                   rate in Hz.\n"
     "  -h, --help       shows this text.\n"
     "\n"
     "Exit status: 0 success; 1 an error ended it or FILE could not be opened; 2 a\n"
     "usage error.\n"
     "\n"
     "Example:\n"
     "  morvane-cli wav --rate 22050 intro.str0.sound\n"},
    {"make-demo",
     "Usage: morvane-cli make-demo [--disc] FILE\n"
     "\n"
     "Writes a demo stream to FILE, making the folders it goes in: a stereo melody,\n"
     "SDX2 at 22050 Hz, in two sound streams, and beside the first a film of four\n"
     "seconds, a moving test pattern in Cinepak at 320x240, 12 frames a second.\n"
     "convert turns it into FILE0.film.mkv, FILE0.sound.wav and FILE1.sound.wav.\n"
     "\n"
     "Options:\n"
     "  --disc           writes a disc image of 2048-byte blocks instead, labelled\n"
     "                   MORVANE DEMO: the demo stream (MOVIES/INTRO.STR), a second\n"
     "                   stream (MOVIES/MORE/LOOP.STR), an AIFC file of SDX2 sound\n"
     "                   (MUSIC/THEME.AIFC) and a text (README.TXT).\n"
     "\n"
     "Exit status: 0 success; 1 FILE could not be written (stderr names the file\n"
     "and the system's reason); 2 a usage error.\n"
     "\n"
     "Example:\n"
     "  morvane-cli make-demo samples/demo.str\n"
     "  morvane-cli make-demo --disc samples/demo.iso\n"},
};

}  // namespace

std::string OverviewHelp() { return std::string(kUsage) + kOverview; }

std::optional<std::string> CommandHelp(const std::string& command) {
  for (const Command& known : kCommands) {
    if (known.name == command) return std::string(known.text);
  }
  return std::nullopt;
}

}  // namespace morvane
