// Whole discs: list, unpack and convert of built images, whose outputs must
// be the ones convert writes for the same files unpacked; bad images told
// and the rest of the disc written; nothing written outside the folder named.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "run_cli.h"
#include "support/disc_builder.h"
#include "support/film_stream.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace morvane::test {
namespace {

namespace fs = std::filesystem;

Bytes FilmStream(int films, std::int32_t rate) {
  FilmStreamOptions options;
  options.films = films;
  options.seconds = 0.5;
  options.rate = rate;
  Bytes bytes;
  WriteFilmStream(options, [&](const unsigned char* data, std::size_t count) {
    bytes.insert(bytes.end(), data, data + count);
  });
  return bytes;
}

// Films and sound, mono and stereo, AIFC files and other files, three deep.
std::vector<TreeFile> DiscFiles() {
  IffAudio aifc;
  aifc.data = PatternBytes(3000, 8);
  IffAudio mono = aifc;
  mono.channels = 1;
  return {
      {"MOVIES/INTRO.STR", FilmStream(1, 22050)},
      {"MOVIES/PART2/CUT03.STR", FilmStream(2, 11025)},
      {"MOVIES/PART2/DEEP/Intro",
       StreamBuilder().Shdr(Header(0, 22050, 1)).Ssmp(PatternBytes(4001, 3)).bytes()},
      {"SOUND/THEME.AIFC", IffAudioFile(aifc)},
      {"SOUND/mono.aifc", IffAudioFile(mono)},
      {"SOUND/logo.stream", PatternBytes(5000, 9)},  // a picture, whatever its name
      {"README.TXT", PatternBytes(300, 10)},
      {"a:b", StreamBuilder().Shdr(Header(0, 22050)).Ssmp(PatternBytes(1000, 4)).bytes()},
  };
}

// Every file below a folder, by its path from it, with its bytes.
std::map<std::string, Bytes> FilesBelow(const fs::path& folder) {
  std::map<std::string, Bytes> files;
  if (!fs::exists(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file())
      files[Utf8(entry.path().lexically_relative(folder))] = ReadAll(Utf8(entry.path()));
  }
  return files;
}

TEST(DiscCommandTest, UnpackAndConvertGiveWhatTheUnpackedFilesGive) {
  const std::vector<TreeFile> files = DiscFiles();
  TreeOptions tree;
  tree.entriesPerBlock = 3;
  for (const bool cue : {false, true}) {
    SCOPED_TRACE(cue ? "cue of raw sectors" : "2048-byte blocks");
    TempDir dir;
    const Bytes blocks = TreeImage(files, tree);
    const Bytes pregap = PatternBytes(2 * 2352, 20);
    const Bytes audio = PatternBytes(2352 * 5, 21);
    std::string image = dir.Write("game.iso", blocks);
    if (cue) {
      const Bytes raw = RawSectors(blocks);
      dir.Write("game.bin", Concat({raw, pregap, audio}));
      const std::string text = CueSheetText(raw.size() / 2352, "BINARY");
      image = dir.Write("game.cue", Bytes(text.begin(), text.end()));
      fs::remove(dir.path() / "game.iso");
    }

    const CliRun unpack = RunCli({"unpack", image, "-o", dir.File("u")});
    EXPECT_EQ(0, unpack.status) << unpack.err;
    EXPECT_EQ("", unpack.err);
    std::map<std::string, Bytes> expected;
    for (const TreeFile& file : files) expected[file.path] = file.bytes;
    EXPECT_EQ(expected, FilesBelow(dir.path() / "u"));

    // With the maps: the analysis reads a file of the disc as it reads one unpacked.
    const CliRun convert = RunCli({"convert", "--map", image, "-o", dir.File("out")});
    EXPECT_EQ(0, convert.status) << convert.err;
    std::vector<std::string> unpacked;
    for (const TreeFile& file : files) unpacked.push_back(dir.File("u/" + file.path));
    std::vector<std::string> arguments = {"convert", "--map"};
    arguments.insert(arguments.end(), unpacked.begin(), unpacked.end());
    const CliRun beside = RunCli(arguments);
    std::map<std::string, Bytes> outputs = FilesBelow(dir.path() / "u");
    for (const TreeFile& file : files) outputs.erase(file.path);
    std::map<std::string, Bytes> fromDisc = FilesBelow(dir.path() / "out" / "game");
    EXPECT_GE(outputs.size(), 14u);
    EXPECT_EQ(1u, outputs.count("MOVIES/PART2/CUT03.STR.MAP"));
    if (cue) {
      // The audio track: its samples as they are, after the WAV's header.
      ASSERT_EQ(1u, fromDisc.count("Track02.wav"));
      const Bytes wav = fromDisc["Track02.wav"];
      EXPECT_EQ(44100u, LittleEndian32At(wav, 24));
      EXPECT_EQ(audio, Slice(wav, 44, wav.size() - 44));
      fromDisc.erase("Track02.wav");
    }
    EXPECT_EQ(outputs.size(), fromDisc.size());
    for (const auto& [path, bytes] : outputs) {
      EXPECT_EQ(1u, fromDisc.count(path)) << path;
      EXPECT_TRUE(fromDisc[path] == bytes) << path;
    }
    // Written nowhere else: beside the image only its files and the folders named.
    std::set<std::string> top;
    for (const auto& entry : fs::directory_iterator(dir.path())) top.insert(Utf8(entry.path().filename()));
    const std::set<std::string> left = cue ? std::set<std::string>{"game.bin", "game.cue", "out", "u"}
                                           : std::set<std::string>{"game.iso", "out", "u"};
    EXPECT_EQ(left, top);
  }
}

TEST(DiscCommandTest, ConvertWithoutAFolderWritesBesideTheImageUnderItsName) {
  // The images named, a cue sheet's file beside it among them, or met in a
  // folder's walk.
  for (const bool walked : {false, true}) {
    SCOPED_TRACE(walked ? "in a folder" : "named");
    TempDir dir;
    const Bytes raw = RawSectors(TreeImage({{"S/ONE.STR", FilmStream(1, 22050)}}));
    const Bytes audio = PatternBytes(2352 * 2, 30);
    dir.Write("game.bin", Concat({raw, PatternBytes(2 * 2352, 5), audio}));
    const std::string cue = CueSheetText(raw.size() / 2352, "MOTOROLA");
    dir.Write("game.cue", Bytes(cue.begin(), cue.end()));
    dir.Write(
        "plain",
        TreeImage({{"X.STR", StreamBuilder().Shdr(Header(0, 22050)).Ssmp(PatternBytes(100, 1)).bytes()}}));
    // The sheet's file is read through the sheet alone.
    const CliRun run =
        walked ? RunCli({"convert", Utf8(dir.path())})
               : RunCli({"convert", dir.File("game.cue"), dir.File("game.bin"), dir.File("plain")});
    EXPECT_EQ(0, run.status) << run.err;
    const std::map<std::string, Bytes> game = FilesBelow(dir.path() / "game");
    std::set<std::string> names;
    for (const auto& [name, bytes] : game) names.insert(name);
    EXPECT_EQ((std::set<std::string>{"S/ONE.STR0.film.mkv", "S/ONE.STR0.film.png", "S/ONE.STR0.sound.wav",
                                     "Track02.wav"}),
              names);
    // MOTOROLA: big-endian samples, turned into the WAV's little-endian.
    ASSERT_EQ(1u, game.count("Track02.wav"));
    const Bytes wav = game.at("Track02.wav");
    ASSERT_EQ(44 + audio.size(), wav.size());
    for (std::size_t at = 0; at < audio.size(); at += 2) {
      ASSERT_EQ(audio[at], wav[44 + at + 1]);
      ASSERT_EQ(audio[at + 1], wav[44 + at]);
    }
    EXPECT_EQ(1u, FilesBelow(dir.path() / "plain.files").count("X.STR0.sound.wav"));
  }
}

// A bad image: the line it must give; everything else is written.
struct BadDisc {
  const char* name;
  Bytes image;
  std::string line;  // after the image's path
};

TEST(DiscCommandTest, EachBadImageGivesItsLineAndTheRestIsWritten) {
  using E = DiscBuilder;
  const Bytes good = StreamBuilder().Shdr(Header(0, 22050)).Ssmp(PatternBytes(1900, 1)).bytes();
  const auto size = static_cast<std::uint32_t>(good.size());  // 1988: one block
  const auto base = [&](std::size_t blocks) {
    DiscBuilder disc(blocks);
    disc.Volume("BAD", 1, {1});
    return disc;
  };
  const BadDisc cases[] = {
      {"a looping chain",
       base(6)
           .Directory(1, -1, -1, {E::Folder("D", 2, {3}), E::File("GOOD.STR", size, {4})})
           .Directory(3, 0, -1, {})
           .Put(4, good)
           .Image(),
       "/D: the directory's chain loops back to its block 0; the rest is passed over"},
      {"no whole copy",
       base(4)
           .Directory(1, -1, -1, {E::File("GONE", 10, {99, 98}), E::File("GOOD.STR", size, {2})})
           .Put(2, good)
           .Image(),
       "/GONE: none of its 2 copies lies whole inside the image; passed over"},
      {"a cut image",
       Slice(base(5)
                 .Directory(1, -1, -1, {E::File("GOOD.STR", size, {2}), E::File("LOST", 4096, {3})})
                 .Put(2, good)
                 .Image(),
             0, 4 * 2048),
       "/LOST: its bytes do not lie whole inside the image; passed over"},
      {"a name that climbs",
       base(4)
           .Directory(1, -1, -1, {E::File("..", size, {2}), E::File("GOOD.STR", size, {2})})
           .Put(2, good)
           .Image(),
       ""},
  };
  for (const BadDisc& bad : cases) {
    SCOPED_TRACE(bad.name);
    TempDir dir;
    const std::string image = dir.Write("bad.iso", bad.image);
    for (const char* command : {"unpack", "convert"}) {
      const CliRun run = RunCli({command, image, "-o", dir.File("out")});
      EXPECT_EQ(bad.line.empty() ? 0 : 1, run.status) << command << run.err;
      if (!bad.line.empty()) {
        EXPECT_NE(std::string::npos, run.err.find(image + bad.line + "\n")) << run.err;
      }
    }
    const std::map<std::string, Bytes> out = FilesBelow(dir.path() / "out");
    EXPECT_EQ(1u, out.count("GOOD.STR"));
    EXPECT_EQ(1u, out.count("bad/GOOD.STR0.sound.wav"));
    std::set<std::string> top;
    for (const auto& entry : fs::directory_iterator(dir.path())) top.insert(Utf8(entry.path().filename()));
    EXPECT_EQ((std::set<std::string>{"bad.iso", "out"}), top);
  }
}

TEST(DiscCommandTest, ListShowsTheDemoDiscsTreeAndLabel) {
  TempDir dir;
  ASSERT_EQ(0, RunCli({"make-demo", "--disc", dir.File("demo.iso")}).status);
  const CliRun run = RunCli({"list", dir.File("demo.iso")});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.err);
  EXPECT_EQ(
      "Label: MORVANE DEMO\n"
      "MOVIES/\tfolder\n"
      "MOVIES/INTRO.STR\t819200\tstream: 2 sounds, 1 film\n"
      "MOVIES/MORE/\tfolder\n"
      "MOVIES/MORE/LOOP.STR\t65536\tstream: 1 sound, 0 films\n"
      "MUSIC/\tfolder\n"
      "MUSIC/THEME.AIFC\t66222\tAIFF\n"
      "README.TXT\t101\tother\n",
      run.out);
  // A disc of no stream converts nothing, and says so.
  const std::string text = dir.Write("text.iso", TreeImage({{"README.TXT", PatternBytes(10, 1)}}));
  const CliRun nothing = RunCli({"convert", text});
  EXPECT_EQ(1, nothing.status);
  EXPECT_EQ(text + ": no stream, sound file or audio track on the disc; nothing to convert\n", nothing.err);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "text"));
  // An image that is none: its line and status 1.
  const CliRun none = RunCli({"list", dir.Write("none.iso", Bytes(4096, 7))});
  EXPECT_EQ(1, none.status);
  EXPECT_EQ(dir.File("none.iso") + ": no volume header this tool reads at its first block\n", none.err);
}

}  // namespace
}  // namespace morvane::test
