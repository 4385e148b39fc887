// The flows over a whole disc as the window's batch calls them: a stop
// asked for ends the disc after the file in hand, and the batch says so.

#include "commands/disc_flow.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/disc_builder.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace morvane {
namespace {

using test::Bytes;

// Asks for a stop once the first file is written, as STOP pressed then.
class StoppingSink : public BatchSink {
 public:
  void Start(std::size_t, const std::string&) override {}
  void Wrote(const std::string& path) override { written.push_back(path); }
  void Tell(const std::string& name, const std::string& text) override { told.push_back(name + ": " + text); }
  bool StopRequested() override { return !written.empty(); }
  std::vector<std::string> written, told;
};

TEST(DiscFlowTest, AStopEndsTheDiscAfterTheFileInHand) {
  test::TempDir dir;
  const Bytes stream =
      test::StreamBuilder().Shdr(test::Header(0, 22050)).Ssmp(test::PatternBytes(100, 1)).bytes();
  const std::string image =
      dir.Write("game.iso", test::TreeImage({{"A.STR", stream}, {"B.STR", stream}, {"C.STR", stream}}));

  StoppingSink unpack;
  EXPECT_FALSE(RunUnpack(image, dir.File("files"), unpack));
  EXPECT_EQ(std::vector<std::string>{test::Utf8(dir.path() / "files" / "A.STR")}, unpack.written);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "files" / "B.STR"));

  StoppingSink convert;
  const BatchResult result =
      RunConvert(std::vector<std::string>{image, dir.Write("after.str", stream)}, {}, convert);
  EXPECT_TRUE(result.stopped);
  EXPECT_FALSE(result.whole);
  EXPECT_EQ(std::vector<std::string>{test::Utf8(dir.path() / "game" / "A.STR0.sound.wav")}, convert.written);
  EXPECT_TRUE(convert.told.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "after.str0.sound.wav"));
}

}  // namespace
}  // namespace morvane
