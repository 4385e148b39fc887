// morvane-decode-bench: the Cinepak decoder's frames a second on 320x240
// films made by FFmpeg's own Cinepak encoder, beside FFmpeg's own decoder on
// the same frames (one thread each), and the decoder's memory as the film
// grows ten times longer.
//
//   morvane-decode-bench [--small]
//
// FFmpeg's time is that of `ffmpeg -threads 1 -stream_loop 9 -i FILM.mkv
// -f null -` (the film ten times over) less that of the same run stopped
// after the first frame (its start): what is left is its decoding and the
// container's reading. Ours is the decoding
// alone, the frames already in memory. With --small the films are short
// and nothing is judged, but every frame must equal FFmpeg's decoding.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/ffmpeg_decoder.h"
#include "support/matroska_reader.h"
#include "support/temp_dir.h"
#include "video/cinepak_decoder.h"

namespace {

using morvane::test::Bytes;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Seconds of a shell command, best of `runs`.
double Timed(const std::string& command, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const double start = Now();
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "morvane-decode-bench: failed: %s\n", command.c_str());
      std::exit(1);
    }
    times.push_back(Now() - start);
  }
  return *std::min_element(times.begin(), times.end());
}

struct Film {
  std::string name, source, options;
};

}  // namespace

int main(int argc, char** argv) {
  const bool small = argc > 1 && std::string(argv[1]) == "--small";
  const int frames = small ? 24 : 300, runs = small ? 1 : 5;
  const Film films[] = {
      {"moving test pattern, up to 3 strips, a key frame every 12", "testsrc2=size=320x240:rate=15",
       "-g 12 -max_strips 3"},
      {"noisy picture, 1 strip, key frames only", "testsrc2=size=320x240:rate=15,noise=alls=30:allf=t",
       "-g 1 -max_strips 1"},
  };
  const morvane::test::TempDir dir;
  bool failed = false;
  std::printf("%-58s %12s %12s %14s\n", "320x240 film", "ours fps", "FFmpeg fps", "time: ours/its");
  for (const Film& film : films) {
    const morvane::test::FfmpegDecoding encoded =
        morvane::test::EncodeCinepakWithFfmpeg(film.source, film.options, frames);
    if (!encoded.skipReason.empty() || encoded.pictures.size() != static_cast<std::size_t>(frames)) {
      std::fprintf(stderr, "morvane-decode-bench: no films: %s%s\n", encoded.skipReason.c_str(),
                   encoded.messages.c_str());
      return 1;
    }
    // The frames in a movie of FFmpeg's own, which its decoder then reads.
    for (std::size_t i = 0; i < encoded.pictures.size(); ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "f%05zu.cvid", i + 1);
      morvane::test::WriteFile(dir.File(name), encoded.pictures[i]);
    }
    const std::string movie = dir.File("film.mkv");
    std::string folder = "'";
    folder.append(dir.path().string()).append("/");
    Timed("ffmpeg -nostdin -v error -y -f image2 -framerate 15 -video_size 320x240 -c:v cinepak -i " +
              folder + "f%05d.cvid' -c copy " + folder + "film.mkv'",
          1);
    const morvane::test::MkvFile read = morvane::test::ReadMatroska(morvane::test::ReadAll(movie));
    const std::vector<const morvane::test::MkvBlock*> blocks = read.BlocksOf(1);

    // Ours, one core: every frame, in order, `runs` times.
    std::vector<double> ours;
    std::vector<Bytes> pictures;
    for (int run = 0; run < runs; ++run) {
      morvane::CinepakDecoder decoder(320, 240);
      const double start = Now();
      for (const morvane::test::MkvBlock* block : blocks) {
        if (!decoder.Decode(block->data.data(), block->data.size()).empty()) failed = true;
        if (run == 0 && small) pictures.push_back(decoder.Rgb());
      }
      ours.push_back(Now() - start);
    }
    const std::string ffmpeg = "ffmpeg -nostdin -v error -threads 1 -i " + folder + "film.mkv'";
    const double whole = Timed(ffmpeg + " -f null -", runs),
                 first = Timed(ffmpeg + " -frames:v 1 -f null -", runs);
    const double theirs = std::max(whole - first, 1e-6);
    const double ourFps = static_cast<double>(blocks.size()) / Median(ours);
    const double theirFps = static_cast<double>(blocks.size() - 1) / theirs;
    std::printf("%-58s %12.0f %12.0f %13.2fx\n", film.name.c_str(), ourFps, theirFps, theirFps / ourFps);
    if (small) {
      const morvane::test::FfmpegDecoding reference = morvane::test::DecodeFileFrames(movie, 320, 240);
      if (reference.pictures != pictures) {
        std::fprintf(stderr, "morvane-decode-bench: %s: our frames differ from FFmpeg's\n",
                     film.name.c_str());
        failed = true;
      }
    }
  }

  // Memory: the same decoder through a film ten times as long.
  const morvane::test::FfmpegDecoding encoded =
      morvane::test::EncodeCinepakWithFfmpeg(films[0].source, films[0].options, small ? 12 : 120);
  morvane::CinepakDecoder decoder(320, 240);
  const double before = PeakMegabytes();
  double afterShort = 0;
  for (int pass = 0; pass < 10; ++pass) {
    for (const Bytes& frame : encoded.pictures) decoder.Decode(frame.data(), frame.size());
    if (pass == 0) afterShort = PeakMegabytes();
  }
  std::printf(
      "peak memory of the process: %.1f MB before decoding, %.1f MB after %zu frames, %.1f MB after %zu\n",
      before, afterShort, encoded.pictures.size(), PeakMegabytes(), 10 * encoded.pictures.size());
  if (PeakMegabytes() > 64) failed = true;
  return failed ? 1 : 0;
}
