// The movie writer alone: what a player finds in its files, and the limits
// it keeps (the clusters' 16-bit times, the room for the track list, the
// cues in bounded memory).

#include "movie/matroska_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/matroska_reader.h"
#include "support/temp_dir.h"
#include "video/film_codec.h"

namespace morvane::test {
namespace {

MovieVideo Cinepak() {
  MovieVideo video;
  const unsigned char cvid[4] = {'c', 'v', 'i', 'd'};
  video.width = 320;
  video.height = 240;
  FilmTrackCodec codec = MovieTrackCodec(cvid, video.width, video.height);
  video.codecId = codec.codecId;
  video.codecPrivate = codec.codecPrivate;
  return video;
}

// A movie of frames every `step` ms, every `keyEvery`-th key, with a stereo
// and a mono track whose blocks come between the frames.
Bytes WriteMovie(const std::string& path, std::uint64_t seed, int frames, std::int64_t step, int keyEvery) {
  MatroskaWriter writer(path, seed, Cinepak());
  const int mono = writer.AddSound({8000, 1}, 7);
  const int stereo = writer.AddSound({22050, 2}, 3);
  for (int i = 0; i < frames; ++i) {
    writer.Block(stereo, i * step, true, PatternBytes(8, static_cast<std::uint32_t>(i)).data(), 8);
    writer.Block(1, i * step, i % keyEvery == 0,
                 PatternBytes(5 + i % 3, static_cast<std::uint32_t>(i)).data(),
                 static_cast<std::size_t>(5 + i % 3));
    writer.Block(mono, i * step + 1, true, PatternBytes(2, 9).data(), 2);
  }
  writer.Finish({frames * step, 0});
  return ReadAll(path);
}

TEST(MatroskaWriterTest, APlayerFindsTheTracksBlocksAndCues) {
  TempDir dir;
  // 40 s between frames: each block's time leaves a cluster's 16-bit range.
  for (const std::int64_t step : {std::int64_t{40}, std::int64_t{40000}}) {
    SCOPED_TRACE(step);
    const MkvFile movie = ReadMatroska(WriteMovie(dir.File("a.mkv"), 1, 12, step, 4));
    EXPECT_EQ("", movie.problem);
    EXPECT_EQ("matroska", movie.docType);
    EXPECT_EQ(1000000u, movie.timestampScale);
    EXPECT_EQ("Morvane 0.2.5", movie.writingApp);
    EXPECT_EQ(12.0 * static_cast<double>(step), movie.duration);
    ASSERT_EQ(3u, movie.tracks.size());
    // Listed by their order: the stereo track (order 3) before the mono one.
    EXPECT_EQ(320u, movie.tracks[0].width);
    EXPECT_EQ(240u, movie.tracks[0].height);
    EXPECT_EQ(0u, movie.tracks[0].defaultDuration);
    EXPECT_EQ(22050.0, movie.tracks[1].rate);
    EXPECT_EQ(2u, movie.tracks[1].channels);
    EXPECT_EQ(8000.0, movie.tracks[2].rate);
    EXPECT_EQ(1u, movie.tracks[2].channels);
    const auto frames = movie.BlocksOf(1);
    ASSERT_EQ(12u, frames.size());
    for (int i = 0; i < 12; ++i) {
      EXPECT_EQ(i * step, frames[i]->ms);
      EXPECT_EQ(i % 4 == 0, frames[i]->key);
      EXPECT_EQ(PatternBytes(5 + i % 3, static_cast<std::uint32_t>(i)), frames[i]->data);
    }
    EXPECT_EQ(3u, movie.cuePoints);
    EXPECT_EQ(12u, movie.BlocksOf(movie.tracks[2].number).size());
  }
}

// The WebM flavour: VP9 and Opus under WebM's document type, the Opus
// track's head and delays listed even when its track comes late, and cues at
// the key frames; mkvinfo, which checks WebM's rules, takes it.
TEST(MatroskaWriterTest, AWebmMovieNamesVp9AndOpusWithTheirDelays) {
  TempDir dir;
  const std::string path = dir.File("a.webm");
  const Bytes head = PatternBytes(19, 5);
  {
    MovieVideo vp9;
    vp9.codecId = "V_VP9";
    vp9.width = 320;
    vp9.height = 240;
    MatroskaWriter writer(path, 3, vp9, MovieKind::kWebm);
    for (int i = 0; i < 10; ++i) writer.Block(1, i * 100, i % 5 == 0, PatternBytes(9, 1).data(), 9);
    for (int t = 0; t < MatroskaWriter::kMostSoundTracks; ++t) {
      MovieSound opus(22050, 1 + t % 2);
      opus.opusHead = head;
      opus.codecDelayNs = 6500000;
      opus.seekPreRollNs = 80000000;
      const int track = writer.AddSound(opus, 0);
      ASSERT_EQ(t + 2, track);
      writer.Block(track, 1000, true, PatternBytes(3, 2).data(), 3);
    }
    writer.Finish({1000, 0});
  }
  const MkvFile movie = ReadMatroska(ReadAll(path));
  EXPECT_EQ("", movie.problem);
  EXPECT_EQ("webm", movie.docType);
  ASSERT_EQ(33u, movie.tracks.size());
  EXPECT_EQ("V_VP9", movie.tracks[0].codec);
  EXPECT_TRUE(movie.tracks[0].codecPrivate.empty());
  EXPECT_EQ(320u, movie.tracks[0].width);
  EXPECT_EQ("A_OPUS", movie.tracks[1].codec);
  EXPECT_EQ(head, movie.tracks[1].codecPrivate);
  EXPECT_EQ(48000.0, movie.tracks[1].rate);
  EXPECT_EQ(2u, movie.tracks[2].channels);
  EXPECT_EQ(6500000u, movie.tracks[1].codecDelay);
  EXPECT_EQ(80000000u, movie.tracks[1].seekPreRoll);
  EXPECT_EQ(2u, movie.cuePoints);
  if (std::system("command -v mkvinfo >/dev/null 2>&1") == 0) {
    EXPECT_EQ(0, std::system(("mkvinfo -v '" + path + "' >/dev/null").c_str()));
  }
}

TEST(MatroskaWriterTest, TheSameSeedGivesTheSameBytesAndAnotherOtherIdentifiers) {
  TempDir dir;
  const Bytes a = WriteMovie(dir.File("a.mkv"), 42, 5, 100, 2);
  const Bytes again = WriteMovie(dir.File("again.mkv"), 42, 5, 100, 2);
  const Bytes other = WriteMovie(dir.File("other.mkv"), 43, 5, 100, 2);
  EXPECT_EQ(a, again);
  ASSERT_EQ(a.size(), other.size());
  EXPECT_NE(a, other);
  EXPECT_NE(ReadMatroska(a).segmentUid, ReadMatroska(other).segmentUid);
  EXPECT_NE(ReadMatroska(a).tracks[1].uid, ReadMatroska(other).tracks[1].uid);
  if (std::system("command -v mkvinfo >/dev/null 2>&1") == 0) {
    EXPECT_EQ(0, std::system(("mkvinfo -v '" + dir.File("a.mkv") + "' >/dev/null").c_str()));
  }
}

TEST(MatroskaWriterTest, LimitsKeepTheFileValid) {
  TempDir dir;
  const std::string path = dir.File("limits.mkv");
  {
    MatroskaWriter writer(path, 7, Cinepak());
    // As many sound tracks as the room holds, each at the largest rate.
    for (int i = 0; i < MatroskaWriter::kMostSoundTracks; ++i)
      EXPECT_EQ(i + 2, writer.AddSound({2147483647, 2}, 0));
    EXPECT_EQ(0, writer.AddSound({22050, 2}, 0));
    // More key frames than cues are kept: every other one is let go.
    for (int i = 0; i < 70000; ++i) writer.Block(1, i, true, PatternBytes(1, 1).data(), 1);
    // A block whose input failed half way gets the size it has.
    writer.BeginBlock(2, 70000, true, 10);
    writer.BlockBytes(PatternBytes(4, 2).data(), 4);
    writer.Finish({70001, 41666667});
  }
  const MkvFile movie = ReadMatroska(ReadAll(path));
  EXPECT_EQ("", movie.problem);
  EXPECT_EQ(33u, movie.tracks.size());
  EXPECT_EQ(41666667u, movie.tracks[0].defaultDuration);
  EXPECT_LE(movie.cuePoints, 64u * 1024);
  EXPECT_GE(movie.cuePoints, 70000u / 2);
  ASSERT_EQ(70001u, movie.blocks.size());
  EXPECT_EQ(PatternBytes(4, 2), movie.blocks.back().data);
}

TEST(MatroskaWriterTest, AMovieNotFinishedLeavesTheEarlierFile) {
  TempDir dir;
  const std::string path = dir.Write("kept.mkv", {1, 2, 3});
  {
    MatroskaWriter writer(path, 1, Cinepak());
    writer.Block(1, 0, true, PatternBytes(3, 1).data(), 3);
  }
  EXPECT_EQ((Bytes{1, 2, 3}), ReadAll(path));
  {
    MatroskaWriter writer(path, 1, Cinepak());
    writer.Discard();
  }
  EXPECT_EQ((Bytes{1, 2, 3}), ReadAll(path));
  EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(dir.path()),
                             std::filesystem::directory_iterator()));
  std::filesystem::create_directory(PathOf(dir.File("folder.mkv")));
  EXPECT_THROW(MatroskaWriter(dir.File("folder.mkv"), 1, Cinepak()), CommandError);
}

}  // namespace
}  // namespace morvane::test
