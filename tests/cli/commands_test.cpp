// analyze, extract and wav (and convert interrupted) as a user runs them: what each prints, its exit
// status, and the files it writes.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <set>

#include "audio/sdx2.h"
#include "core/byte_file.h"
#include "interrupt_run.h"
#include "run_cli.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace morvane::test {
namespace {

// The fifteen rows before any pass has set a label.
const char kUnknownRows[] =
    "Video Format: Unknown\nAudio Format: Unknown\nCompression Type: Unknown\nFrequency: Unknown\n"
    "Version: Unknown\nNumber Of Buffers: Unknown\nInitial Amplitude: Unknown\nInitial Balance: Unknown\n"
    "Data Format: Unknown\nSample Size: Unknown\nNumber Of Samples: Unknown\nNumber Of Channels: Unknown\n"
    "Compression Ratio: Unknown\nTime: Unknown\nStream: Unknown\n";

// The rows once the header below and a sound chunk of time 9, stream 1 are read.
const char kHeaderRows[] =
    "Video Format: Unknown\nAudio Format: Unknown\nCompression Type: SDX2\nFrequency: 22050 (Hz)\n"
    "Version: 3\nNumber Of Buffers: 4\nInitial Amplitude: -7\nInitial Balance: 16384\n"
    "Data Format: SDX2\nSample Size: 16 (Bit)\nNumber Of Samples: 100\nNumber Of Channels: 2\n"
    "Compression Ratio: 2\nTime: 9\nStream: 1\n";

std::set<std::string> Names(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

StreamBuilder::Header TestHeader(std::int32_t rate = 22050) {
  StreamBuilder::Header header;
  header.version = 3;
  header.buffers = 4;
  header.amplitude = -7;
  header.balance = 16384;
  header.sampleRate = rate;
  header.samples = 100;
  return header;
}

Bytes Concatenated(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

TEST(AnalyzeCommandTest, PrintsTheAppendedLinesAndTheRowsAndWritesTheMap) {
  TempDir dir;
  const Bytes a = PatternBytes(300, 1);
  const Bytes b = PatternBytes(41, 2);
  StreamBuilder stream;
  stream
      .Shdr(TestHeader())           // 0, size 64
      .Ssmp(a, 7, 1)                // 64, size 324
      .Sized("FILL", Bytes(8, 0))   // 388, size 16
      .Sized("SSND", {1, 2, 3, 4})  // 404, size 12
      .Ssmp(b, 9, 1);               // 416, size 65
  const std::string path = dir.Write("intro.str", stream.bytes());

  const CliRun run = RunCli({"analyze", path});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(path +
                "\nSummary Info:\nSNDS chunks founded:3\nSHDR sub-chunks founded:1\n"
                "SSMP sub-chunks founded:2\nSSND chunks founded:1\n\n" +
                kHeaderRows,
            run.out);
  EXPECT_EQ("Process finished\n", run.err);

  Bytes map;
  AppendId(map, "SNDS"), AppendLittleEndian32(map, 64);
  AppendId(map, "SHDR");
  for (const std::int32_t value : {4, -7, 16384, 16, 22050, 2}) AppendLittleEndian32(map, value);
  AppendId(map, "SDX2"), AppendLittleEndian32(map, 2), AppendLittleEndian32(map, 100);
  AppendId(map, "SNDS"), AppendLittleEndian32(map, 324);
  AppendId(map, "SSMP"), AppendLittleEndian32(map, 64 + 24), AppendLittleEndian32(map, 300);
  AppendId(map, "SSND"), AppendLittleEndian32(map, 12), AppendLittleEndian32(map, 404 + 8);
  AppendId(map, "SNDS"), AppendLittleEndian32(map, 65);
  AppendId(map, "SSMP"), AppendLittleEndian32(map, 416 + 24), AppendLittleEndian32(map, 41);
  EXPECT_EQ(map, ReadAll(path + ".MAP"));
}

TEST(AnalyzeCommandTest, FailuresPrintWhatWasShownSoFarAndExit1) {
  struct Case {
    const char* name;
    std::function<std::string(TempDir&)> make;  // gives the path to analyze
    std::string out;                            // after the path line, when the pass ran
    std::string err;                            // "@" stands for the path
    std::size_t mapSize;                        // bytes of the map left on disk, or npos for none
  };
  const Bytes data = PatternBytes(30, 3);
  const std::vector<Case> cases = {
      {"cut inside a chunk header",
       [&](TempDir& dir) {
         return dir.Write(
             "cut.str",
             StreamBuilder().Shdr(TestHeader()).Ssmp(data, 9, 1).Raw({'F', 'I', 'L', 'L', 0}).bytes());
       },
       std::string("\n") + kHeaderRows, "Read beyond end of file.\n", 8 + 40 + 8 + 12},
      {"missing file", [](TempDir& dir) { return dir.File("absent.str"); }, kUnknownRows,
       "Input Error \n@: No such file or directory\n", std::string::npos},
      {"map cannot be created",
       [&](TempDir& dir) {
         std::filesystem::create_directory(dir.File("blocked.str.MAP"));
         return dir.Write("blocked.str", StreamBuilder().Ssmp(data, 9, 1).bytes());
       },
       std::string("\n") + kUnknownRows, "Output writing Error \n@.MAP: Is a directory\nI/O error 103.\n",
       std::string::npos},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = c.make(dir);
    const CliRun run = RunCli({"analyze", path});
    EXPECT_EQ(1, run.status) << c.name;
    const bool passRan = c.out.front() == '\n';
    EXPECT_EQ(passRan ? path + c.out : c.out, run.out) << c.name;
    std::string err = c.err;
    if (const auto at = err.find('@'); at != std::string::npos) err.replace(at, 1, path);
    EXPECT_EQ(err, run.err) << c.name;
    if (c.mapSize == std::string::npos) {
      EXPECT_FALSE(std::filesystem::is_regular_file(path + ".MAP")) << c.name;
    } else {
      EXPECT_EQ(c.mapSize, ReadAll(path + ".MAP").size()) << c.name;
    }
  }
}

TEST(ExtractCommandTest, PrintsTheTextBoxAndWritesOneSoundFilePerHeader) {
  TempDir dir;
  const Bytes a = PatternBytes(25, 4), b = PatternBytes(10, 5), c = PatternBytes(33, 6);
  const std::string path = dir.Write("two.str", StreamBuilder()
                                                    .Shdr(TestHeader())
                                                    .Ssmp(a)
                                                    .Sized("SSND", {9, 9, 9, 9})
                                                    .Ssmp(b)
                                                    .Shdr(TestHeader(11025))
                                                    .Sized("FILM", Bytes(20, 1))
                                                    .Ssmp(c)
                                                    .bytes());
  ASSERT_EQ(0, RunCli({"analyze", path}).status);

  const CliRun run = RunCli({"extract", path});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("MAP-file \"" + path + ".map\" loaded successfully\nFile \"" + path + "1.sound\" created\n",
            run.out);
  EXPECT_EQ("Process Completed\n", run.err);
  EXPECT_EQ(Concatenated(a, b), ReadAll(path + "0.sound"));
  EXPECT_EQ(c, ReadAll(path + "1.sound"));
  EXPECT_FALSE(Exists(path + "2.sound"));
}

TEST(ExtractCommandTest, AMissingMapOrAnUncreatableSoundFileExits1) {
  TempDir dir;
  // No map beside the stream.
  const std::string lone = dir.Write("lone.str", StreamBuilder().Shdr(TestHeader()).bytes());
  CliRun run = RunCli({"extract", lone});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("", run.out);
  EXPECT_EQ(
      "Input Error. File \"" + lone + ".MAP\" not found.\"\n" + lone + ".MAP: No such file or directory\n",
      run.err);
  EXPECT_FALSE(Exists(lone + "0.sound"));

  // The walk goes on past a sound file it cannot create and ends normally,
  // but the file is missing: that is no success.
  ASSERT_EQ(0, RunCli({"analyze", lone}).status);
  std::filesystem::create_directory(lone + "0.sound");
  run = RunCli({"extract", lone});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("MAP-file \"" + lone + ".map\" loaded successfully\n", run.out);
  EXPECT_EQ("Output Error. File\n" + lone + "0.sound: Is a directory\nProcess Completed\n", run.err);

  // A walk cut by an error prints the lines so far and the error.
  const std::string early = dir.Write("early.str", StreamBuilder().Ssmp(PatternBytes(12, 7)).bytes());
  ASSERT_EQ(0, RunCli({"analyze", early}).status);
  run = RunCli({"extract", early});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("MAP-file \"" + early + ".map\" loaded successfully\n", run.out);
  EXPECT_EQ("I/O error 103.\n", run.err);
}

TEST(WavCommandTest, TheRateTextIsReadAsTheRateBoxIsRead) {
  TempDir dir;
  Bytes sound = PatternBytes(140, 8);  // never decoded
  const Bytes frames = {0x10, 0x20, 0x03, 0x05, 0xF0, 0xE1};
  sound.insert(sound.end(), frames.begin(), frames.end());
  const std::string path = dir.Write("a.sound", sound);

  // The whole file for the rate 22050: header, then the frames decoded.
  Bytes expected;
  AppendId(expected, "RIFF"), AppendLittleEndian32(expected, 36 + 12), AppendId(expected, "WAVE");
  AppendId(expected, "fmt "), AppendLittleEndian32(expected, 16);
  expected.insert(expected.end(), {1, 0, 2, 0});
  AppendLittleEndian32(expected, 22050), AppendLittleEndian32(expected, 88200);
  expected.insert(expected.end(), {4, 0, 16, 0});
  AppendId(expected, "data"), AppendLittleEndian32(expected, 12);
  Sdx2State state;
  for (std::size_t i = 0; i < frames.size(); i += 2) {
    const Sdx2Frame frame = DecodeSdx2Frame(state, frames[i], frames[i + 1]);
    for (const std::int16_t sample : {frame.sample1, frame.sample2}) {
      expected.push_back(static_cast<unsigned char>(sample));
      expected.push_back(static_cast<unsigned char>(static_cast<std::uint16_t>(sample) >> 8));
    }
  }
  CliRun run = RunCli({"wav", path, "--rate", "22050"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.out);
  EXPECT_EQ("Process Completed\n", run.err);
  EXPECT_EQ(expected, ReadAll(path + ".wav"));

  // Read as the rate box is read; a text that gives no positive rate is a
  // usage error that leaves the earlier WAV as it was. 0 stands for refused.
  const std::vector<std::pair<std::vector<std::string>, std::uint32_t>> rates = {
      {{"--rate", ""}, 0},     {{"--rate="}, 0},      {{"--rate", "-1"}, 0},        {{"--rate", "441x"}, 441},
      {{"--rate", " 441"}, 0}, {{"--rate", "+7"}, 7}, {{"--rate", "99999"}, 99999}, {{"--rate=44100"}, 44100},
      {{"--rate", "Hz"}, 0},   {{"--rate", "0"}, 0},  {{"--rate", "-0"}, 0},
  };
  for (const auto& [option, rate] : rates) {
    std::vector<std::string> arguments = {"wav", path};
    arguments.insert(arguments.end(), option.begin(), option.end());
    const Bytes before = ReadAll(path + ".wav");
    run = RunCli(arguments);
    if (rate == 0) {
      EXPECT_EQ(2, run.status) << option.back();
      EXPECT_NE(std::string::npos, run.err.find("gives no positive sample rate")) << run.err;
      EXPECT_EQ(before, ReadAll(path + ".wav")) << option.back();
      continue;
    }
    EXPECT_EQ(0, run.status) << option.back();
    const Bytes wav = ReadAll(path + ".wav");
    EXPECT_EQ(rate, LittleEndian32At(wav, 24)) << option.back();
    EXPECT_EQ(rate * 4, LittleEndian32At(wav, 28)) << option.back();
  }

  run = RunCli({"wav", dir.File("none.sound"), "--rate", "22050"});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("Input Error \n" + dir.File("none.sound") + ": No such file or directory\n", run.err);
  EXPECT_FALSE(Exists(dir.File("none.sound.wav")));
}

TEST(WavCommandTest, AnInterruptedConversionLeavesTheEarlierWavIntact) {
  // 24 MB of sound: its WAV takes a while to write. convert decodes ADP4 on
  // a second thread meanwhile, and has CBD2's WAV written by one, which the
  // signal must not land on.
  StreamBuilder stream, cheap;
  stream.Shdr(Header(0, 22050, 1, "ADP4"));
  cheap.Shdr(Header(0, 22050, 2, "CBD2"));
  for (int i = 0; i < 400; ++i) {
    stream.Ssmp(PatternBytes(60000, static_cast<std::uint32_t>(i)));
    cheap.Ssmp(PatternBytes(60000, static_cast<std::uint32_t>(i)));
  }
  struct Run {
    std::string input, wav;
    Bytes bytes;
    std::vector<std::string> arguments;
  };
  const Run runs[] = {
      {"long.sound", "long.sound.wav", PatternBytes(140 + 24'000'000, 3), {"wav", "--rate", "22050"}},
      {"long.str", "long.str0.sound.wav", stream.bytes(), {"convert"}},
      {"cheap.str", "cheap.str0.sound.wav", cheap.bytes(), {"convert"}},
  };
  for (const Run& run : runs) {
    TempDir dir;
    const std::string path = dir.Write(run.input, run.bytes);
    const Bytes earlier = PatternBytes(1000, 8);
    const std::string wav = dir.Write(run.wav, earlier);
    std::vector<std::string> arguments = run.arguments;
    arguments.insert(arguments.begin() + 1, path);
    for (const auto& [signalNumber, exitStatus] :
         {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}, std::pair{SIGHUP, 129}}) {
      SCOPED_TRACE(run.input + " " + std::to_string(exitStatus));
      const int status =
          InterruptWhileWriting(MORVANE_CLI_PATH, arguments, dir.path().string(), signalNumber).status;
      ASSERT_NE(-1, status) << "no temporary file appeared";
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(exitStatus, WEXITSTATUS(status));
      EXPECT_EQ(earlier, ReadAll(wav));
      EXPECT_EQ((std::set<std::string>{run.input, run.wav}), Names(dir.path()));
    }
  }
}

// A picked file that is no regular file, or of 2 GiB or more, is refused at
// once with the window's notice and the reason, and nothing is written.
TEST(AnalyzeCommandTest, OddInputsAreRefusedAtOnceWithTheReason) {
  TempDir dir;
  const std::string fifo = dir.File("pipe.str");
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  const std::string big = dir.Write("big.str", {});
  std::filesystem::resize_file(big, std::uintmax_t{3} << 30);
  const std::pair<std::string, std::string> cases[] = {
      {fifo, "Not a regular file"},
      {big, "A file of 2 GiB or more is refused"},
      {"/dev/zero", "Not a regular file"},
  };
  for (const auto& [path, reason] : cases) {
    SCOPED_TRACE(path);
    for (const char* command : {"analyze", "extract"}) {
      const auto start = std::chrono::steady_clock::now();
      const CliRun run = RunCli({command, path});
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
      EXPECT_EQ(1, run.status);
      EXPECT_EQ(0u, run.err.find("Input Error \n" + path + ": " + reason)) << run.err;
    }
  }
  EXPECT_EQ((std::set<std::string>{"pipe.str", "big.str"}), Names(dir.path()));
  EXPECT_FALSE(Exists("/dev/zero.MAP"));
}

TEST(UsageTest, UsageErrorsExit2AndWriteNothing) {
  TempDir dir;
  const std::string stream = dir.Write("s.str", StreamBuilder().Shdr(TestHeader()).bytes());
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"bogus", stream},
      {"analyze"},
      {"analyze", stream, stream},
      {"analyze", ""},
      {"extract", "  "},
      {"analyze", "--frobnicate", stream},
      {"analyze", "--rate", "1", stream},
      {"wav", stream},  // --rate is required
      {"wav", stream, "--rate", "123456"},
      {"wav", stream, "--rate"},
      {"wav", stream, "--rate", "1", "--rate", "2"},
      {"convert"},
      {"convert", "--rate", "220500", stream},
      {"make-demo"},
      {"unpack", stream},  // -o DIR is required
      {"list", "--disc", stream},
  };
  for (const auto& arguments : cases) {
    const CliRun run = RunCli(arguments, dir.path().string());
    std::string shown;
    for (const auto& argument : arguments) shown += "[" + argument + "]";
    EXPECT_EQ(2, run.status) << shown;
    EXPECT_EQ("", run.out) << shown;
    EXPECT_NE(std::string::npos, run.err.find("Usage: morvane-cli")) << shown;
  }
  EXPECT_EQ(1u, std::distance(std::filesystem::directory_iterator(dir.path()), {}));

  CliRun run = RunCli({"--help"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(0u, run.out.find("Usage: morvane-cli"));
  EXPECT_EQ("", run.err);
  // Each command has its own help, asked either way; the overview names them all.
  for (const std::string command : {"convert", "analyze", "extract", "wav", "list", "unpack", "make-demo"}) {
    const CliRun own = RunCli({command, "--help"});
    EXPECT_EQ(0, own.status) << command;
    EXPECT_EQ(0u, own.out.find("Usage: morvane-cli " + command + " ")) << own.out;
    EXPECT_EQ(own.out, RunCli({"help", command}).out) << command;
    EXPECT_NE(own.out, run.out);
    EXPECT_NE(std::string::npos, run.out.find("\n  " + command + " ")) << command;
  }
  EXPECT_EQ(run.out, RunCli({"help"}).out);
  EXPECT_NE(std::string::npos, RunCli({"help", "convert"}).out.find("FILEn.film.mkv"));
  EXPECT_EQ(2, RunCli({"help", "bogus"}).status);
  EXPECT_EQ(2, RunCli({"help", "convert", "wav"}).status);
  run = RunCli({"--version"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("morvane-cli 0.2.5\n", run.out);
}

}  // namespace
}  // namespace morvane::test
