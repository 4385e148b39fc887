// The disc layer: images of both sector sizes and cue sheets, the file
// system's walk over good and bad images, and the files read through it.

#include "disc/disc_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/byte_file.h"
#include "disc/cue_sheet.h"
#include "disc/disc_walk.h"
#include "support/disc_builder.h"
#include "support/temp_dir.h"

namespace morvane::test {
namespace {

// A tree with nested folders three deep, a folder over several blocks and
// names of every kind.
std::vector<TreeFile> SampleTree() {
  std::vector<TreeFile> files = {
      {"MOVIES/INTRO.STR", PatternBytes(5000, 1)},
      {"MOVIES/DEEP/DEEPER/END.STR", PatternBytes(2048, 2)},
      {"MUSIC/THEME.AIFC", PatternBytes(1, 3)},
      {"EMPTY", {}},
      {"a/b\\c", PatternBytes(10, 4)},
      {"..", PatternBytes(11, 5)},
      {std::string("tab\there"), PatternBytes(12, 6)},
      {"caf\xC3\xA9 \xFF", PatternBytes(13, 7)},
  };
  for (int n = 0; n < 7; ++n) files.push_back({"MANY/F" + std::to_string(n), PatternBytes(100 + n, 10 + n)});
  return files;
}

// What the walk names each of those files.
std::string SafePath(const std::string& path) {
  std::string safe;
  std::size_t from = 0;
  for (std::size_t slash; (slash = path.find('/', from)) != std::string::npos; from = slash + 1) {
    // The sample's folders have plain names; its file names are the odd ones.
    safe += path.substr(from, slash - from) + "/";
  }
  return safe + SafeFileName(path.substr(from));
}

Bytes ReadThrough(const Disc& disc, const DiscFile& file) {
  ByteFile input;
  input.Open(disc.SourceOf(file));
  Bytes bytes(static_cast<std::size_t>(input.Size()));
  if (!bytes.empty()) input.Read(bytes.data(), bytes.size());
  return bytes;
}

TEST(SafeFileNameTest, EscapesWhatCannotBeAFileName) {
  const std::pair<std::string, std::string> cases[] = {
      {"INTRO.STR", "INTRO.STR"},
      {"a/b\\c", "a%2Fb%5Cc"},
      {"..", "%2E%2E"},
      {".", "%2E"},
      {"", "%00"},
      {"tab\there", "tab%09here"},
      {"x\x7F", "x%7F"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"bad\xFF", "bad%FF"},
      {"cut\xC3", "cut%C3"},
      {"100%", "100%"},
      {".hidden", ".hidden"},
  };
  for (const auto& [name, safe] : cases) EXPECT_EQ(safe, SafeFileName(name)) << name;
}

TEST(DiscFolderNameTest, TheImagesNameLessItsExtensionAndNeverAFolderAbove) {
  const std::pair<const char*, const char*> cases[] = {
      {"game.iso", "game"},   {"dir/game.cue", "game"}, {"disc.1.bin", "disc.1"},   {"GAME", "GAME.files"},
      {".iso", ".iso.files"}, {"..iso", "..iso.files"}, {"...iso", "...iso.files"}, {"a b.img", "a b"},
  };
  for (const auto& [image, folder] : cases) EXPECT_EQ(folder, DiscFolderName(image)) << image;
}

struct Shape {
  const char* name;
  TreeOptions tree;
  bool raw;  // 2352-byte sectors
  bool cue;  // read through a cue sheet, with an audio track after the data
};

TEST(DiscImageTest, EveryShapeGivesEveryFileByteForByte) {
  TreeOptions several;
  several.entriesPerBlock = 2;
  TreeOptions copies;
  copies.twoCopies = true;
  copies.firstCopyOutside = true;
  const Shape shapes[] = {
      {"blocks", {}, false, false},
      {"raw sectors", {}, true, false},
      {"cue of raw sectors", {}, true, true},
      {"cue of blocks", {}, false, true},
      {"several blocks a folder", several, true, false},
      {"copies outside", copies, false, false},
  };
  const std::vector<TreeFile> files = SampleTree();
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    TempDir dir;
    const Bytes blocks = TreeImage(files, shape.tree);
    const Bytes image = shape.raw ? RawSectors(blocks) : blocks;
    std::string path = dir.Write(shape.raw ? "game.bin" : "game.iso", image);
    const Bytes audio = PatternBytes(2352 * 3, 99);
    if (shape.cue) {
      dir.Write("game.bin", Concat({image, audio}));
      const std::size_t sectors = image.size() / (shape.raw ? 2352 : 2048);
      const std::string frames = "00:" + std::string(sectors / 75 < 10 ? "0" : "") +
                                 std::to_string(sectors / 75) + ":" + (sectors % 75 < 10 ? "0" : "") +
                                 std::to_string(sectors % 75);
      path = dir.Write("game.cue", [&] {
        const std::string text = std::string("FILE \"game.bin\" BINARY\r\n  TRACK 01 ") +
                                 (shape.raw ? "MODE1/2352" : "MODE1/2048") +
                                 "\r\n    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    INDEX 01 " + frames +
                                 "\r\n";
        return Bytes(text.begin(), text.end());
      }());
    }
    const Disc disc = ReadDisc(path);
    EXPECT_TRUE(disc.Problems().empty()) << (disc.Problems().empty() ? "" : disc.Problems()[0].second);
    EXPECT_EQ("TEST DISC", disc.Label());
    ASSERT_EQ(files.size(), disc.Files().size());
    for (const TreeFile& file : files) {
      const auto found = std::find_if(disc.Files().begin(), disc.Files().end(),
                                      [&](const DiscFile& d) { return d.path == SafePath(file.path); });
      ASSERT_NE(disc.Files().end(), found) << SafePath(file.path);
      EXPECT_EQ(file.bytes, ReadThrough(disc, *found)) << file.path;
    }
    EXPECT_NE(disc.Folders().end(),
              std::find(disc.Folders().begin(), disc.Folders().end(), "MOVIES/DEEP/DEEPER"));
    if (shape.cue) {
      // Only the data track's sectors are the disc's; the audio follows it.
      ASSERT_EQ(1u, disc.Tracks().size());
      EXPECT_EQ(2, disc.Tracks()[0].number);
      EXPECT_EQ(static_cast<std::int64_t>(audio.size()), disc.Tracks()[0].range.length);
      EXPECT_EQ(static_cast<std::int64_t>(image.size()), disc.Tracks()[0].range.start);
    }
    // One pass reads the files in the order of their blocks.
    const std::vector<DiscFile> ordered = disc.FilesInDiscOrder();
    EXPECT_TRUE(std::is_sorted(ordered.begin(), ordered.end(), [](const DiscFile& a, const DiscFile& b) {
      return a.firstBlock < b.firstBlock;
    }));
  }
}

TEST(DiscImageTest, ReadsThroughRawSectorsAtAnyPlaceAndSize) {
  TempDir dir;
  const Bytes data = PatternBytes(2048 * 200 + 777, 5);
  const Bytes raw = RawSectors(data);
  FileRange range;
  range.container = dir.Write("raw.bin", raw);
  range.sectorSize = 2352;
  range.sectorDataOffset = 16;
  range.sectorData = 2048;
  range.length = 1 << 30;
  ByteFile file;
  file.Open(InputSource("raw", range));
  // The last sector is padded whole by the builder.
  EXPECT_EQ(static_cast<std::int64_t>(2048 * 201), file.Size());
  for (const auto& [at, count] : std::vector<std::pair<std::size_t, std::size_t>>{
           {0, 1}, {2047, 2}, {2040, 5000}, {100, 300000}, {2048 * 199, 2048 + 777}, {3, 2048 * 150}}) {
    Bytes got(count);
    file.Seek(static_cast<std::int64_t>(at));
    file.Read(got.data(), count);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + static_cast<std::ptrdiff_t>(at))) << at;
  }
  // A range within: its own start and end, and a cut container.
  range.start = 5000;
  range.length = 10;
  file.Open(InputSource("inner", range));
  Bytes ten(10);
  file.Read(ten.data(), 10);
  EXPECT_EQ(Slice(data, 5000, 10), ten);
  EXPECT_TRUE(file.Eof());
  range.container = dir.Write("cut.bin", Slice(raw, 0, 2352 * 3 + 16 + 100));
  range.start = 0;
  range.length = 1 << 30;
  file.Open(InputSource("cut", range));
  EXPECT_EQ(2048 * 3 + 100, file.Size());
}

// A bad image: the problem it must give, on which path, and the files that
// must still be found.
struct BadImage {
  const char* name;
  std::function<Bytes()> build;
  std::string problemPath;
  std::string problem;
  std::vector<std::string> found;
};

DiscBuilder Base(std::size_t blocks) {
  DiscBuilder disc(blocks);
  disc.Volume("BAD", 1, {1});
  return disc;
}

TEST(DiscImageTest, EachBadImageIsToldAndTheRestOfTheDiscGoesOn) {
  using E = DiscBuilder;
  const Bytes ok = PatternBytes(100, 1);
  const BadImage cases[] = {
      {"a copy beyond the image, then a good one",
       [&] {
         return Base(4).Directory(1, -1, -1, {E::File("GOOD", 100, {900, 3})}).Put(3, ok).Image();
       },
       "",
       "",
       {"GOOD"}},
      {"no copy lies whole",
       [&] {
         return Base(4)
             .Directory(1, -1, -1, {E::File("GONE", 100, {900, 901}), E::File("GOOD", 100, {3})})
             .Put(3, ok)
             .Image();
       },
       "GONE",
       "none of its 2 copies lies whole inside the image",
       {"GOOD"}},
      {"a byte count past the end",
       [&] {
         return Base(4)
             .Directory(1, -1, -1, {E::File("HUGE", 0x7FFFFFFF, {3}), E::File("GOOD", 100, {3})})
             .Put(3, ok)
             .Image();
       },
       "HUGE",
       "runs past the image's end",
       {"GOOD"}},
      {"an entry past its block",
       [&] {
         E::Entry many = E::File("MANY", 100, {3});
         many.lastCopy = 5000;
         return Base(4).Directory(1, -1, -1, {E::File("GOOD", 100, {3}), many}).Put(3, ok).Image();
       },
       "",
       "runs past its block",
       {"GOOD"}},
      {"a chain that loops",
       [&] {
         return Base(6)
             .Volume("BAD", 2, {1})
             .Directory(1, 1, -1, {E::Folder("D", 2, {3}), E::File("GOOD", 100, {5})})
             .Directory(2, 0, 0, {})
             .Directory(3, 1, -1, {E::File("IN", 100, {5})})
             .Directory(4, 0, 0, {})
             .Put(5, ok)
             .Image();
       },
       "D",
       "loops back",
       {"D/IN", "GOOD"}},
      {"a folder reached twice",
       [&] {
         return Base(4)
             .Directory(1, -1, -1, {E::Folder("A", 1, {2}), E::Folder("B", 1, {2}), E::Folder("UP", 1, {1})})
             .Directory(2, -1, -1, {E::File("GOOD", 100, {3})})
             .Put(3, ok)
             .Image();
       },
       "B",
       "a folder reached twice",
       {"A/GOOD"}},
      {"nested deeper than 64",
       [&] {
         DiscBuilder disc = Base(80);
         for (std::uint32_t level = 1; level < 70; ++level)
           disc.Directory(level, -1, -1, {E::Folder("D", 1, {level + 1})});
         disc.Directory(70, -1, -1, {E::File("GOOD", 100, {71})}).Put(71, ok);
         return disc.Image();
       },
       [] {
         std::string path = "D";
         for (int level = 1; level < 65; ++level) path += "/D";
         return path;
       }(),
       "nested deeper than 64",
       {}},
      {"a cut image",
       [&] {
         const Bytes whole = Base(6)
                                 .Directory(1, -1, -1, {E::File("GOOD", 100, {2}), E::File("CUT", 4000, {3})})
                                 .Put(2, ok)
                                 .Put(3, PatternBytes(4000, 2))
                                 .Image();
         return Slice(whole, 0, 3 * 2048 + 1000);
       },
       "CUT",
       "do not lie whole",
       {"GOOD"}},
      {"no volume header", [&] { return Bytes(4096, 0); }, "", "no volume header", {}},
  };
  for (const BadImage& bad : cases) {
    SCOPED_TRACE(bad.name);
    TempDir dir;
    const Disc disc = ReadDisc(dir.Write("bad.iso", bad.build()));
    if (bad.problem.empty()) {
      EXPECT_TRUE(disc.Problems().empty());
    } else {
      ASSERT_FALSE(disc.Problems().empty());
      const auto& [name, text] = disc.Problems().front();
      EXPECT_EQ(disc.NameOf(bad.problemPath), name);
      EXPECT_NE(std::string::npos, text.find(bad.problem)) << text;
    }
    std::vector<std::string> paths;
    for (const DiscFile& file : disc.Files()) paths.push_back(file.path);
    EXPECT_EQ(bad.found, paths);
    for (const DiscFile& file : disc.Files()) EXPECT_EQ(ok, ReadThrough(disc, file));
  }
}

TEST(CueSheetTest, AudioTracksRunToTheNextTracksPregapOrTheirFilesEnd) {
  TempDir dir;
  dir.Write("a.bin", PatternBytes(2352 * 10, 1));
  dir.Write("b.bin", PatternBytes(2352 * 4 + 8, 2));
  const std::string text =
      "\xEF\xBB\xBF"  // a byte order mark before the first line
      "FILE a.bin BINARY\r\n"
      "REM made by hand\n"
      "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n    INDEX 00 00:00:03\n    INDEX 01 00:00:05\n"
      "  TRACK 03 AUDIO\n    INDEX 01 00:00:08\n"
      "FILE \"C:\\rips\\b.bin\" MOTOROLA\n"
      "  TRACK 04 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 00:00:01\n"
      "  TRACK 05 AUDIO\n    INDEX 01 00:01:00\n";
  const Disc disc = ReadDisc(dir.Write("audio.cue", Bytes(text.begin(), text.end())));
  // A track past its file's end is told; the one before it runs to it, and
  // its file holds less.
  ASSERT_EQ(1u, disc.Problems().size());
  EXPECT_EQ("track 05: it begins past its file's end; passed over", disc.Problems()[0].second);
  EXPECT_FALSE(disc.HasData());
  ASSERT_EQ(4u, disc.Tracks().size());
  const std::pair<std::int64_t, std::int64_t> spans[] = {{0, 3}, {5, 3}, {8, 2}, {1, 74}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(spans[i].first * 2352, disc.Tracks()[i].range.start) << i;
    EXPECT_EQ(spans[i].second * 2352, disc.Tracks()[i].range.length) << i;
  }
  EXPECT_TRUE(disc.Tracks()[3].bigEndian);
  EXPECT_EQ(dir.File("b.bin"), disc.Tracks()[3].range.container);
}

}  // namespace
}  // namespace morvane::test
