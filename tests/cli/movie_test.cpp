// convert's movies as other programs see them: Cinepak frames made by
// Debian's FFmpeg from a test pattern, at 12 and 15 frames a second, put in
// a stream beside SDX2 sound; FFmpeg, ffprobe and mkvinfo read the movies.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "run_cli.h"
#include "support/ffmpeg_decoder.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "video/cinepak_decoder.h"

namespace morvane::test {
namespace {

bool Have(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command; gives its stdout and stderr together, and its status.
std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return "popen failed";
  std::array<char, 4096> buffer;
  for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
    out.append(buffer.data(), got);
  const int result = ::pclose(pipe);
  if (status) *status = result;
  return out;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// The frames FFmpeg's Cinepak encoder makes of a moving test pattern, a key
// frame every `group` frames.
std::vector<Bytes> CinepakFrames(const TempDir& dir, const std::string& name, int rate, int count,
                                 int group) {
  const std::string folder = dir.File(name);
  std::filesystem::create_directory(PathOf(folder));
  const std::string made =
      Shell("ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=" + std::to_string(rate) + " -frames:v " +
            std::to_string(count) + " -c:v cinepak -g " + std::to_string(group) + " -f image2 " +
            Quoted(folder + "/f%03d.cvid"));
  EXPECT_EQ("", made);
  std::vector<Bytes> frames;
  for (int i = 1; i <= count; ++i) {
    char file[32];
    std::snprintf(file, sizeof file, "/f%03d.cvid", i);
    frames.push_back(ReadAll(folder + file));
  }
  return frames;
}

struct FilmMade {
  std::vector<Bytes> frames;
  std::vector<std::int32_t> times;  // ticks
  std::vector<bool> keys;
};

// A film on channel 0 with its sound stream beside it: before each frame a
// data chunk of the sound that plays until the next. With `difference`,
// FFmpeg's key frames are FRME and the others DFRM; without, every frame is
// FRME with no flag, as older films have them.
FilmMade AddFilm(StreamBuilder& stream, const std::vector<Bytes>& frames, int rate, std::int32_t start,
                 std::int32_t soundStream, int group, bool difference) {
  FilmMade film;
  stream.Fhdr({.frameCount = static_cast<std::int32_t>(frames.size()), .time = start});
  StreamBuilder::Header sound;
  sound.stream = soundStream;
  sound.time = start;
  stream.Shdr(sound);
  const std::int32_t ticks = 240 / rate;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const std::int32_t time = start + static_cast<std::int32_t>(i) * ticks;
    const bool key = i % static_cast<std::size_t>(group) == 0;
    stream.Ssmp(PatternBytes(2 * 22050 / static_cast<std::size_t>(rate), static_cast<std::uint32_t>(time)),
                time, soundStream);
    stream.FilmFrame({.data = frames[i],
                      .time = time,
                      .duration = ticks,
                      .kind = difference && !key ? "DFRM" : "FRME",
                      .padding = i % 4});
    film.frames.push_back(frames[i]);
    film.times.push_back(time - start);
    film.keys.push_back(key);
  }
  return film;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(MovieTest, PlayersDecodeSeekAndFindEveryFrameAndSampleInPlace) {
  for (const char* tool : {"ffmpeg", "ffprobe", "mkvinfo"}) {
    if (!Have(tool))
      GTEST_SKIP() << tool << " is missing (install-deps.sh --tests brings ffmpeg and mkvtoolnix)";
  }
  TempDir dir;
  StreamBuilder stream;
  // Film 0 at 12 frames a second with sound 0, then film 1 at 15 with sound
  // 1, one after the other on the same channel.
  const FilmMade films[] = {
      AddFilm(stream, CinepakFrames(dir, "twelve", 12, 30, 6), 12, 0, 0, 6, true),
      AddFilm(stream, CinepakFrames(dir, "fifteen", 15, 30, 5), 15, 1000, 1, 5, false),
  };
  const std::string path = dir.Write("fîlm strêam.str", stream.bytes());
  CliRun run = RunCli({"convert", path});
  ASSERT_EQ(0, run.status) << run.err;
  // Each poster as soon as its film's first key frame has come.
  EXPECT_EQ(path + "0.film.png\n" + path + "0.film.mkv\n" + path + "1.film.png\n" + path + "1.film.mkv\n" +
                path + "0.sound.wav\n" + path + "1.sound.wav\n",
            run.out);
  EXPECT_EQ("", run.err);

  for (std::size_t n = 0; n < 2; ++n) {
    SCOPED_TRACE("film " + std::to_string(n));
    const FilmMade& film = films[n];
    const std::string movie = path + std::to_string(n) + ".film.mkv";
    int status = -1;
    EXPECT_EQ("", Shell("ffmpeg -v error -i " + Quoted(movie) + " -f null -", &status));
    EXPECT_EQ(0, status);
    const std::string info = Shell("mkvinfo -v " + Quoted(movie), &status);
    EXPECT_EQ(0, status);
    EXPECT_EQ(std::string::npos, info.find("rror")) << info;
    EXPECT_EQ(std::string::npos, info.find("arning")) << info;

    EXPECT_EQ("cinepak,160,120\npcm_s16le,22050\n",
              Shell("ffprobe -v error -show_entries stream=codec_name,width,height,sample_rate -of csv=p=0 " +
                    Quoted(movie)));
    // Each packet: its time within 1 ms of its chunk's, its key flag, its bytes.
    const std::vector<std::string> packets =
        Lines(Shell("ffprobe -v error -select_streams v -show_entries packet=pts_time,flags -of csv=p=0 " +
                    Quoted(movie)));
    ASSERT_EQ(film.frames.size(), packets.size());
    for (std::size_t i = 0; i < packets.size(); ++i) {
      const double seconds = std::stod(packets[i].substr(0, packets[i].find(',')));
      EXPECT_NEAR(film.times[i] / 240.0, seconds, 0.001) << "frame " << i;
      EXPECT_EQ(film.keys[i], packets[i].find('K') != std::string::npos) << "frame " << i;
    }
    const std::string copied = dir.File("copied" + std::to_string(n));
    std::filesystem::create_directory(PathOf(copied));
    EXPECT_EQ("", Shell("ffmpeg -v error -i " + Quoted(movie) + " -map 0:v -c copy -f image2 " +
                        Quoted(copied + "/p%03d.cvid")));
    for (std::size_t i = 0; i < film.frames.size(); ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/p%03d.cvid", static_cast<int>(i + 1));
      EXPECT_EQ(film.frames[i], ReadAll(copied + name)) << "frame " << i;
    }
    // The poster: the first frame as FFmpeg decodes the movie.
    const FfmpegDecoding poster = DecodeFileFrames(path + std::to_string(n) + ".film.png", 160, 120);
    const FfmpegDecoding first = DecodeFileFrames(movie, 160, 120);
    ASSERT_EQ(1u, poster.pictures.size());
    ASSERT_EQ(film.frames.size(), first.pictures.size());
    EXPECT_EQ(first.pictures[0], poster.pictures[0]);
    // The sound: the WAV's samples, every one.
    const std::string pcm = dir.File("track" + std::to_string(n) + ".raw");
    EXPECT_EQ("", Shell("ffmpeg -v error -i " + Quoted(movie) + " -map 0:a:0 -f s16le " + Quoted(pcm)));
    const Bytes wav = ReadAll(path + std::to_string(n) + ".sound.wav");
    EXPECT_EQ(Bytes(wav.begin() + 44, wav.end()), ReadAll(pcm));
    // A seek into the middle lands on a key frame.
    const std::vector<std::string> landed =
        Lines(Shell("ffprobe -v error -read_intervals 1.1%+#1 -select_streams v -show_entries "
                    "packet=pts_time,flags -of csv=p=0 " +
                    Quoted(movie)));
    ASSERT_FALSE(landed.empty());
    EXPECT_NE(std::string::npos, landed.front().find('K')) << landed.front();
    EXPECT_GT(std::stod(landed.front()), 0.5);
  }

  // analyze shows the first film, in the row the window shows it in.
  run = RunCli({"analyze", path});
  EXPECT_EQ(0, run.status);
  EXPECT_NE(std::string::npos, run.out.find("\nVideo Format: cvid 160x120\n")) << run.out;

  // Without movies the WAVs are the same bytes.
  const Bytes wav0 = ReadAll(path + "0.sound.wav");
  std::filesystem::remove(PathOf(path + "0.film.mkv"));
  run = RunCli({"convert", "--no-movies", path});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(path + "0.sound.wav\n" + path + "1.sound.wav\n", run.out);
  EXPECT_EQ(wav0, ReadAll(path + "0.sound.wav"));
  EXPECT_FALSE(Exists(path + "0.film.mkv"));
  // Without posters, the movies alone.
  run = RunCli({"convert", "--no-posters", path});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(path + "0.film.mkv\n" + path + "1.film.mkv\n" + path + "0.sound.wav\n" + path + "1.sound.wav\n",
            run.out);
}

// The film shared as WebM: a film at 12 frames a second beside two sound
// streams at once (stereo and mono, at their own rates), each data chunk
// before its frame. FFmpeg finds VP9 at the film's size, every frame near
// our own decoder's, and each Opus track where the movie's track is.
TEST(MovieTest, TheWebmHoldsTheFilmInVp9AndItsSoundInOpusInPlace) {
  for (const char* tool : {"ffmpeg", "ffprobe", "mkvinfo"}) {
    if (!Have(tool))
      GTEST_SKIP() << tool << " is missing (install-deps.sh --tests brings ffmpeg and mkvtoolnix)";
  }
  TempDir dir;
  const std::vector<Bytes> frames = CinepakFrames(dir, "webm", 12, 36, 6);
  StreamBuilder stream;
  const std::int32_t start = 480, ticks = 20;
  stream.Fhdr({.frameCount = static_cast<std::int32_t>(frames.size()), .time = start});
  StreamBuilder::Header stereo, mono;
  stereo.time = mono.time = start;
  mono.stream = 1;
  mono.channels = 1;
  mono.sampleRate = 11025;
  stream.Shdr(stereo).Shdr(mono);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const std::int32_t time = start + static_cast<std::int32_t>(i) * ticks;
    stream.Ssmp(PatternBytes(2 * 22050 / 12, static_cast<std::uint32_t>(time)), time, 0);
    stream.Ssmp(PatternBytes(11025 / 12, static_cast<std::uint32_t>(time + 1)), time, 1);
    stream.FilmFrame(
        {.data = frames[i], .time = time, .duration = ticks, .kind = i % 6 == 0 ? "FRME" : "DFRM"});
  }
  const std::string path = dir.Write("shared film.str", stream.bytes());
  std::vector<Bytes> ours;
  CinepakDecoder decoder(160, 120);
  for (const Bytes& frame : frames) {
    EXPECT_EQ("", decoder.Decode(frame.data(), frame.size()));
    ours.push_back(decoder.Rgb());
  }

  for (const bool all : {false, true}) {
    SCOPED_TRACE(all ? "every track" : "the first track");
    CliRun run =
        all ? RunCli({"convert", "--webm", "--all-tracks", path}) : RunCli({"convert", "--webm", path});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.err);
    const std::string movie = path + "0.film.mkv", webm = path + "0.film.webm";
    EXPECT_EQ(
        path + "0.film.png\n" + movie + "\n" + webm + "\n" + path + "0.sound.wav\n" + path + "1.sound.wav\n",
        run.out);
    int status = -1;
    const std::string info = Shell("mkvinfo -v " + Quoted(webm), &status);
    EXPECT_EQ(0, status);
    EXPECT_EQ(std::string::npos, info.find("rror")) << info;
    EXPECT_EQ(std::string::npos, info.find("arning")) << info;

    const FfmpegReading reading = ReadWithFfmpeg(webm);
    EXPECT_EQ("", reading.messages);
    EXPECT_EQ("vp9", reading.videoCodec);
    EXPECT_EQ(std::vector<std::string>(all ? 2 : 1, "opus"), reading.soundCodecs);
    EXPECT_EQ(160, reading.width);
    EXPECT_EQ(120, reading.height);
    EXPECT_EQ(static_cast<long>(frames.size()), reading.frames);
    EXPECT_NEAR(static_cast<double>(frames.size()) / 12, reading.duration, 1.0 / 12);
    ASSERT_EQ(ours.size(), reading.pictures.size());
    double worst = 1000;
    for (std::size_t i = 0; i < ours.size(); ++i)
      worst = std::min(worst, PeakSignalToNoise(ours[i], reading.pictures[i]));
    EXPECT_GE(worst, 30.0);
    // Each track's first 100 ms where the movie's are.
    const int rates[] = {22050, 11025}, channels[] = {2, 1};
    for (int track = 0; track < (all ? 2 : 1); ++track) {
      const FfmpegSound pcm = DecodeSoundWithFfmpeg(movie, track, rates[track], channels[track], 100);
      const FfmpegSound opus = DecodeSoundWithFfmpeg(webm, track, rates[track], channels[track], 100);
      ASSERT_GE(pcm.samples.size(), static_cast<std::size_t>((rates[track] / 10 - 1) * channels[track]));
      const double lag = SoundLagMs(pcm, opus, rates[track], channels[track], 30);
      EXPECT_NEAR(0.0, lag, 10.0) << "track " << track;
    }
  }
}

// A film that can't be shared as WebM: the movie and the WAVs are written
// all the same, and the WebM's problem is named (exit status 1).
TEST(MovieTest, AFilmThatCannotBeSharedKeepsItsMovieAndSound) {
  TempDir dir;
  struct Case {
    std::string compression;
    std::int32_t width, height;
    std::string told;
  };
  for (const Case& c :
       {Case{"rle ", 160, 120, "compression type 'rle ' is not Cinepak; no WebM written"},
        Case{"cvid", 4096, 120,
             "the picture size 4096x120 is larger than the decoder takes; no WebM written"}}) {
    SCOPED_TRACE(c.told);
    StreamBuilder stream;
    stream.Fhdr({.compression = c.compression, .width = c.width, .height = c.height, .frameCount = 2});
    stream.Shdr({});
    for (std::int32_t i = 0; i < 2; ++i) {
      stream.Ssmp(PatternBytes(2 * 22050 / 12, static_cast<std::uint32_t>(i)), i * 20, 0);
      stream.FilmFrame({.data = PatternBytes(40, 3), .time = i * 20, .duration = 20});
    }
    const std::string path = dir.Write("film.str", stream.bytes());
    const CliRun run = RunCli({"convert", "--webm", path});
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find(path + "0.film.webm: " + c.told + "\n")) << run.err;
    EXPECT_NE(std::string::npos, run.out.find(path + "0.film.mkv\n")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find(path + "0.sound.wav\n")) << run.out;
    EXPECT_FALSE(Exists(path + "0.film.webm"));
  }
  // What --webm asks of the command line.
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"convert", "--all-tracks", "x.str"},
        std::vector<std::string>{"convert", "--webm", "--no-movies", "x.str"},
        std::vector<std::string>{"analyze", "--webm", "x.str"}}) {
    EXPECT_EQ(2, RunCli(arguments).status);
  }
}

}  // namespace
}  // namespace morvane::test
