// A full disk: a 64 KiB memory file system mounted for the test holds the
// stream, and the map, a sound file or a WAV outgrows it. Each command must
// fail with the text of a short write and leave on disk what fitted.

#include <cstdlib>
#include <filesystem>
#include <string>

#include "reliability/command_run.h"

namespace morvane {
namespace {

using test::Bytes;
using test::Outcome;
using test::ReadAll;
using test::RecordingWindow;

class DiskFullTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "the small file system is a Linux tmpfs; on Windows the injected faults stand in";
#endif
    tiny_ = dir_.path() / "tiny";
    std::filesystem::create_directory(tiny_);
    const std::string command = "mount -t tmpfs -o size=64k tmpfs '" + tiny_.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) {
      GTEST_SKIP()
          << "cannot mount a tmpfs here (needs root or CAP_SYS_ADMIN); the disk-full tests are skipped";
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) {
      EXPECT_EQ(0, std::system(("umount '" + tiny_.string() + "'").c_str()));
    }
  }

  // Writes the file both outside (for the reference run) and on the tiny
  // file system; gives the two paths.
  std::pair<std::string, std::string> PlaceTwice(const std::string& name, const Bytes& bytes) const {
    const std::string roomy = dir_.Write(name, bytes);
    const std::string tight = (tiny_ / name).string();
    std::filesystem::copy_file(roomy, tight);
    return {roomy, tight};
  }

  void ExpectOnlyNamedFiles(const std::set<std::string>& names) const {
    EXPECT_EQ(names, test::FolderNames(tiny_));
  }

  test::TempDir dir_;
  std::filesystem::path tiny_;
  bool mounted_ = false;
};

TEST_F(DiskFullTest, MapThatDoesNotFitKeepsWhatFitted) {
  // 1500 data chunks of 32 bytes: a 48000-byte stream whose map would take
  // 30000 bytes more than the 64 KiB hold.
  test::StreamBuilder stream;
  for (int i = 0; i < 1500; ++i) stream.Ssmp(test::PatternBytes(8, static_cast<std::uint32_t>(i)), i);
  const auto [roomy, tight] = PlaceTwice("intro.str", stream.bytes());
  Bytes fullMap;
  {
    SharedState state;
    RecordingWindow window;
    ASSERT_TRUE(test::RunAnalyze(state, window, roomy).completed);
    fullMap = ReadAll(roomy + ".MAP");
  }
  ASSERT_EQ(30000u, fullMap.size());

  SharedState state;
  RecordingWindow window;
  const Outcome out = test::RunAnalyze(state, window, tight);
  test::ExpectEndedBy("Disk full", {}, out, state);
  EXPECT_EQ("Disk full.", ErrorBoxText(out.error));
  EXPECT_EQ(std::string::npos, window.memo.find("Summary Info:")) << "summary after a failed map";
  const Bytes map = ReadAll(tight + ".MAP");
  EXPECT_GT(map.size(), 0u);
  EXPECT_LT(map.size(), fullMap.size());
  EXPECT_TRUE(test::IsPrefix(map, fullMap));
  EXPECT_EQ(stream.bytes(), ReadAll(tight));
  ExpectOnlyNamedFiles({"intro.str", "intro.str.MAP"});
}

TEST_F(DiskFullTest, SoundFileThatDoesNotFitKeepsWhatFitted) {
  // A header and one data chunk of 30000 bytes: the stream takes half the
  // room, its sound file would need more than the rest.
  test::StreamBuilder stream;
  stream.Shdr({});
  const Bytes data = test::PatternBytes(30000, 9);
  stream.Ssmp(data);
  const auto [roomy, tight] = PlaceTwice("intro.str", stream.bytes());
  {
    SharedState state;
    RecordingWindow window;
    ASSERT_TRUE(test::RunAnalyze(state, window, tight).completed) << "the map fits";
  }
  const Bytes map = ReadAll(tight + ".MAP");

  SharedState state;
  RecordingWindow window;
  const Outcome out = test::RunExtract(state, window, tight);
  test::ExpectEndedBy("Disk full", {}, out, state);
  EXPECT_FALSE(state.StopRequested);
  EXPECT_FALSE(window.stopEnabled);
  const Bytes sound = ReadAll(test::SoundPath(tight, 0));
  EXPECT_GT(sound.size(), 0u);
  EXPECT_LT(sound.size(), data.size());
  EXPECT_TRUE(test::IsPrefix(sound, data));
  EXPECT_EQ(map, ReadAll(tight + ".MAP"));
  ExpectOnlyNamedFiles({"intro.str", "intro.str.MAP", "intro.str0.sound"});
}

TEST_F(DiskFullTest, WavThatDoesNotFitKeepsWhatFitted) {
  // 24000 bytes of sound decode into a WAV of 47764 bytes; 40 KiB are left.
  Bytes sound(DecodeStartOffset, 0);
  const Bytes music = test::PatternBytes(24000 - DecodeStartOffset, 4);
  sound.insert(sound.end(), music.begin(), music.end());
  const auto [roomy, tight] = PlaceTwice("intro.str0.sound", sound);
  Bytes fullWav;
  {
    SharedState state;
    RecordingWindow window;
    window.rate = "22050";
    ASSERT_TRUE(test::RunConvert(state, window, roomy).completed);
    fullWav = ReadAll(roomy + ".wav");
  }
  ASSERT_EQ(47764u, fullWav.size());

  SharedState state;
  RecordingWindow window;
  window.rate = "22050";
  const Outcome out = test::RunConvert(state, window, tight);
  EXPECT_FALSE(out.completed);
  EXPECT_TRUE(out.notices.empty());
  // The conversion reports a short write of its image in its own words.
  EXPECT_EQ("Stream write error", out.error);
  EXPECT_FALSE(state.InputFile.IsOpen());
  const Bytes wav = ReadAll(tight + ".wav");
  EXPECT_GT(wav.size(), 0u);
  EXPECT_LT(wav.size(), fullWav.size());
  EXPECT_TRUE(test::IsPrefix(wav, fullWav));
  EXPECT_EQ(sound, ReadAll(tight));
  ExpectOnlyNamedFiles({"intro.str0.sound", "intro.str0.sound.wav"});
}

}  // namespace
}  // namespace morvane
