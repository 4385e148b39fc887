// Names and contents a user's files may have: blanks, quotes, non-ASCII
// letters and names near the platform's limit; a folder picked as the file;
// a file gone before it is opened; maps that point past their stream; chunk
// sizes that move to 2^31 or before 0; links and folders at the outputs'
// names; FIFOs, devices, sockets and files of 2 GiB picked as the stream.
// Each gets its message, and no file appears but the map, the numbered sound
// files and the WAV of the stem.

#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "reliability/command_run.h"

namespace morvane {
namespace {

using namespace test;

using Command = std::function<Outcome(SharedState&, RecordingWindow&, const std::string&)>;

struct NamedCommand {
  const char* name;
  Command run;
};
const NamedCommand kCommands[] = {{"Analyze File", test::RunAnalyze},
                                  {"Extract Chunks", test::RunExtract},
                                  {"SDX2 to WAV", test::RunConvert}};

// What the three commands leave for a stream: map, sound files, first WAV.
struct Outputs {
  Bytes map;
  std::vector<Bytes> sounds;
  Bytes wav;
};

// Analyze File, Extract Chunks, then SDX2 to WAV on sound file 0, each
// expected to run through.
Outputs RunAllThree(const std::string& path) {
  Outputs out;
  SharedState state;
  {
    RecordingWindow window;
    const Outcome analysis = test::RunAnalyze(state, window, path);
    EXPECT_TRUE(analysis.completed) << analysis.error;
    EXPECT_NE(std::string::npos, window.memo.find("\r\n" + path + "\r\nSummary Info:"));
  }
  {
    RecordingWindow window;
    const Outcome extraction = test::RunExtract(state, window, path);
    EXPECT_TRUE(extraction.completed) << extraction.error;
    EXPECT_TRUE(extraction.notices.empty());
    EXPECT_EQ(0u, window.memo.find("MAP-file \"" + path + ".map\" loaded successfully"));
  }
  {
    RecordingWindow window;
    window.rate = "22050";
    const Outcome conversion = test::RunConvert(state, window, test::SoundPath(path, 0));
    EXPECT_TRUE(conversion.completed) << conversion.error;
  }
  out.map = ReadAll(path + ".MAP");
  for (int n = 0; test::Exists(test::SoundPath(path, n)); ++n)
    out.sounds.push_back(ReadAll(test::SoundPath(path, n)));
  out.wav = ReadAll(test::SoundPath(path, 0) + ".wav");
  return out;
}

struct HostileName {
  const char* label;
  std::string folder;  // below the test's folder; empty for none
  std::string name;
};

void PrintTo(const HostileName& name, std::ostream* out) { *out << name.label; }

class HostileNameTest : public ::testing::TestWithParam<HostileName> {};

TEST_P(HostileNameTest, EveryCommandWorksAndWritesOnlyBesideTheStem) {
#ifdef _WIN32
  if ((GetParam().folder + GetParam().name).find('"') != std::string::npos)
    GTEST_SKIP() << "Windows takes no double quote in a file name";
#endif
  const Bytes stream = test::RealisticStream();
  test::TempDir plainDir;
  const Outputs expected = RunAllThree(plainDir.Write("plain.str", stream));
  ASSERT_EQ(3u, expected.sounds.size());

  test::TempDir dir;
  const std::filesystem::path folder = dir.path() / GetParam().folder;
  std::filesystem::create_directories(folder);
  const std::string path = test::Utf8(folder / test::PathOf(GetParam().name));
  test::WriteFile(path, stream);
  const Outputs got = RunAllThree(path);
  EXPECT_EQ(expected.map, got.map);
  EXPECT_EQ(expected.sounds, got.sounds);
  EXPECT_EQ(expected.wav, got.wav);

  const std::string& name = GetParam().name;
  EXPECT_EQ((std::set<std::string>{name, name + ".MAP", name + "0.sound", name + "1.sound", name + "2.sound",
                                   name + "0.sound.wav"}),
            test::FolderNames(folder));
}

INSTANTIATE_TEST_SUITE_P(
    Names, HostileNameTest,
    ::testing::Values(HostileName{"Blanks", "", "intro stream.str"},
                      HostileName{"Quotes", "", "the \"best\" 'intro'.str"},
                      HostileName{"NonAscii", "", "Ünïcødé ströme – 日本語.str"},
                      HostileName{"FolderWithBlanksAndQuotes", "my \"own\" files/and 'more'", "intro.str"},
                      HostileName{"LeadingDashAndDots", "", "-..str"},
                      // The longest name whose every derived name (the
                      // longest is 0.sound.wav) fits the platform's 255 bytes.
                      HostileName{"Name244", "", std::string(240, 'n') + ".str"}),
    [](const ::testing::TestParamInfo<HostileName>& info) { return std::string(info.param.label); });

// Names so long that the derived names pass the platform's 255 bytes: the
// command that cannot create its file says so, and nothing else is written.
TEST(HostileNames, TooLongForTheSoundFilesGivesOutputErrorAndWritesNothingElse) {
  test::TempDir dir;
  const std::string name = std::string(246, 'n') + ".str";  // 250; ".MAP" fits, "0.sound" does not
  const std::string path = dir.Write(name, test::RealisticStream());
  SharedState state;
  RecordingWindow analyzeWindow;
  EXPECT_TRUE(test::RunAnalyze(state, analyzeWindow, path).completed);
  RecordingWindow window;
  const Outcome out = test::RunExtract(state, window, path);
  ExpectEndedBy("I/O error 103", {"Output Error. File"}, out, state);
  EXPECT_EQ((std::set<std::string>{name, name + ".MAP"}), test::FolderNames(dir.path()));
}

TEST(HostileNames, TooLongForTheMapGivesOutputWritingErrorAndWritesNothing) {
  test::TempDir dir;
  const std::string name = std::string(248, 'n') + ".str";  // 252; ".MAP" makes 256
  const std::string path = dir.Write(name, test::RealisticStream());
  SharedState state;
  RecordingWindow window;
  const Outcome out = test::RunAnalyze(state, window, path);
  ExpectEndedBy("I/O error 103", {"Output writing Error "}, out, state);
  EXPECT_EQ(std::set<std::string>{name}, test::FolderNames(dir.path()));
}

TEST(HostileNames, SoundFilesWithLongNamesConvertWhileTheWavNameFits) {
  test::TempDir dir;
  Bytes sound(DecodeStartOffset, 0);
  sound.push_back(0x10);
  sound.push_back(0x20);
  for (const std::size_t length : {250u, 251u, 252u}) {
    SCOPED_TRACE(length);
    const std::string name = std::string(length - 6, 's') + ".sound";
    const std::string path = dir.Write(name, sound);
    SharedState state;
    RecordingWindow window;
    window.rate = "22050";
    const Outcome out = test::RunConvert(state, window, path);
    const bool fits = length + 4 <= 255;
    EXPECT_EQ(fits, out.completed);
    EXPECT_EQ(fits ? "" : "Cannot create file " + path + ".wav", out.error);
    EXPECT_TRUE(out.notices.empty());
    EXPECT_FALSE(state.InputFile.IsOpen());
    const std::set<std::string> written =
        fits ? std::set<std::string>{name, name + ".wav"} : std::set<std::string>{name};
    EXPECT_EQ(written, test::FolderNames(dir.path()));
    if (fits) {
      EXPECT_EQ(48u, ReadAll(path + ".wav").size());
    }
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directory(dir.path());
  }
}

// A path the open cannot take: every command says "Input Error ", does no
// work and writes nothing.
void ExpectInputErrorEverywhere(const test::TempDir& dir, const std::string& path) {
  const auto before = test::FolderNames(dir.path());
  for (const NamedCommand& command : kCommands) {
    SCOPED_TRACE(command.name);
    SharedState state;
    RecordingWindow window;
    const Outcome out = command.run(state, window, path);
    EXPECT_EQ(std::vector<std::string>{"Input Error "}, out.notices);
    EXPECT_EQ("", out.error);
    EXPECT_FALSE(out.completed);
    EXPECT_FALSE(state.InputFile.IsOpen());
    EXPECT_EQ(0, state.TotalSize);
    EXPECT_EQ(before, test::FolderNames(dir.path()));
  }
}

TEST(HostileInputs, APickedFolderIsAnInputError) {
  test::TempDir dir;
  const std::filesystem::path folder = dir.path() / "intro.str";
  std::filesystem::create_directory(folder);
  ExpectInputErrorEverywhere(dir, folder.string());
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST(HostileInputs, AFileGoneBeforeTheOpenIsAnInputError) {
  test::TempDir dir;
  const std::string path = dir.Write("intro.str", test::RealisticStream());
  dir.Write("intro.str.MAP", {});
  std::filesystem::remove(path);  // between the dialog and the open
  ExpectInputErrorEverywhere(dir, path);
}

Bytes SsmpRecord(std::int32_t position, std::int32_t length) {
  return test::MapBuilder().Ssmp(position, length).bytes();
}
Bytes ShdrRecord() { return test::MapBuilder().Shdr().bytes(); }

struct BadMap {
  const char* label;
  Bytes map;
  const char* error;
  std::vector<std::pair<std::size_t, std::size_t>> copied;  // ranges of the stream in sound file 0
};

// Maps from another stream or a damaged disc: positions past the end of the
// stream, before its start, a data record before any header.
TEST(HostileInputs, MapsThatPointPastTheStreamEndTheWalkAndKeepWhatWasCopied) {
  const Bytes stream = test::PatternBytes(400, 21);
  const std::vector<BadMap> cases = {
      {"block past the end",
       Concat({ShdrRecord(), SsmpRecord(0, 30), SsmpRecord(390, 25)}),
       "Read beyond end of file",
       {{0, 30}, {390, 10}}},
      {"single byte past the end",
       Concat({ShdrRecord(), SsmpRecord(395, 7)}),
       "Read beyond end of file",
       {{395, 5}}},
      {"position far past the end",
       Concat({ShdrRecord(), SsmpRecord(12, 4), SsmpRecord(0x7FFFFFF0, 4)}),
       "Read beyond end of file",
       {{12, 4}}},
      {"position before the start",
       Concat({ShdrRecord(), SsmpRecord(12, 4), SsmpRecord(-1, 4)}),
       "I/O error 22",
       {{12, 4}}},
      {"data before any header", Concat({SsmpRecord(0, 4), ShdrRecord()}), "I/O error 103", {}},
      {"map cut inside a record",
       Concat({ShdrRecord(), SsmpRecord(0, 8), Bytes{'S', 'S', 'M', 'P', 1, 0}}),
       "Read beyond end of file",
       {{0, 8}}},
  };
  for (const BadMap& bad : cases) {
    SCOPED_TRACE(bad.label);
    test::TempDir dir;
    const std::string path = dir.Write("intro.str", stream);
    dir.Write("intro.str.MAP", bad.map);
    SharedState state;
    RecordingWindow window;
    const Outcome out = test::RunExtract(state, window, path);
    ExpectEndedBy(bad.error, {}, out, state);
    EXPECT_FALSE(window.stopEnabled);
    EXPECT_EQ(stream, ReadAll(path));
    EXPECT_EQ(bad.map, ReadAll(path + ".MAP"));
    std::set<std::string> names = {"intro.str", "intro.str.MAP"};
    if (test::Exists(test::SoundPath(path, 0))) {
      names.insert("intro.str0.sound");
      Bytes expected;
      for (const auto& [from, count] : bad.copied) {
        const Bytes piece = Slice(stream, from, count);
        expected.insert(expected.end(), piece.begin(), piece.end());
      }
      EXPECT_EQ(expected, ReadAll(test::SoundPath(path, 0)));
    } else {
      EXPECT_TRUE(bad.copied.empty());
    }
    EXPECT_EQ(names, test::FolderNames(dir.path()));
  }
}

struct BadSize {
  const char* label;
  std::int32_t size;  // of the chunk after a 32-byte data chunk
  const char* error;  // empty: the walk ends and the summary follows
};

// Positions are signed 32-bit: a move to 2^31 or before 0 is an I/O error;
// one byte short of either is a move like any other.
TEST(HostileInputs, ChunkSizesThatMoveTo2To31OrBeforeZero) {
  const std::vector<BadSize> cases = {
      {"to 2^31", 0x7FFFFFFF - 31, "I/O error 22"},
      {"to 2^31 - 1", 0x7FFFFFFF - 32, ""},
      {"to -1", -33, "I/O error 22"},
      {"to 0", -32, ""},
      {"most negative", INT32_MIN, "I/O error 22"},
  };
  for (const BadSize& bad : cases) {
    SCOPED_TRACE(bad.label);
    test::TempDir dir;
    StreamBuilder stream;
    stream.Ssmp(test::PatternBytes(8, 2)).Chunk("SSND", bad.size, Bytes(16, 1));
    ASSERT_EQ(56u, stream.size());
    const std::string path = dir.Write("intro.str", stream.bytes());
    SharedState state;
    RecordingWindow window;
    const Outcome out = test::RunAnalyze(state, window, path);
    EXPECT_EQ(bad.error, out.error);
    EXPECT_EQ(out.error.empty(), out.completed);
    EXPECT_TRUE(out.notices.empty());
    EXPECT_FALSE(state.InputFile.IsOpen());
    EXPECT_FALSE(state.SecondFile.IsOpen());
    // The records of both chunks were written before the move.
    Bytes map;
    AppendId(map, "SNDS");
    AppendLittleEndian32(map, 32);
    AppendId(map, "SSMP");
    AppendLittleEndian32(map, 24);
    AppendLittleEndian32(map, 8);
    AppendId(map, "SSND");
    AppendLittleEndian32(map, bad.size);
    AppendLittleEndian32(map, 40);
    EXPECT_EQ(map, ReadAll(path + ".MAP"));
    EXPECT_EQ((std::set<std::string>{"intro.str", "intro.str.MAP"}), test::FolderNames(dir.path()));
  }
}

// --- Hostile placements: what stands at an output's name ---

// The outputs of the three commands on a stream, built in a clean folder.
Outputs Reference(const Bytes& stream) {
  test::TempDir clean;
  return RunAllThree(clean.Write("demo.str", stream));
}

// What stands at an output's name before the command runs.
enum class InTheWay { kLinkOutside, kDanglingLink, kLinkToPicked, kLinkToFolder, kLinkToSound0, kFolder };

struct Placement {
  const char* label;
  const char* at;  // the output's name after the stem
  InTheWay what;
  int command;  // index into kCommands; SDX2 to WAV takes sound file 0
};

// Links at an output's name are replaced by the new file and never written
// through; a folder in the way fails as the creation always failed. The
// picked file, the file a link points to and the folder outside stay as
// they were, and no temporary file is left behind.
TEST(HostilePlacements, OutputsNeverGoThroughALinkNorTouchThePickedFile) {
  namespace fs = std::filesystem;
  const Bytes stream = test::RealisticStream();
  const Outputs reference = Reference(stream);
  const Bytes victim = test::PatternBytes(64, 77);
  const std::set<std::string> afterCommand[] = {
      {"demo.str", "demo.str.MAP"},
      {"demo.str", "demo.str.MAP", "demo.str0.sound", "demo.str1.sound", "demo.str2.sound"},
      {"demo.str", "demo.str.MAP", "demo.str0.sound", "demo.str1.sound", "demo.str2.sound",
       "demo.str0.sound.wav"}};
  const Placement cases[] = {
      {"link at the map's name to a file outside", ".MAP", InTheWay::kLinkOutside, 0},
      {"dangling link at the map's name", ".MAP", InTheWay::kDanglingLink, 0},
      {"link at the map's name to the picked file", ".MAP", InTheWay::kLinkToPicked, 0},
      {"link at the map's name to a folder", ".MAP", InTheWay::kLinkToFolder, 0},
      {"link at a sound file's name to a file outside", "0.sound", InTheWay::kLinkOutside, 1},
      {"link at a sound file's name to the picked file", "1.sound", InTheWay::kLinkToPicked, 1},
      {"link at the WAV's name to a file outside", "0.sound.wav", InTheWay::kLinkOutside, 2},
      {"link at the WAV's name to its own sound file", "0.sound.wav", InTheWay::kLinkToSound0, 2},
      {"folder in the way of the map", ".MAP", InTheWay::kFolder, 0},
      {"folder in the way of a sound file", "0.sound", InTheWay::kFolder, 1},
  };
  for (const Placement& c : cases) {
    SCOPED_TRACE(c.label);
#ifdef _WIN32
    // Making a symbolic link takes a privilege Windows gives to few users
    // (and Wine makes none): the link cases are left to POSIX.
    if (c.what != InTheWay::kFolder) continue;
#endif
    test::TempDir dir;
    const fs::path here = dir.path() / "streams";
    const fs::path outside = dir.path() / "outside";
    fs::create_directories(here);
    fs::create_directories(outside);
    const std::string victimPath = (outside / "victim").string();
    test::WriteFile(victimPath, victim);
    const std::string path = (here / "demo.str").string();
    test::WriteFile(path, stream);
    // The steps before the command under test run first, in a clean state.
    for (int before = 0; before < c.command; ++before) {
      SharedState state;
      RecordingWindow window;
      ASSERT_TRUE(kCommands[before].run(state, window, path).completed);
    }
    const std::string name = path + c.at;
    fs::remove(name);
    switch (c.what) {
      case InTheWay::kLinkOutside:
        fs::create_symlink(victimPath, name);
        break;
      case InTheWay::kDanglingLink:
        fs::create_symlink((outside / "new").string(), name);
        break;
      case InTheWay::kLinkToPicked:
        fs::create_symlink(path, name);
        break;
      case InTheWay::kLinkToFolder:
        fs::create_symlink(outside, name);
        break;
      case InTheWay::kLinkToSound0:
        fs::create_symlink(test::SoundPath(path, 0), name);
        break;
      case InTheWay::kFolder:
        fs::create_directory(name);
        break;
    }
    SharedState state;
    RecordingWindow window;
    window.rate = "22050";
    const Outcome out =
        kCommands[c.command].run(state, window, c.command == 2 ? test::SoundPath(path, 0) : path);
    EXPECT_EQ(stream, ReadAll(path)) << "the picked file changed";
    EXPECT_EQ(victim, ReadAll(victimPath)) << "written through a link";
    EXPECT_EQ(std::set<std::string>{"victim"}, test::FolderNames(outside));
    if (c.what == InTheWay::kFolder) {
      // The creation fails at its step with its message; the folder stays.
      const char* notice = c.command == 0 ? "Output writing Error " : "Output Error. File";
      EXPECT_EQ(std::vector<std::string>{notice}, out.notices);
      EXPECT_EQ("I/O error 103", out.error);
      EXPECT_TRUE(fs::is_empty(name));
      EXPECT_EQ(afterCommand[0].size() + static_cast<std::size_t>(c.command), test::FolderNames(here).size());
      continue;
    }
    EXPECT_TRUE(out.notices.empty());
    EXPECT_EQ("", out.error);
    EXPECT_TRUE(out.completed);
    EXPECT_EQ(afterCommand[c.command], test::FolderNames(here));
    // Every output is a regular file holding what a clean run writes.
    std::vector<std::pair<std::string, Bytes>> outputs = {{path + ".MAP", reference.map}};
    if (c.command >= 1) {
      for (std::size_t n = 0; n < reference.sounds.size(); ++n)
        outputs.push_back({test::SoundPath(path, static_cast<int>(n)), reference.sounds[n]});
    }
    if (c.command == 2) outputs.push_back({test::SoundPath(path, 0) + ".wav", reference.wav});
    for (const auto& [output, bytes] : outputs) {
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(output))) << output;
      EXPECT_EQ(bytes, ReadAll(output)) << output;
    }
  }
#ifdef _WIN32
  GTEST_SKIP()
      << "the folder cases ran; the 8 link cases need symbolic links, which Windows keeps from most users";
#endif
}

// Runs `work` with the effective user and group of `nobody` when the test
// runs as root, so that folder permissions hold; gives false when that
// cannot be done.
bool AsUnprivilegedUser(const std::function<void()>& work) {
#ifdef _WIN32
  // Folder permissions of this kind are POSIX's.
  (void)work;
  return false;
#else
  if (::geteuid() != 0) {
    work();
    return true;
  }
  constexpr uid_t kNobody = 65534;
  if (::setegid(kNobody) != 0) return false;
  if (::seteuid(kNobody) != 0) {
    if (::setegid(0) != 0) std::abort();
    return false;
  }
  work();
  const bool back = ::seteuid(0) == 0 && ::setegid(0) == 0;
  if (!back) std::abort();  // the rest of the tests would run as nobody
  return true;
#endif
}

// A folder the user may read but not write: every creation fails as it
// always did, and an earlier map stays as it was.
TEST(HostilePlacements, AReadOnlyFolderFailsTheCreationAndKeepsWhatWasThere) {
  namespace fs = std::filesystem;
  test::TempDir dir;
  const fs::path folder = dir.path() / "readonly";
  fs::create_directory(folder);
  const std::string path = (folder / "demo.str").string();
  test::WriteFile(path, test::RealisticStream());
  const Bytes sound = test::PatternBytes(DecodeStartOffset + 4, 5);
  const std::string soundPath = (folder / "demo.str0.sound").string();
  test::WriteFile(soundPath, sound);
  const Bytes earlierMap = test::PatternBytes(40, 9);
  test::WriteFile(path + ".MAP", earlierMap);
  fs::permissions(dir.path(), fs::perms(0755));
  fs::permissions(folder, fs::perms(0555));
  for (const auto& name : {path, soundPath, path + ".MAP"}) fs::permissions(name, fs::perms(0666));
  Outcome analysis, conversion;
  const bool ran = AsUnprivilegedUser([&] {
    SharedState state;
    RecordingWindow window;
    analysis = test::RunAnalyze(state, window, path);
    RecordingWindow convertWindow;
    convertWindow.rate = "22050";
    conversion = test::RunConvert(state, convertWindow, soundPath);
  });
  fs::permissions(folder, fs::perms(0755));
  if (!ran) GTEST_SKIP() << "cannot take the identity of user nobody; the read-only folder case is skipped";
  EXPECT_EQ(std::vector<std::string>{"Output writing Error "}, analysis.notices);
  EXPECT_EQ("I/O error 103", analysis.error);
  EXPECT_EQ("Cannot create file " + soundPath + ".wav", conversion.error);
  EXPECT_EQ(earlierMap, ReadAll(path + ".MAP"));
  EXPECT_EQ((std::set<std::string>{"demo.str", "demo.str.MAP", "demo.str0.sound"}),
            test::FolderNames(folder));
}

// --- Odd inputs: what is picked is no regular file, or too large ---

struct OddInput {
  const char* label;
  // Makes the thing to pick in the folder and gives its path.
  std::function<std::string(const std::filesystem::path& folder)> make;
};

// Each is refused at once as a file that cannot be opened: "Input Error ",
// no work, nothing written anywhere, and no wait for a writer.
TEST(OddInputs, AnythingButARegularFileBelow2GiBIsRefusedAtOnce) {
  namespace fs = std::filesystem;
  [[maybe_unused]] int heldFifo = -1;
  // A stream followed by a hole up to `size` bytes.
  auto sparse = [](const fs::path& folder, std::uintmax_t size) {
    const std::string p = (folder / "big.str").string();
    test::WriteFile(p, test::RealisticStream());
    fs::resize_file(p, size);
    return p;
  };
  const std::vector<OddInput> cases = {
#ifdef _WIN32
      {"the null device", [](const fs::path&) { return std::string("NUL"); }},
      {"the console", [](const fs::path&) { return std::string("CONIN$"); }},
#else
      {"FIFO without a writer",
       [](const fs::path& f) {
         const std::string p = (f / "pipe.str").string();
         EXPECT_EQ(0, ::mkfifo(p.c_str(), 0600));
         return p;
       }},
      {"FIFO with a writer and bytes waiting",
       [&](const fs::path& f) {
         const std::string p = (f / "pipe.str").string();
         EXPECT_EQ(0, ::mkfifo(p.c_str(), 0600));
         heldFifo = ::open(p.c_str(), O_RDWR | O_NONBLOCK);
         const Bytes stream = test::RealisticStream();
         EXPECT_GT(::write(heldFifo, stream.data(), 4096), 0);
         return p;
       }},
      {"the zero device", [](const fs::path&) { return std::string("/dev/zero"); }},
#endif
      {"a folder",
       [](const fs::path& f) {
         fs::create_directory(f / "folder.str");
         return (f / "folder.str").string();
       }},
#ifndef _WIN32
      {"a socket",
       [](const fs::path& f) {
         const std::string p = (f / "socket.str").string();
         const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::strncpy(address.sun_path, p.c_str(), sizeof address.sun_path - 1);
         EXPECT_EQ(0, ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address));
         ::close(s);
         return p;
       }},
#endif
      {"a sparse file of 2 GiB", [&](const fs::path& f) { return sparse(f, std::uintmax_t{1} << 31); }},
      {"a sparse file of 5 GiB", [&](const fs::path& f) { return sparse(f, std::uintmax_t{5} << 30); }},
  };
  for (const OddInput& c : cases) {
    for (const NamedCommand& command : kCommands) {
      SCOPED_TRACE(std::string(c.label) + ", " + command.name);
      test::TempDir dir;
      const std::string path = c.make(dir.path());
      const auto before = test::FolderNames(dir.path());
      SharedState state;
      RecordingWindow window;
      window.rate = "22050";
      const auto start = std::chrono::steady_clock::now();
      const Outcome out = command.run(state, window, path);
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
      EXPECT_EQ(std::vector<std::string>{"Input Error "}, out.notices);
      EXPECT_EQ("", out.error);
      EXPECT_FALSE(out.completed);
      EXPECT_FALSE(state.InputFile.IsOpen());
      EXPECT_EQ(before, test::FolderNames(dir.path()));
      EXPECT_FALSE(test::Exists(path + ".MAP"));
#ifndef _WIN32
      if (heldFifo >= 0) ::close(heldFifo);
      heldFifo = -1;
#endif
    }
  }
  // One byte less than 2 GiB is still taken: a sparse file of zeros is one
  // empty chunk of size 0, which ends the walk.
  test::TempDir dir;
  const std::string path = dir.Write("edge.str", {});
  fs::resize_file(path, (std::uintmax_t{1} << 31) - 1);
  SharedState state;
  RecordingWindow window;
  const Outcome out = test::RunAnalyze(state, window, path);
  EXPECT_TRUE(out.completed) << out.error;
  EXPECT_EQ(0x7FFFFFFF, state.TotalSize);
}

}  // namespace
}  // namespace morvane
