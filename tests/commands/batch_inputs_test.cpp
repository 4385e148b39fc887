#include "commands/batch_inputs.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::Utf8;

TEST(BatchInputsTest, WhatARunWroteBesideAStreamIsKnownByItsName) {
  const std::set<std::string> names = {"intro.str", "intro2.str", "a"};
  const std::pair<const char*, bool> cases[] = {
      {"intro.str.MAP", true},
      {"intro.str0.sound", true},
      {"intro.str12.sound.wav", true},
      {"intro2.str0.sound", true},
      {"intro.str3.film.mkv", true},
      {"intro.str3.film.png", true},
      {"a1.sound", true},
      {"intro.str.sound", false},
      {"other.str0.sound", false},
      {"intro.str0.wav", false},
      {"intro.MAP", false},
      {"1.sound", false},
      {"intro.str0.sound.wav.x", false},
  };
  for (const auto& [name, output] : cases) EXPECT_EQ(output, IsOutputOfAStream(name, names)) << name;
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
  const std::vector<BatchRun> runs = PlanBatchRuns(found, canWrite, Utf8(dir.path() / "out"));
  ASSERT_EQ(3u, runs.size());
  EXPECT_EQ(std::nullopt, runs[0].outputDir);
  EXPECT_EQ((std::vector<std::string>{Utf8(disc / "a.str"), Utf8(disc / "b.str")}), runs[0].paths);
  EXPECT_EQ(Utf8(dir.path() / "out" / "disc" / "sub"), runs[1].outputDir);
  EXPECT_EQ(std::nullopt, runs[2].outputDir);
  EXPECT_FALSE(NeedsOutputFolder(found, [](const std::string&) { return true; }));
}

}  // namespace
}  // namespace morvane
