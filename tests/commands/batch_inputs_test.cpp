#include "commands/batch_inputs.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::Utf8;

TEST(BatchInputsTest, AWalkPassesOverHiddenNamesAndWhatARunWrites) {
  const std::pair<const char*, bool> cases[] = {
      {"intro.str.MAP", true},
      {"intro.str0.sound", true},
      {"intro.str12.sound.wav", true},
      {"intro.str3.film.mkv", true},
      {"intro.str0.film.png", true},
      {"intro.str0.film.webm", true},
      {"lonely.MAP", true},
      {".hidden.str", true},
      {".a.str.morvane-x1y2z3", true},
      {"intro.str", false},
      {"intro.str0.wav", false},
      {"intro.map", false},
      {"intro.str0.sound.wav.x", false},
      {"film.mkv", false},
      {"sound", false},
  };
  for (const auto& [name, passed] : cases) EXPECT_EQ(passed, WalkPassesOver(name)) << name;

  // A place below a folder given, as the page knows it: every part below
  // the folder is judged, the folder itself never.
  const std::pair<const char*, bool> places[] = {
      {".disc/intro.str", false},     {"disc/intro.str", false},          {"disc/.git/intro.str", true},
      {"disc/a/intro.str.MAP", true}, {"disc/old.sound.wav/x.str", true}, {"intro.str0.sound", false},
  };
  for (const auto& [place, passed] : places) EXPECT_EQ(passed, WalkPassesOverPlace(place)) << place;
}

// A disc folder: its streams in name order down every level, once each; no
// hidden entry, earlier output, link to a folder or second name of a file.
TEST(BatchInputsTest, FoldersAreWalkedForTheirStreamsAndPlannedByWhereOutputsGo) {
  test::TempDir dir;
  const fs::path disc = dir.path() / "disc";
  fs::create_directories(disc / "sub" / ".git");
  for (const char* name : {"b.str", "a.str", "a.str0.sound.wav", ".hidden.str", ".a.str.morvane-x1y2z3",
                           "sub/c.str", "sub/.git/x.str"})
    test::WriteFile(Utf8(disc / name), {'S'});
  std::error_code noLinks;  // where links can't be made, the walk simply meets none
  fs::create_directory_symlink(disc / "sub", disc / "link-to-sub", noLinks);
  fs::create_symlink(disc / "a.str", disc / "link.str", noLinks);
  const std::string loose = dir.Write("loose.str", {'S'});

  const FoundFiles found = FindBatchFiles({Utf8(disc), Utf8(disc / "a.str"), loose});
  std::vector<std::pair<std::string, std::string>> got;
  for (const FoundFile& file : found.files) got.emplace_back(file.path, file.placeBelow);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {Utf8(disc / "a.str"), "disc"},
      {Utf8(disc / "b.str"), "disc"},
      {Utf8(disc / "sub" / "c.str"), "disc/sub"},
      {loose, ""}};
  EXPECT_EQ(expected, got);
  EXPECT_TRUE(found.problems.empty());

  // Only sub/ can't be written: its stream goes below the chosen folder.
  const FolderCheck canWrite = [&](const std::string& folder) { return folder != Utf8(disc / "sub"); };
  EXPECT_TRUE(NeedsOutputFolder(found, canWrite));
  const std::string out = Utf8(dir.path() / "out");
  std::vector<ConvertInput> inputs = PlanBatchInputs(found, canWrite, out);
  ASSERT_EQ(4u, inputs.size());
  EXPECT_EQ(std::nullopt, inputs[0].outputDir);
  EXPECT_EQ(std::nullopt, inputs[1].outputDir);
  EXPECT_EQ(Utf8(dir.path() / "out" / "disc" / "sub"), inputs[2].outputDir);
  EXPECT_EQ(std::nullopt, inputs[3].outputDir);
  EXPECT_FALSE(inputs[0].named);
  EXPECT_TRUE(inputs[3].named);
  EXPECT_FALSE(NeedsOutputFolder(found, [](const std::string&) { return true; }));

  // No folder can be written (the command line's -o): a file named itself
  // goes straight into the output folder, the others at their place below.
  inputs = PlanBatchInputs(
      found, [](const std::string&) { return false; }, out);
  EXPECT_EQ(Utf8(dir.path() / "out" / "disc"), inputs[0].outputDir);
  EXPECT_EQ(out, inputs[3].outputDir);

  // The bytes of the batch: each input starts where the ones before it end.
  BatchBytes bytes(found);
  EXPECT_EQ(0, bytes.Position(0, 100));
  bytes.Start(Utf8(disc / "sub" / "c.str"));
  EXPECT_EQ(50, bytes.Position(0, 100));
  EXPECT_EQ(75, bytes.Position(1, 100));
  EXPECT_EQ(100, bytes.Position(7, 100)) << "a file grown since the walk stays in range";
}

TEST(BatchInputsTest, ACueSheetStandsForTheFilesItNamesAndTheirBytes) {
  test::TempDir dir;
  const fs::path disc = dir.path() / "disc";
  fs::create_directories(disc);
  const std::string sheet = "FILE \"game.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  test::WriteFile(Utf8(disc / "game.cue"), test::Bytes(sheet.begin(), sheet.end()));
  test::WriteFile(Utf8(disc / "game.bin"), test::Bytes(3000, 0));
  test::WriteFile(Utf8(disc / "other.bin"), test::Bytes(1000, 0));
  // In a folder's walk, and named beside its sheet.
  for (const std::vector<std::string>& given :
       {std::vector<std::string>{Utf8(disc)}, {Utf8(disc / "game.bin"), Utf8(disc / "game.cue")}}) {
    const FoundFiles found = FindBatchFiles(given);
    std::vector<std::pair<std::string, std::int64_t>> got;
    for (const FoundFile& file : found.files)
      got.emplace_back(fs::path(file.path).filename().string(), file.size);
    if (given.size() == 1) {
      EXPECT_EQ((std::vector<std::pair<std::string, std::int64_t>>{{"game.cue", 3000}, {"other.bin", 1000}}),
                got);
    } else {
      EXPECT_EQ((std::vector<std::pair<std::string, std::int64_t>>{{"game.cue", 3000}}), got);
    }
  }
}

}  // namespace
}  // namespace morvane
