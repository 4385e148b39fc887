// The films of a stream through the converter: each movie read back and
// held against the frames and the WAVs of the same run.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <set>

#include "codecs/film_encoders.h"
#include "core/byte_file.h"
#include "demux/film_output.h"
#include "demux/stream_demux.h"
#include "support/ffmpeg_decoder.h"
#include "support/matroska_reader.h"
#include "support/sound_models.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "video/cinepak.h"
#include "video/cinepak_decoder.h"
#include "video/test_pattern.h"

namespace morvane::test {
namespace {

class FilmSink : public ConvertSink {
 public:
  void Wrote(const std::string& path) override { written.push_back(path); }
  void Tell(const std::string& name, const std::string& text) override { told.push_back(name + ": " + text); }
  void MovieDone(const MovieFacts& facts) override { movies.push_back(facts); }
  void MovieTrack(const std::string& movie, int track, std::size_t, std::int32_t rate,
                  int channels) override {
    tracks[movie].push_back({track, rate, channels});
  }
  void MovieBlock(const std::string& movie, int track, std::int64_t ms, bool key, std::int64_t offset,
                  std::size_t size) override {
    blocks[movie].push_back({track, ms, key, offset, size});
  }
  struct Track {
    int number;
    std::int32_t rate;
    int channels;
  };
  struct Block {
    int track;
    std::int64_t ms;
    bool key;
    std::int64_t offset;
    std::size_t size;
  };
  std::vector<std::string> written, told;
  std::vector<MovieFacts> movies;
  std::map<std::string, std::vector<Track>> tracks;
  std::map<std::string, std::vector<Block>> blocks;
};

using Film = StreamBuilder::FilmHeader;
using Frame = StreamBuilder::Frame;
const Bytes kIntra = CinepakLikeFrame(true, 2, 40, 1), kInter = CinepakLikeFrame(false, 2, 30, 2),
            kIntra2 = CinepakLikeFrame(true, 1, 50, 3), kMixed = CinepakLikeFrame(false, 1, 20, 4);

struct FrameWanted {
  std::int64_t ms;
  bool key;
  Bytes data;
};
// A track: the WAV it must equal from a sample frame on, and its first time.
struct TrackWanted {
  std::string wav;
  std::int64_t firstMs;
  std::size_t fromFrame = 0;
};
struct MovieWanted {
  std::string suffix;
  std::string codec;
  std::vector<FrameWanted> frames;
  std::vector<TrackWanted> tracks;
};
struct FilmCase {
  std::string name;
  Bytes file;
  bool whole;
  std::vector<MovieWanted> movies;
  std::vector<std::string> told;  // a piece of each line told, in order
  bool movies_ = true;
};

// Sound and frames side by side: each frame time t gets a data chunk of
// `soundBytes` bytes of sound `stream` just before it.
StreamBuilder& Interleave(StreamBuilder& b, std::uint16_t channel, std::int32_t stream,
                          const std::vector<std::pair<std::int32_t, Bytes>>& frames, std::size_t soundBytes,
                          std::int32_t duration = 16) {
  std::uint32_t seed = 100 + channel;
  for (const auto& [time, data] : frames) {
    if (soundBytes > 0) b.Ssmp(PatternBytes(soundBytes, seed++), time, stream);
    b.FilmFrame({.data = data, .time = time, .duration = duration, .word = channel});
  }
  return b;
}

std::vector<FilmCase> Cases() {
  std::vector<FilmCase> cases;
  {
    StreamBuilder b;
    b.Fhdr({.frameCount = 4}).Shdr(Header(0, 22050));
    Interleave(b, 0, 0, {{0, kIntra}, {16, kInter}, {32, kMixed}, {48, kIntra2}}, 600);
    cases.push_back({"15 frames a second, the Cinepak frames that are intra-coded whole are key",
                     b.bytes(),
                     true,
                     {{"0.film.mkv",
                       "cvid",
                       {{0, true, kIntra}, {67, false, kInter}, {133, false, kMixed}, {200, true, kIntra2}},
                       {{"0.sound.wav", 0}}}},
                     {}});
  }
  {
    // An older film: flags 0 and no "DFRM"; its intra frames hold a strip
    // of 70000 bytes, whose size needs the strip header's 24 bits.
    const Bytes big = CinepakLikeFrame(true, 1, 70000, 11), big2 = CinepakLikeFrame(true, 2, 69990, 12);
    StreamBuilder b;
    b.Fhdr({.frameCount = 4}).Shdr(Header(0, 22050));
    Interleave(b, 0, 0, {{0, big}, {16, kInter}, {32, big2}, {48, kMixed}}, 600);
    cases.push_back({"an older Cinepak film: intra frames with strips over 64 KiB are key",
                     b.bytes(),
                     true,
                     {{"0.film.mkv",
                       "cvid",
                       {{0, true, big}, {67, false, kInter}, {133, true, big2}, {200, false, kMixed}},
                       {{"0.sound.wav", 0}}}},
                     {}});
  }
  {
    StreamBuilder b;
    b.Fhdr({.compression = "cvid", .frameCount = 4, .time = 90});
    for (const auto& [time, kind, data] : std::vector<std::tuple<std::int32_t, std::string, Bytes>>{
             {100, "FRME", kMixed}, {120, "DFRM", kInter}, {140, "FRME", kMixed}, {160, "DFRM", kIntra}}) {
      b.FilmFrame({.data = data, .time = time, .kind = kind, .padding = 7});
    }
    cases.push_back(
        {"12 frames a second from the first frame's time; DFRM tells the key frames, padding dropped",
         b.bytes(),
         true,
         {{"0.film.mkv",
           "cvid",
           {{0, true, kMixed}, {83, false, kInter}, {167, true, kMixed}, {250, false, kIntra}},
           {}}},
         {}});
  }
  cases.push_back(
      {"the key flag of the channel word",
       StreamBuilder()
           .Fhdr({.frameCount = 3, .word = 0x10000})
           .FilmFrame({.data = kMixed, .time = 0})
           .FilmFrame({.data = kMixed, .time = 24})
           .FilmFrame({.data = kMixed, .time = 48, .word = 0x10000})
           .bytes(),
       true,
       {{"0.film.mkv", "cvid", {{0, true, kMixed}, {100, false, kMixed}, {200, true, kMixed}}, {}}},
       {}});
  {
    // Mono at 22050 Hz from time 0, met before the first frame; the film
    // begins at 24 (0.1 s): 2205 samples are left out of the movie.
    StreamBuilder b;
    b.Fhdr({.frameCount = 2}).Shdr(Header(0, 22050, 1)).Ssmp(PatternBytes(4410, 5), 0, 0);
    b.FilmFrame({.data = kIntra, .time = 24}).Ssmp(PatternBytes(999, 6), 40, 0);
    b.FilmFrame({.data = kInter, .time = 44});
    cases.push_back(
        {"sound that begins before the film is left out of the movie up to its first frame",
         b.bytes(),
         true,
         {{"0.film.mkv", "cvid", {{0, true, kIntra}, {83, false, kInter}}, {{"0.sound.wav", 0, 2205}}}},
         {}});
  }
  {
    // Film 0 with sound 0 in the first half, film 1 with sound 1 after it;
    // the films on channels of their own.
    StreamBuilder c;
    c.Fhdr({.frameCount = 2}).Shdr(Header(0, 22050));
    Interleave(c, 0, 0, {{0, kIntra}, {24, kInter}}, 1000);
    c.Fhdr({.frameCount = 2, .time = 48, .word = 1}).Shdr(Header(1, 11025, 1));
    Interleave(c, 1, 1, {{48, kIntra2}, {72, kMixed}}, 500);
    cases.push_back(
        {"two films and two sounds one after the other: each movie has the sound beside it",
         c.bytes(),
         true,
         {{"0.film.mkv", "cvid", {{0, true, kIntra}, {100, false, kInter}}, {{"0.sound.wav", 0}}},
          {"1.film.mkv", "cvid", {{0, true, kIntra2}, {100, false, kMixed}}, {{"1.sound.wav", 0}}}},
         {}});
  }
  {
    // Both films and both sounds at once, interleaved; sound 1's first data
    // comes first, yet its track is listed second.
    StreamBuilder b;
    b.Fhdr({.frameCount = 2})
        .Fhdr({.compression = "rle ", .width = 64, .height = 48, .frameCount = 2, .word = 1});
    b.Shdr(Header(0, 22050)).Shdr(Header(1, 8000, 1));
    b.Ssmp(PatternBytes(400, 7), 0, 1).Ssmp(PatternBytes(800, 8), 0, 0);
    b.FilmFrame({.data = kIntra, .time = 0}).FilmFrame({.data = kMixed, .time = 0, .word = 1});
    b.Ssmp(PatternBytes(400, 9), 24, 1).Ssmp(PatternBytes(800, 10), 24, 0);
    b.FilmFrame({.data = kInter, .time = 24}).FilmFrame({.data = kMixed, .time = 24, .word = 1});
    cases.push_back({"two films and two sounds at once; a film of another codec is copied and told",
                     b.bytes(),
                     false,
                     {{"0.film.mkv",
                       "cvid",
                       {{0, true, kIntra}, {100, false, kInter}},
                       {{"0.sound.wav", 0}, {"1.sound.wav", 0}}},
                      {"1.film.mkv",
                       "rle ",
                       {{0, true, kMixed}, {100, false, kMixed}},
                       {{"0.sound.wav", 0}, {"1.sound.wav", 0}}}},
                     {"in.str1.film.mkv: compression type 'rle ' is not Cinepak"}});
  }
  {
    // Every codec beside one film: CBD2 stereo, ADP4 mono, uncompressed
    // 16-bit stereo and 8-bit mono (its WAV 8-bit, its track widened).
    StreamBuilder b;
    StreamBuilder::Header eight = Header(3, 8000, 1, "NONE");
    eight.sampleSize = 8;
    b.Fhdr({.frameCount = 2})
        .Shdr(Header(0, 22050, 2, "CBD2"))
        .Shdr(Header(1, 11025, 1, "ADP4"))
        .Shdr(Header(2, 22050, 2, "NONE"))
        .Shdr(eight);
    for (const std::int32_t time : {0, 24}) {
      for (std::int32_t stream = 0; stream < 4; ++stream)
        b.Ssmp(PatternBytes(400, static_cast<std::uint32_t>(time + stream)), time, stream);
      b.FilmFrame({.data = time == 0 ? kIntra : kInter, .time = time, .duration = 24});
    }
    cases.push_back({"every codec's samples in the movie beside it, as its WAV holds them",
                     b.bytes(),
                     true,
                     {{"0.film.mkv",
                       "cvid",
                       {{0, true, kIntra}, {100, false, kInter}},
                       {{"0.sound.wav", 0}, {"1.sound.wav", 0}, {"2.sound.wav", 0}, {"3.sound.wav", 0}}}},
                     {}});
  }
  cases.push_back({"a film without sound is whole",
                   StreamBuilder().Fhdr({}).FilmFrame({.data = kIntra, .time = 5}).Sized("FILL", {}).bytes(),
                   true,
                   {{"0.film.mkv", "cvid", {{0, true, kIntra}}, {}}},
                   {}});
  {
    StreamBuilder b;
    b.Fhdr({.frameCount = 3}).Shdr(Header(0, 22050));
    Interleave(b, 0, 0, {{0, kIntra}, {16, kInter}, {32, kIntra2}}, 200);
    const Bytes whole = b.bytes();
    cases.push_back({"a cut rip: every whole frame up to the cut",
                     Bytes(whole.begin(), whole.end() - 20),
                     false,
                     {{"0.film.mkv", "cvid", {{0, true, kIntra}, {67, false, kInter}}, {{"0.sound.wav", 0}}}},
                     {"in.str: cut short: the file ends inside the 'FILM' chunk",
                      "in.str0.film.mkv: cut short: the file ends after 2 of the 3 frames",
                      "in.str0.sound.wav: cut short with the stream (its last data 0.0 s"}});
  }
  cases.push_back(
      {"a frame larger than its chunk, frames outside any film, and a header that counts more",
       StreamBuilder()
           .FilmFrame({.data = kIntra, .time = 0, .word = 2})
           .Fhdr({.frameCount = 5})
           .FilmFrame({.data = kIntra, .time = 0})
           .FilmFrame({.data = kInter, .time = 16, .frameSize = 999})
           .FilmFrame({.data = kInter, .time = 32})
           .bytes(),
       false,
       {{"0.film.mkv", "cvid", {{0, true, kIntra}, {133, false, kInter}}, {}}},
       {"in.str: the frame at offset", "in.str0.film.mkv: the stream ends the film after 2 of the 5",
        "in.str: film channel 2: 1 frame(s) outside any film"}});
  cases.push_back(
      {"a frame after the film's counted frames and their time",
       StreamBuilder()
           .Fhdr({.frameCount = 1})
           .FilmFrame({.data = kIntra, .time = 0})
           .Ssmp({}, 40, 9)
           .FilmFrame({.data = kIntra, .time = 40})
           .bytes(),
       false,
       {{"0.film.mkv", "cvid", {{0, true, kIntra}}, {}}},
       {"in.str: film channel 0: 1 frame(s) outside any film", "in.str: stream 9: 1 data block(s)"}});
  {
    StreamBuilder b;
    b.Fhdr({.frameCount = 1}).Shdr(Header(0, 22050, 2, "MAC3"));
    Interleave(b, 0, 0, {{0, kIntra}}, 100);
    cases.push_back({"sound kept undecoded gets no track",
                     b.bytes(),
                     false,
                     {{"0.film.mkv", "cvid", {{0, true, kIntra}}, {}}},
                     {"in.str0.sound: compression type 'MAC3', 2 channels, 22050 Hz: kept undecoded",
                      "in.str0.film.mkv: sound 0 is kept undecoded; the movie holds no track of it"}});
  }
  FilmCase none{"no movies asked for",
                StreamBuilder().Fhdr({}).FilmFrame({.data = kIntra}).bytes(),
                false,
                {},
                {"in.str: no sound header in the stream; nothing to convert"}};
  none.movies_ = false;
  cases.push_back(none);
  return cases;
}

TEST(FilmDemuxTest, EveryMovieHoldsItsFramesAndTheSoundBesideIt) {
  for (const FilmCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string input = dir.Write("in.str", c.file);
    FilmSink sink;
    DemuxOptions options;
    options.outputBase = input;
    options.movies = c.movies_;
    EXPECT_EQ(c.whole, DemuxFile(input, options, sink));
    ASSERT_EQ(c.told.size(), sink.told.size()) << (sink.told.empty() ? "" : sink.told.back());
    for (std::size_t i = 0; i < c.told.size(); ++i) {
      EXPECT_NE(std::string::npos, sink.told[i].find(c.told[i])) << sink.told[i];
    }
    std::set<std::string> movies;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      if (entry.path().string().ends_with(".mkv")) movies.insert(entry.path().filename().string());
    }
    std::set<std::string> wanted;
    for (const MovieWanted& movie : c.movies) wanted.insert("in.str" + movie.suffix);
    EXPECT_EQ(wanted, movies);
    ASSERT_EQ(c.movies.size(), sink.movies.size());

    for (std::size_t m = 0; m < c.movies.size(); ++m) {
      const MovieWanted& want = c.movies[m];
      SCOPED_TRACE(want.suffix);
      const MkvFile movie = ReadMatroska(ReadAll(input + want.suffix));
      EXPECT_EQ("", movie.problem);
      ASSERT_FALSE(movie.tracks.empty());
      const MkvTrack& video = movie.tracks[0];
      EXPECT_EQ(1u, video.number);
      EXPECT_EQ("V_MS/VFW/FOURCC", video.codec);
      ASSERT_EQ(40u, video.codecPrivate.size());
      EXPECT_EQ(want.codec, std::string(video.codecPrivate.begin() + 16, video.codecPrivate.begin() + 20));
      const std::vector<const MkvBlock*> frames = movie.BlocksOf(1);
      ASSERT_EQ(want.frames.size(), frames.size());
      for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(want.frames[i].ms, frames[i]->ms) << "frame " << i;
        EXPECT_EQ(want.frames[i].key, frames[i]->key) << "frame " << i;
        EXPECT_EQ(want.frames[i].data, frames[i]->data) << "frame " << i;
      }
      // What the sink was told of each block: the movie's blocks, in file
      // order, each where its bytes lie.
      const Bytes file = ReadAll(input + want.suffix);
      const std::vector<FilmSink::Block>& told = sink.blocks[input + want.suffix];
      ASSERT_EQ(movie.blocks.size(), told.size());
      for (std::size_t i = 0; i < told.size(); ++i) {
        EXPECT_EQ(movie.blocks[i].track, static_cast<std::uint64_t>(told[i].track)) << "block " << i;
        EXPECT_EQ(movie.blocks[i].ms, told[i].ms) << "block " << i;
        EXPECT_EQ(movie.blocks[i].key, told[i].key) << "block " << i;
        ASSERT_LE(static_cast<std::size_t>(told[i].offset) + told[i].size, file.size());
        EXPECT_EQ(movie.blocks[i].data,
                  Bytes(file.begin() + told[i].offset,
                        file.begin() + told[i].offset + static_cast<long>(told[i].size)))
            << "block " << i;
      }
      ASSERT_EQ(want.tracks.size(), sink.tracks[input + want.suffix].size());
      for (const FilmSink::Track& track : sink.tracks[input + want.suffix]) {
        ASSERT_NE(nullptr, movie.Track(static_cast<std::uint64_t>(track.number)));
        EXPECT_EQ(static_cast<double>(track.rate),
                  movie.Track(static_cast<std::uint64_t>(track.number))->rate);
      }
      EXPECT_EQ(std::string(sink.movies[m].codec), want.codec);
      EXPECT_EQ(static_cast<std::int64_t>(want.frames.size()), sink.movies[m].frames);
      EXPECT_EQ(static_cast<int>(want.tracks.size()), sink.movies[m].soundTracks);

      ASSERT_EQ(want.tracks.size() + 1, movie.tracks.size());
      for (std::size_t t = 0; t < want.tracks.size(); ++t) {
        const MkvTrack& track = movie.tracks[t + 1];
        const TrackWanted& wantTrack = want.tracks[t];
        Bytes wav = ReadAll(input + wantTrack.wav);
        ASSERT_GT(wav.size(), 44u);
        if (wav[34] == 8) {
          // An 8-bit WAV: its unsigned samples widened x256, as the track holds them.
          Bytes widened(wav.begin(), wav.begin() + 44);
          for (std::size_t i = 44; i < wav.size(); ++i) {
            widened.push_back(0);
            widened.push_back(static_cast<unsigned char>(wav[i] ^ 0x80));
          }
          wav = widened;
        }
        const std::size_t frameBytes = 2 * (wav[22] | wav[23] << 8);
        EXPECT_EQ("A_PCM/INT/LIT", track.codec);
        EXPECT_EQ(16u, track.bitDepth);
        EXPECT_EQ(frameBytes / 2, track.channels);
        const std::uint32_t rate = wav[24] | wav[25] << 8 | wav[26] << 16 | wav[27] << 24;
        EXPECT_EQ(static_cast<double>(rate), track.rate);
        // The track is the WAV's samples from its first one on, as far as
        // the film runs, each block where its samples fall.
        const Bytes pcm = movie.Concatenated(track.number);
        const std::size_t from = 44 + wantTrack.fromFrame * frameBytes;
        ASSERT_LE(from + pcm.size(), wav.size());
        EXPECT_EQ(Bytes(wav.begin() + from, wav.begin() + from + pcm.size()), pcm);
        EXPECT_FALSE(pcm.empty());
        std::size_t samples = 0;
        for (const MkvBlock* block : movie.BlocksOf(track.number)) {
          const double exact = static_cast<double>(wantTrack.firstMs) + 1000.0 * samples / rate;
          EXPECT_NEAR(exact, static_cast<double>(block->ms), 0.5 + 1e-9);
          EXPECT_TRUE(block->key);
          samples += block->data.size() / frameBytes;
        }
      }
    }
  }
}

TEST(FilmDemuxTest, AMovieThatCannotBeWrittenIsToldAndTheSoundGoesOn) {
  TempDir dir;
  StreamBuilder b;
  b.Fhdr({.frameCount = 2}).Shdr(Header(0, 22050));
  Interleave(b, 0, 0, {{0, kIntra}, {16, kInter}}, 300);
  const std::string input = dir.Write("in.str", b.bytes());
  std::filesystem::create_directory(PathOf(dir.File("in.str0.film.mkv")));
  FilmSink sink;
  DemuxOptions options;
  options.outputBase = input;
  EXPECT_FALSE(DemuxFile(input, options, sink));
  EXPECT_EQ(std::vector<std::string>{input + "0.sound.wav"}, sink.written);
  ASSERT_EQ(1u, sink.told.size());
  EXPECT_EQ(0u, sink.told[0].find(input + "0.film.mkv: ")) << sink.told[0];
  EXPECT_TRUE(sink.movies.empty());
  EXPECT_TRUE(std::filesystem::is_directory(PathOf(dir.File("in.str0.film.mkv"))));
}

// A film shared alone (the page's WebM of a film card) writes its WebM and
// nothing else; a movie that fails takes the WebM beside it down with it.
TEST(FilmDemuxTest, AFilmSharedAloneWritesItsWebmOnlyAndAFailedMovieItsWebmNone) {
  if (!FilmEncodersBuilt()) GTEST_SKIP() << "this build has no encoders";
  TempDir dir;
  std::vector<std::pair<std::int32_t, Bytes>> frames;
  for (int i = 0; i < 3; ++i) {
    const std::vector<unsigned char> picture = TestPatternPicture(static_cast<std::size_t>(i), 64, 48);
    const std::vector<unsigned char> frame = EncodeCinepakKeyFrame(picture.data(), 64, 48);
    frames.emplace_back(16 * i, Bytes(frame.begin(), frame.end()));
  }
  StreamBuilder b;
  b.Fhdr({.width = 64, .height = 48, .frameCount = 3}).Shdr(Header(0, 22050));
  Interleave(b, 0, 0, frames, 600);
  b.Fhdr({.width = 64, .height = 48, .frameCount = 3}).Shdr(Header(0, 22050));
  Interleave(b, 0, 0, frames, 600);
  const std::string input = dir.Write("in.str", b.bytes());
  FilmSink sink;
  DemuxOptions options;
  options.outputBase = input;
  options.shareFilm = 1;
  EXPECT_TRUE(DemuxFile(input, options, sink));
  EXPECT_EQ(std::vector<std::string>{input + "1.film.webm"}, sink.written);
  EXPECT_EQ(std::vector<std::string>{}, sink.told);
  EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator(dir.path()),
                             std::filesystem::directory_iterator()));
  const MkvFile webm = ReadMatroska(ReadAll(input + "1.film.webm"));
  EXPECT_EQ("", webm.problem);
  EXPECT_EQ("webm", webm.docType);
  EXPECT_EQ(3u, webm.BlocksOf(1).size());
  ASSERT_EQ(2u, webm.tracks.size());
  EXPECT_EQ("A_OPUS", webm.tracks[1].codec);

  std::filesystem::remove(PathOf(input + "1.film.webm"));
  std::filesystem::create_directory(PathOf(input + "0.film.mkv"));
  options.shareFilm.reset();
  options.webm = true;
  FilmSink failing;
  EXPECT_FALSE(DemuxFile(input, options, failing));
  EXPECT_EQ(std::vector<std::string>(
                {input + "0.sound.wav", input + "1.film.mkv", input + "1.film.webm", input + "1.sound.wav"}),
            failing.written);
  ASSERT_EQ(2u, failing.told.size());
  EXPECT_EQ(input + "0.film.webm: its film's movie could not be written; no WebM written", failing.told[1]);
  EXPECT_FALSE(Exists(input + "0.film.webm"));
}

// A WAV that cannot be made, or fails at any write, leaves the movie beside
// it the same bytes: sound before the film is decoded all the same, and a
// chunk of many decoded pieces reaches the movie whole.
TEST(FilmDemuxTest, AWavThatFailsLeavesTheMovieItsWholeSound) {
  StreamBuilder b;
  b.Shdr(Header(0, 22050)).Ssmp(PatternBytes(601, 11), 0, 0);
  b.Fhdr({.frameCount = 2, .time = 8});
  Interleave(b, 0, 0, {{24, kIntra}, {40, kInter}}, 70001);
  DemuxOptions options;
  const auto run = [&](const TempDir& dir, FilmSink& sink) {
    const std::string input = dir.Write("in.str", b.bytes());
    options.outputBase = input;
    return DemuxFile(input, options, sink);
  };
  TempDir clean;
  FilmSink cleanSink;
  // Armed beyond reach, the switch counts the operations of a whole run.
  faults::FailOperation(std::numeric_limits<std::int64_t>::max(), EIO);
  ASSERT_TRUE(run(clean, cleanSink));
  const std::int64_t operations = faults::OperationsPerformed();
  faults::Disarm();
  const Bytes movie = ReadAll(clean.File("in.str0.film.mkv"));

  TempDir blocked;
  std::filesystem::create_directory(PathOf(blocked.File("in.str0.sound.wav")));
  FilmSink blockedSink;
  EXPECT_FALSE(run(blocked, blockedSink));
  ASSERT_EQ(1u, blockedSink.told.size());
  EXPECT_TRUE(movie == ReadAll(blocked.File("in.str0.film.mkv")));

  int wavFaults = 0;
  for (std::int64_t k = 1; k <= operations; ++k) {
    TempDir dir;
    FilmSink sink;
    faults::FailOperation(k, EIO);
    const bool whole = run(dir, sink);
    faults::Disarm();
    if (sink.told.size() != 1 || sink.told[0].find("in.str0.sound.wav: ") == std::string::npos) continue;
    SCOPED_TRACE("operation " + std::to_string(k) + ": " + sink.told[0]);
    ++wavFaults;
    EXPECT_FALSE(whole);
    EXPECT_TRUE(movie == ReadAll(dir.File("in.str0.film.mkv")));
  }
  EXPECT_GE(wavFaults, 4);
}

TEST(FilmDemuxTest, MillisecondsAreRoundedFromTicksAndSamplesWithoutOverflow) {
  struct Case {
    std::int64_t ticks, samples, rate, ms;
  };
  const Case cases[] = {
      {0, 0, 1, 0},
      {1, 0, 1, 4},
      {3, 0, 1, 13},
      {-1, 0, 1, -4},
      {-3, 0, 1, -12},
      {0, 11025, 22050, 500},
      {0, 1, 2000, 1},
      {0, 1, 2001, 0},
      {24, 2205, 22050, 200},
      {2147483647, 0, 1, 8947848529},
      {0, 4294967295, 2147483647, 2000},
      {-2147483648, 4294967295, 22050, -8947848533 + 194783097},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.ms, MovieMs(c.ticks, c.samples, c.rate)) << c.ticks << " " << c.samples;
}

// A stream whose even offsets of each stereo pair carry 440 Hz and odd
// offsets 660 Hz: 440 Hz on the left in the WAV and in the movie beside it.
TEST(FilmDemuxTest, TheLeftToneComesOutOnTheLeftInTheWavAndTheMovie) {
  const Bytes sound = TwoToneSdx2(440, 660, 22050, 11025);
  StreamBuilder b;
  b.Fhdr({.frameCount = 2}).Shdr(Header(0, 22050));
  b.Ssmp(Slice(sound, 0, 11026), 0).FilmFrame({.data = kIntra, .time = 0, .duration = 60});
  b.Ssmp(Slice(sound, 11026, sound.size() - 11026), 60)
      .FilmFrame({.data = kInter, .time = 60, .duration = 60});
  TempDir dir;
  const std::string input = dir.Write("in.str", b.bytes());
  FilmSink sink;
  DemuxOptions options;
  options.outputBase = input;
  ASSERT_TRUE(DemuxFile(input, options, sink));
  const Bytes wav = ReadAll(input + "0.sound.wav");
  ASSERT_EQ(44u + 4 * 11025, wav.size());
  const MkvFile movie = ReadMatroska(ReadAll(input + "0.film.mkv"));
  ASSERT_EQ(2u, movie.tracks.size());
  const Bytes pcms[] = {Bytes(wav.begin() + 44, wav.end()), movie.Concatenated(movie.tracks[1].number)};
  for (const Bytes& pcm : pcms) {
    EXPECT_GT(ToneLevel(pcm, 2, 0, 440, 22050), 0.4);
    EXPECT_LT(ToneLevel(pcm, 2, 0, 660, 22050), 0.01);
    EXPECT_GT(ToneLevel(pcm, 2, 1, 660, 22050), 0.4);
    EXPECT_LT(ToneLevel(pcm, 2, 1, 440, 22050), 0.01);
  }
}

// Posters: the picture after the film's first key frame, decoded with the
// frames before it; what keeps a film from a whole poster is told.
TEST(FilmDemuxTest, EachFilmsPosterIsItsFirstKeyFrameOrWhyNot) {
  const Bytes pattern = TestPatternPicture(5, 160, 120), other = TestPatternPicture(60, 160, 120);
  const Bytes key = EncodeCinepakKeyFrame(pattern.data(), 160, 120),
              key2 = EncodeCinepakKeyFrame(other.data(), 160, 120);
  Bytes damaged = key;
  damaged.resize(key.size() - 40);
  struct Case {
    std::string name;
    std::string compression = "cvid";
    std::int32_t width = 160;
    std::vector<Frame> frames;
    std::size_t posterFrames;  // frames decoded into the poster; 0: none
    std::string told;          // a piece of the one line told; empty: none
    bool folderInTheWay = false;
  };
  const Case cases[] = {
      {"the first frame", "cvid", 160, {{.data = key}, {.data = key2, .time = 16}}, 1, ""},
      {"a difference frame, then the first key frame",
       "cvid",
       160,
       {{.data = kInter, .kind = "DFRM"}, {.data = key, .time = 16}, {.data = key2, .time = 32}},
       2,
       ""},
      {"a damaged key frame", "cvid", 160, {{.data = damaged}}, 1, "frame 1: strip 1 of"},
      {"no key frame",
       "cvid",
       160,
       {{.data = kInter, .kind = "DFRM"}},
       0,
       "no poster: the film has no key frame"},
      {"a picture too wide to decode",
       "cvid",
       4000,
       {{.data = key}},
       0,
       "no poster: a Cinepak picture of 4000x120"},
      {"a codec Morvane cannot decode", "rle ", 160, {{.data = key}}, 0, "is not Cinepak"},
      {"a folder in the poster's way", "cvid", 160, {{.data = key}}, 0, "in.str0.film.png: ", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    StreamBuilder b;
    b.Fhdr({.compression = c.compression,
            .width = c.width,
            .frameCount = static_cast<std::int32_t>(c.frames.size())});
    for (const Frame& frame : c.frames) b.FilmFrame(frame);
    const std::string input = dir.Write("in.str", b.bytes());
    const std::string poster = input + "0.film.png";
    if (c.folderInTheWay) std::filesystem::create_directory(PathOf(poster));
    FilmSink sink;
    DemuxOptions options;
    options.outputBase = input;
    options.posters = true;
    EXPECT_EQ(c.told.empty(), DemuxFile(input, options, sink));
    ASSERT_EQ(c.told.empty() ? 0u : 1u, sink.told.size());
    if (!c.told.empty()) {
      EXPECT_NE(std::string::npos, sink.told[0].find(c.told)) << sink.told[0];
    }
    EXPECT_TRUE(Exists(input + "0.film.mkv"));
    const bool written = c.posterFrames > 0;
    EXPECT_EQ(written, std::find(sink.written.begin(), sink.written.end(), poster) != sink.written.end());
    if (!written) {
      EXPECT_EQ(c.folderInTheWay, Exists(poster));
      continue;
    }
    CinepakDecoder decoder(160, 120);
    for (std::size_t i = 0; i < c.posterFrames; ++i)
      decoder.Decode(c.frames[i].data.data(), c.frames[i].data.size());
    const FfmpegDecoding read = DecodeFileFrames(poster, 160, 120);
    if (!read.skipReason.empty()) continue;  // FFmpeg is not here to read the PNG
    ASSERT_EQ(1u, read.pictures.size());
    EXPECT_EQ(decoder.Rgb(), read.pictures[0]);
  }
  // Without posters asked for, none.
  TempDir dir;
  StreamBuilder b;
  b.Fhdr({.frameCount = 1}).FilmFrame({.data = key});
  const std::string input = dir.Write("in.str", b.bytes());
  FilmSink sink;
  DemuxOptions options;
  options.outputBase = input;
  EXPECT_TRUE(DemuxFile(input, options, sink));
  EXPECT_FALSE(Exists(input + "0.film.png"));
}

}  // namespace
}  // namespace morvane::test
