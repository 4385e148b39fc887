#include "convert_figures.h"

#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "codecs/film_encoders.h"
#include "digest.h"
#include "processes.h"
#include "report.h"
#include "support/film_stream.h"
#include "support/matroska_reader.h"
#include "support/stream_builder.h"

namespace morvane::bench {

namespace {

struct ShapeMade {
  const char* name;
  test::FilmStreamOptions options;
};

// About 200 MB each (2 MB when small): 15 frames a second of 12 KB frames
// beside 22050 Hz sound; or two films at once of 2 KB frames.
std::vector<ShapeMade> Shapes(bool small) {
  const double scale = small ? 0.01 : 1.0;
  test::FilmStreamOptions large;
  large.films = 1;
  large.frameBytes = 12000;
  large.seconds = 880 * scale;
  test::FilmStreamOptions dense;
  dense.films = 2;
  dense.together = true;
  dense.frameBytes = 2000;
  dense.seconds = 1330 * scale;
  return {{"large-frames", large}, {"two-films-at-once", dense}};
}

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

// A stream of sound alone, about 200 MB (2 MB when small): a header, then
// data chunks of 64 KiB of noise, the hardest input for a delta codec.
std::int64_t WriteSoundStream(std::ofstream& out, const std::string& codec, bool small) {
  test::StreamBuilder::Header header = test::Header(0, 22050, codec == "ADP4" ? 1 : 2, codec);
  header.sampleSize = codec == "ADP4" ? 4 : 16;
  std::int64_t size = 0;
  const auto write = [&](const test::Bytes& bytes) {
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    size += static_cast<std::int64_t>(bytes.size());
  };
  write(test::StreamBuilder().Shdr(header).bytes());
  const int chunks = small ? 32 : 3200;
  for (int i = 0; i < chunks; ++i)
    write(test::StreamBuilder()
              .Ssmp(test::PatternBytes(64 * 1024, static_cast<std::uint32_t>(i)), i * 120)
              .bytes());
  return size;
}

}  // namespace

std::vector<FilmShape> MakeFilmInputs(const std::string& folder, bool small) {
  std::vector<FilmShape> shapes;
  std::ofstream list(folder + "/" + kFilmShapesName, std::ios::trunc);
  for (const std::string codec : {"CBD2", "ADP4"}) {
    FilmShape shape;
    shape.name = codec + "-sound";
    shape.file = "sound-" + codec + ".str";
    shape.codec = codec;
    std::ofstream out(folder + "/" + shape.file, std::ios::binary | std::ios::trunc);
    shape.size = WriteSoundStream(out, codec, small);
    Check(static_cast<bool>(out.flush()), "cannot write " + shape.file);
    list << shape.name << " " << shape.file << " " << shape.size << " " << shape.films << " " << shape.frames
         << " " << shape.codec << "\n";
    shapes.push_back(shape);
  }
  for (const ShapeMade& made : Shapes(small)) {
    FilmShape shape;
    shape.name = made.name;
    shape.file = std::string("films-") + made.name + ".str";
    shape.films = made.options.films;
    shape.frames = static_cast<int>(made.options.seconds * made.options.framesPerSecond);
    std::ofstream out(folder + "/" + shape.file, std::ios::binary | std::ios::trunc);
    shape.size = test::WriteFilmStream(made.options, [&](const unsigned char* bytes, std::size_t count) {
      out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
    });
    Check(static_cast<bool>(out.flush()), "cannot write " + shape.file);
    list << shape.name << " " << shape.file << " " << shape.size << " " << shape.films << " " << shape.frames
         << " " << shape.codec << "\n";
    shapes.push_back(shape);
  }
  Check(static_cast<bool>(list.flush()), std::string("cannot write ") + kFilmShapesName);
  return shapes;
}

std::vector<FilmShape> LoadFilmShapes(const std::string& folder) {
  std::ifstream in(folder + "/" + kFilmShapesName);
  std::vector<FilmShape> shapes;
  for (FilmShape shape;
       in >> shape.name >> shape.file >> shape.size >> shape.films >> shape.frames >> shape.codec;)
    shapes.push_back(shape);
  Check(!shapes.empty(), std::string("cannot read ") + kFilmShapesName + "; make the inputs first");
  return shapes;
}

std::vector<ConvertTimings> MeasureConvert(const std::string& folder, const std::string& cli,
                                           const std::string& self, int runs,
                                           const std::function<void(const std::string&)>& progress) {
  std::vector<ConvertTimings> all;
  const std::string out = folder + "/last-stdout.txt", err = folder + "/last-stderr.txt";
  const auto run = [&](const std::vector<std::string>& argv, const std::string& what) {
    const ProcessRun done = RunProcess(argv, out, err);
    Check(done.exitCode == 0,
          what + " failed (exit " + std::to_string(done.exitCode) + "): " + ReadText(err));
    return done;
  };
  // Each timed program starts with no dirty pages of the one before it, so
  // that none of them pays for another's writing back.
  const auto timed = [&](const std::vector<std::string>& argv, const std::string& what) {
    run({"sync"}, "sync");
    return run(argv, what);
  };
  for (const FilmShape& shape : LoadFilmShapes(folder)) {
    ConvertTimings timings;
    timings.shape = shape;
    const std::string stream = folder + "/" + shape.file;
    const std::string copied = folder + "/copy-films.out";
    std::string movieNames, wavNames;
    for (int n = 0; n < shape.films; ++n) movieNames += stream + std::to_string(n) + ".film.mkv\n";
    for (int n = 0; n < shape.Wavs(); ++n) wavNames += stream + std::to_string(n) + ".sound.wav\n";
    // Each poster is printed as soon as it is written, before its movie.
    const auto withoutPosters = [](const std::string& names) {
      std::string kept;
      for (std::size_t at = 0, end; at < names.size(); at = end + 1) {
        end = names.find('\n', at);
        const std::string line = names.substr(at, end - at);
        if (!line.ends_with(".film.png")) kept += line + "\n";
      }
      return kept;
    };
    std::vector<FileDigest> wavs, movies;
    const auto outputs = [&](bool withMovies, const std::string& who) {
      Check(withoutPosters(ReadText(out)) == (withMovies ? movieNames : "") + wavNames,
            who + " printed other names: " + ReadText(out));
      for (int n = 0; n < shape.films; ++n) {
        const std::string poster = stream + std::to_string(n) + ".film.png";
        Check((ReadText(out).find(poster + "\n") != std::string::npos) == withMovies, who + ": " + poster);
      }
      std::vector<FileDigest> wavNow, moviesNow;
      for (int n = 0; n < shape.Wavs(); ++n) {
        wavNow.push_back(DigestOfFile(stream + std::to_string(n) + ".sound.wav"));
        const std::string movie = stream + std::to_string(n) + ".film.mkv";
        Check((::access(movie.c_str(), F_OK) == 0) == (withMovies && !shape.SoundAlone()),
              who + ": " + movie);
        if (withMovies && !shape.SoundAlone()) moviesNow.push_back(DigestOfFile(movie));
      }
      if (wavs.empty()) {
        wavs = wavNow;
        for (const FileDigest& wav : wavNow) timings.written += wav.length;
        // The WAV holds every sample of the stream: 16-bit, two a byte for
        // ADP4, one a byte for CBD2.
        if (shape.SoundAlone()) {
          const std::int64_t data = (shape.size - 64) / (24 + 64 * 1024) * 64 * 1024;
          Check(wavNow[0].length == 44 + (shape.codec == "ADP4" ? 4 : 2) * data,
                who + ": the WAV holds another number of samples");
        }
      }
      if (shape.SoundAlone()) withMovies = false;
      for (int n = 0; n < shape.Wavs(); ++n) {
        Check(wavNow[n].length == wavs[n].length && wavNow[n].value == wavs[n].value,
              who + ": a WAV differs from the first run's");
      }
      if (!withMovies) return;
      if (movies.empty()) {
        // Read back once: every frame there, beside its films' sound.
        for (int n = 0; n < shape.films; ++n) {
          std::ifstream in(stream + std::to_string(n) + ".film.mkv", std::ios::binary);
          const test::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
          const test::MkvFile movie = test::ReadMatroska(bytes);
          Check(movie.problem.empty(), who + ": movie " + std::to_string(n) + ": " + movie.problem);
          Check(movie.BlocksOf(1).size() == static_cast<std::size_t>(shape.frames),
                who + ": movie " + std::to_string(n) + " holds another number of frames");
          Check(movie.tracks.size() == 1 + (shape.films > 1 ? 2u : 1u),
                who + ": movie " + std::to_string(n) + " holds another number of tracks");
        }
        movies = moviesNow;
        for (const FileDigest& movie : moviesNow) timings.written += movie.length;
      }
      for (int n = 0; n < shape.films; ++n) {
        Check(moviesNow[n].length == movies[n].length && moviesNow[n].value == movies[n].value,
              who + ": a movie differs from the first run's");
      }
    };
    // Every output is a new file.
    const auto removeOutputs = [&] {
      for (int n = 0; n < shape.Wavs(); ++n) {
        ::unlink((stream + std::to_string(n) + ".film.mkv").c_str());
        ::unlink((stream + std::to_string(n) + ".film.png").c_str());
        ::unlink((stream + std::to_string(n) + ".sound.wav").c_str());
      }
    };
    run({"cat", stream}, "cat");  // the page cache is warm from here on
    for (int i = 0; i <= runs; ++i) {
      progress(std::string("convert, ") + shape.name + ", " +
               (i > 0 ? "run " + std::to_string(i) : "warm-up"));
      ::unlink(copied.c_str());
      const ProcessRun copy = timed({"cp", stream, copied}, "cp");
      ::unlink(copied.c_str());
      const ProcessRun dd = timed(DdCopy(stream, copied), "dd");
      ::unlink(copied.c_str());
      removeOutputs();
      // The floor writes as many bytes into as many files as convert did
      // (known from the warm-up on).
      ProcessRun bare;
      if (i > 0) {
        std::vector<std::string> floor = {self.substr(0, self.rfind('/') + 1) + "bare-convert-floor", stream};
        for (std::size_t n = 0; n < wavs.size() + movies.size(); ++n) {
          floor.push_back(folder + "/floor-" + std::to_string(n) + ".out");
          floor.push_back(std::to_string(n < wavs.size() ? wavs[n].length : movies[n - wavs.size()].length));
        }
        bare = timed(floor, "bare-convert-floor");
        Check(std::stoll(ReadText(out)) == timings.written,
              "bare-convert-floor wrote another number of bytes");
        for (std::size_t n = 0; n < wavs.size() + movies.size(); ++n) {
          ::unlink((folder + "/floor-" + std::to_string(n) + ".out").c_str());
        }
      }
      const ProcessRun convert = timed({cli, "convert", stream}, "morvane-cli convert");
      outputs(true, "morvane-cli convert");
      removeOutputs();
      ProcessRun noMovies;
      if (!shape.SoundAlone()) {
        noMovies = timed({cli, "convert", "--no-movies", stream}, "morvane-cli convert --no-movies");
        outputs(false, "morvane-cli convert --no-movies");
      }
      if (i == 0) continue;
      const std::string peakFile = folder + "/peak.txt";
      removeOutputs();
      run({self, "peak", peakFile, cli, "convert", stream}, "morvane-cli convert (memory)");
      outputs(true, "morvane-cli convert");
      timings.copy.push_back(copy.seconds);
      timings.dd.push_back(dd.seconds);
      timings.convert.push_back(convert.seconds);
      timings.noMovies.push_back(noMovies.seconds);
      timings.floor.push_back(bare.seconds);
      timings.peak.push_back(std::stod(ReadText(peakFile)) * 1024);
    }
    removeOutputs();
    all.push_back(timings);
  }
  return all;
}

std::vector<Row> ConvertRows(const std::vector<ConvertTimings>& timings) {
  std::vector<Row> rows;
  for (const ConvertTimings& t : timings) {
    Samples copy, dd, convert, noMovies, floor, peak;
    for (std::size_t i = 0; i < t.copy.size(); ++i) {
      copy.Add(t.copy[i]);
      dd.Add(t.dd[i]);
      convert.Add(t.convert[i]);
      noMovies.Add(t.noMovies[i]);
      floor.Add(t.floor[i]);
      peak.Add(t.peak[i]);
    }
    if (t.shape.SoundAlone()) {
      const double mb = static_cast<double>(t.shape.size) / kMegabyte;
      rows.push_back(
          TimeRow("convert of a " + Format("%.0f MB", mb) + " stream of " + t.shape.codec +
                      (t.shape.codec == "ADP4" ? " mono" : " stereo") + " sound alone (morvane-cli), " +
                      Format("%.0f MB", static_cast<double>(t.written) / kMegabyte) + " of WAV written",
                  convert, "bare floor: the stream read and the same bytes written (bare-convert-floor)",
                  floor, 1.25, true));
      rows.push_back(DdRow(mb, dd, copy));
      Row row;
      row.figure = "peak memory of that convert (morvane-cli, max RSS, worst run)";
      row.value = Format("%.1f MB", peak.Worst() / kMegabyte);
      row.reference = Format("stream %.0f MB", mb);
      row.ratio = "—";
      row.target = "< 64 MB";
      row.met = peak.Worst() < 64 * kMegabyte;
      rows.push_back(row);
      continue;
    }
    const std::string stream = Format("%.0f MB", static_cast<double>(t.shape.size) / kMegabyte) + ", " +
                               t.shape.name + " (" + std::to_string(t.shape.films) + " film(s) of " +
                               std::to_string(t.shape.frames) + " frames)";
    rows.push_back(TimeRow("convert of a stream with films, " + stream + ": movies and WAVs (morvane-cli), " +
                               Format("%.0f MB", static_cast<double>(t.written) / kMegabyte) + " written",
                           convert, "`cp` of the same file", copy, 1.5, true));
    rows.push_back(DdRow(static_cast<double>(t.shape.size) / kMegabyte, dd, copy));
    // convert writes more bytes than it reads: its floor is the reading
    // and writing of them, whatever is done between.
    rows.push_back(ContextRow("bare floor: the stream read and the same " +
                                  Format("%.0f MB", static_cast<double>(t.written) / kMegabyte) +
                                  " written into as many files, through user memory (bare-convert-floor)",
                              Seconds(floor.Median()), "convert: " + Seconds(convert.Median()),
                              Format("convert %.2f× floor", convert.Median() / floor.Median())));
    rows.push_back(ContextRow("the same convert with --no-movies: WAVs only", Seconds(noMovies.Median()),
                              "with movies: " + Seconds(convert.Median()),
                              Format("%.2f×", noMovies.Median() / convert.Median())));
    Row row;
    row.figure = "peak memory of that convert with movies (morvane-cli, max RSS, worst run)";
    row.value = Format("%.1f MB", peak.Worst() / kMegabyte);
    row.reference = Format("stream %.0f MB", static_cast<double>(t.shape.size) / kMegabyte);
    row.ratio = "—";
    row.target = "< 64 MB";
    row.met = peak.Worst() < 64 * kMegabyte;
    rows.push_back(row);
  }
  return rows;
}

std::vector<Row> MeasureWebm(const std::string& folder, const std::string& cli, int runs,
                             const std::function<void(const std::string&)>& progress) {
  const std::string out = folder + "/last-stdout.txt", err = folder + "/last-stderr.txt";
  const std::string demo = folder + "/webm-demo.str", movie = demo + "0.film.mkv",
                    webm = demo + "0.film.webm";
  const std::string theirs = folder + "/ffmpeg.webm";
  const auto run = [&](const std::vector<std::string>& argv, const std::string& what) {
    RunProcess({"sync"}, "", "");
    const ProcessRun done = RunProcess(argv, out, err);
    Check(done.exitCode == 0,
          what + " failed (exit " + std::to_string(done.exitCode) + "): " + ReadText(err));
    return done;
  };
  if (!FilmEncodersBuilt()) return {ContextRow("convert --webm", "not in this build", "—", "—")};
  if (RunProcess({"ffmpeg", "-version"}, "", "").exitCode != 0)
    return {ContextRow("convert --webm beside FFmpeg", "ffmpeg is missing", "—", "—")};
  run({cli, "make-demo", demo}, "morvane-cli make-demo");
  // FFmpeg at the settings our encoders use: VP9 at constant quality, the
  // same speed, no frame held back, a key frame at least every 120 frames,
  // two threads; Opus at the same bit rate.
  const EncoderSettings settings;
  const std::vector<std::string> ffmpeg = {"ffmpeg",
                                           "-nostdin",
                                           "-v",
                                           "error",
                                           "-y",
                                           "-i",
                                           movie,
                                           "-c:v",
                                           "libvpx-vp9",
                                           "-crf",
                                           std::to_string(settings.vp9Quality),
                                           "-b:v",
                                           "0",
                                           "-deadline",
                                           "good",
                                           "-cpu-used",
                                           std::to_string(settings.vp9Speed),
                                           "-row-mt",
                                           "1",
                                           "-threads",
                                           "2",
                                           "-lag-in-frames",
                                           "0",
                                           "-g",
                                           "120",
                                           "-c:a",
                                           "libopus",
                                           "-b:a",
                                           std::to_string(2 * settings.opusBitsPerChannel),
                                           theirs};
  Samples withWebm, without, reference;
  for (int i = 0; i <= runs; ++i) {
    progress("convert --webm, " + (i > 0 ? "run " + std::to_string(i) : std::string("warm-up")));
    ::unlink(webm.c_str());
    const ProcessRun ours = run({cli, "convert", "--webm", demo}, "morvane-cli convert --webm");
    std::ifstream in(webm, std::ios::binary);
    const test::MkvFile file = test::ReadMatroska(
        test::Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    Check(file.problem.empty() && file.docType == "webm", "the WebM is not whole: " + file.problem);
    Check(file.BlocksOf(1).size() == 48 && file.tracks.size() == 2,
          "the WebM holds another number of frames or tracks");
    const ProcessRun plain = run({cli, "convert", demo}, "morvane-cli convert");
    ::unlink(theirs.c_str());
    const ProcessRun ffmpegRun = run(ffmpeg, "ffmpeg");
    Check(::access(theirs.c_str(), F_OK) == 0, "ffmpeg wrote no WebM");
    if (i == 0) continue;
    withWebm.Add(ours.seconds);
    without.Add(plain.seconds);
    reference.Add(ffmpegRun.seconds);
  }
  for (const char* suffix : {"", "0.film.mkv", "0.film.webm", "0.sound.wav", "1.sound.wav"})
    ::unlink((demo + suffix).c_str());
  ::unlink(theirs.c_str());
  std::vector<Row> rows;
  rows.push_back(TimeRow(
      "convert --webm of the demo stream (film of 4 s, 320x240, 48 frames): WebM, movie and WAVs", withWebm,
      "ffmpeg -c:v libvpx-vp9 -c:a libopus of its movie, the same settings", reference, 1.25, true));
  rows.push_back(
      ContextRow("the same convert without --webm: movie and WAVs", Seconds(without.Median()), "—", "—"));
  Row row;
  row.figure = "convert --webm of the demo stream, on its own";
  row.value = Seconds(withWebm.Median());
  row.reference = "—";
  row.ratio = "—";
  row.target = "≤ 10 s";
  row.met = withWebm.Median() <= 10;
  rows.push_back(row);
  return rows;
}

}  // namespace morvane::bench
