#include "figures.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "bench_inputs.h"
#include "convert_figures.h"
#include "digest.h"
#include "disc_figures.h"
#include "processes.h"
#include "report.h"

namespace morvane::bench {

namespace {

// An output that is not what the pass must write, or a program that failed.
class WrongOutput : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Bench {
 public:
  explicit Bench(const FigureOptions& options)
      : options_(options),
        expected_(LoadExpected(options.folder + "/" + kExpectedName)),
        stream_(options.folder + "/" + kStreamName),
        self_(SelfPath()) {}

  void Measure() {
    if (!options_.convertOnly && !options_.discOnly) {
      MeasureAnalyze();
      MeasureExtract();
      MeasureWav();
    }
    if (!options_.discOnly) MeasureConvertWithFilms();
    const auto progress = [this](const std::string& text) { Progress(text); };
    for (Row& row : MeasureDisc(options_.folder, options_.cli, options_.runs, progress))
      rows_.push_back(std::move(row));
  }
  const std::vector<Row>& Rows() const { return rows_; }
  const Expected& Inputs() const { return expected_; }

 private:
  static std::string SelfPath() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) throw std::runtime_error("cannot find the benchmark program itself");
    return std::string(path, static_cast<std::size_t>(length));
  }

  std::string File(const std::string& name) const { return options_.folder + "/" + name; }
  std::string SoundPath(std::size_t number) const { return stream_ + std::to_string(number) + ".sound"; }

  ProcessRun Run(const std::vector<std::string>& argv, const std::string& what) {
    const std::string out = File("last-stdout.txt");
    const std::string err = File("last-stderr.txt");
    const ProcessRun run = RunProcess(argv, out, err);
    if (run.exitCode != 0) {
      throw WrongOutput(what + " failed (exit " + std::to_string(run.exitCode) + "): " + ReadText(err));
    }
    lastStdout_ = ReadText(out);
    return run;
  }

  // The window as a driver process; its figures are timed inside it.
  struct WindowRun {
    double seconds = 0, pumpGap = 0, stall = 0;
  };
  WindowRun RunWindow(const std::string& command, const std::string& path, const std::string& rate = {}) {
    std::vector<std::string> argv = {self_, "window", command, path};
    if (!rate.empty()) argv.push_back(rate);
    Run(argv, "the window's " + command);
    WindowRun run;
    long long gapNs = 0, stallNs = 0;
    std::istringstream line(lastStdout_);
    if (!(line >> run.seconds >> gapNs >> stallNs))
      throw WrongOutput("the window driver printed: " + lastStdout_);
    run.pumpGap = static_cast<double>(gapNs) / 1e9;
    run.stall = static_cast<double>(stallNs) / 1e9;
    return run;
  }

  void CheckFile(const std::string& path, const FileDigest& expected, const std::string& what) const {
    const FileDigest got = DigestOfFile(path);
    if (got.length != expected.length) {
      throw WrongOutput(what + " " + path + " has " + std::to_string(got.length) + " bytes, expected " +
                        std::to_string(expected.length));
    }
    if (got.value != expected.value)
      throw WrongOutput(what + " " + path + " holds other bytes than expected");
  }

  void CheckSummary(const WalkShape& shape) const {
    const auto line = [](const char* text, std::int64_t count) {
      return std::string(text) + std::to_string(count % 65536) + "\n";
    };
    const std::string summary = std::string("Summary Info:\n") + line("SNDS chunks founded:", shape.snds) +
                                line("SHDR sub-chunks founded:", shape.shdr) +
                                line("SSMP sub-chunks founded:", shape.ssmp) +
                                line("SSND chunks founded:", shape.ssnd);
    if (lastStdout_.find(summary) == std::string::npos) {
      throw WrongOutput("morvane-cli analyze printed no summary with the expected counts:\n" + lastStdout_);
    }
  }

  void CheckSounds(const std::string& who) const {
    for (std::size_t i = 0; i < expected_.sounds.size(); ++i) {
      CheckFile(SoundPath(i), expected_.sounds[i], who + ": sound file");
    }
    if (::access(SoundPath(expected_.sounds.size()).c_str(), F_OK) == 0) {
      throw WrongOutput(
          who + ": a sound file more than the stream's headers: " + SoundPath(expected_.sounds.size()));
    }
  }

  void RemoveSounds() const {
    for (std::size_t i = 0; i < expected_.sounds.size(); ++i) ::unlink(SoundPath(i).c_str());
  }

  void CheckWav(const std::string& who) const {
    CheckFile(SoundPath(0) + ".wav", expected_.wav, who + ": the WAV");
  }

  void Progress(const std::string& text) const {
    std::fprintf(stderr, "  %s\n", text.c_str());
    std::fflush(stderr);
  }

  std::string Beside(const std::string& program) const {
    return std::filesystem::path(self_).parent_path().string() + "/" + program;
  }

  void CheckShapeMap(const WalkShape& shape, const std::string& who) const {
    CheckFile(File(shape.file) + ".MAP", shape.map, who + ": the map");
  }

  void CheckWalk(const WalkShape& shape, const std::string& who) const {
    if (lastStdout_ != std::to_string(shape.chunks) + "\n") {
      throw WrongOutput(who + " met other chunks than the " + std::to_string(shape.chunks) + " of " +
                        shape.file + ": " + lastStdout_);
    }
  }

  // Analyze File on each stream shape beside the two bare walks over the
  // same file, each a program of its own timed as a whole process, less its
  // start-up: its time on the one-chunk stream in the same run, so that a
  // change of the machine's load between runs does not enter the difference.
  // The runs alternate, the order of the programs turns with each run, and
  // since every run is short there are three times as many as of the other
  // figures.
  void MeasureAnalyze() {
    enum Program { kCli, kPread, kSequential, kPrograms };
    const std::vector<std::string> walks = {Beside("bare-walk-pread"), Beside("bare-walk-sequential")};
    const std::size_t shapes = expected_.shapes.size();
    std::vector<std::vector<Samples>> net(shapes, std::vector<Samples>(kPrograms));
    std::vector<Samples> startUp(kPrograms);
    Samples window, cliWhole, gap, stall;
    std::size_t dense = shapes;
    for (std::size_t s = 0; s < shapes; ++s) {
      if (expected_.shapes[s].name == "dense") dense = s;
      Run({"cat", File(expected_.shapes[s].file)}, "cat");  // the page cache is warm from here on
    }
    if (dense == shapes || expected_.shapes.front().name != "start-up")
      throw std::runtime_error("the inputs lack the start-up or the dense stream; make them again");
    const int rounds = 3 * options_.runs;
    for (int i = 0; i <= rounds; ++i) {
      const bool timed = i > 0;
      Progress(std::string("Analyze File, ") + (timed ? "run " + std::to_string(i) : "warm-up"));
      std::vector<std::vector<Samples>> took(shapes, std::vector<Samples>(kPrograms));
      for (std::size_t s = 0; s < shapes; ++s) {
        const WalkShape& shape = expected_.shapes[s];
        const std::string path = File(shape.file);
        // Every figure of the run is less the start-up, so that one is
        // taken three times and its median used.
        const int repeats = s == 0 ? 3 : 1;
        for (int k = 0; k < kPrograms * repeats; ++k) {
          const int program = (k + i) % kPrograms;
          ProcessRun run;
          if (program == kCli) {
            // Every output is a new file.
            ::unlink((path + ".MAP").c_str());
            run = Run({options_.cli, "analyze", path}, "morvane-cli analyze");
            CheckSummary(shape);
            CheckShapeMap(shape, "morvane-cli analyze");
          } else {
            const std::string& walk = walks[program - kPread];
            run = Run({walk, path}, walk);
            CheckWalk(shape, walk);
          }
          took[s][program].Add(run.seconds);
        }
      }
      ::unlink((File(expected_.shapes[dense].file) + ".MAP").c_str());
      const WindowRun windowRun = RunWindow("analyze", File(expected_.shapes[dense].file));
      CheckShapeMap(expected_.shapes[dense], "the window's Analyze File");
      if (!timed) continue;
      for (int program = 0; program < kPrograms; ++program) {
        for (const double value : took[0][program].values) startUp[program].Add(value);
        for (std::size_t s = 1; s < shapes; ++s)
          net[s][program].Add(took[s][program].Median() - took[0][program].Median());
      }
      cliWhole.Add(took[dense][kCli].Median());
      window.Add(windowRun.seconds);
      gap.Add(windowRun.pumpGap);
      stall.Add(windowRun.stall);
    }

    rows_.push_back(
        ContextRow("start-up: each program on a stream of one chunk (morvane-cli analyze; the bare walks)",
                   Milliseconds(startUp[kCli].Median()),
                   "one `pread` per header: " + Milliseconds(startUp[kPread].Median()) +
                       "; sequential reads: " + Milliseconds(startUp[kSequential].Median()),
                   "—"));
    for (std::size_t s = 1; s < shapes; ++s) {
      const WalkShape& shape = expected_.shapes[s];
      const double median[kPrograms] = {net[s][kCli].Median(), net[s][kPread].Median(),
                                        net[s][kSequential].Median()};
      const bool sequentialBetter = median[kSequential] < median[kPread];
      const double better = std::min(median[kPread], median[kSequential]);
      Row judged;
      judged.figure =
          "Analyze File, " + shape.name +
          " stream: " + Format("%.0f MB", static_cast<double>(shape.size) / kMegabyte) + " in " +
          std::to_string(shape.chunks) + " chunks, " +
          Format("%.1f KB", static_cast<double>(shape.size) / static_cast<double>(shape.chunks) / 1e3) +
          " a chunk (morvane-cli, less its start-up)";
      judged.value = NetMilliseconds(median[kCli]);
      judged.reference = std::string("better bare walk, ") +
                         (sequentialBetter ? "sequential reads of 256 KiB" : "one `pread` per header") +
                         ": " + NetMilliseconds(better) + " (the other, " +
                         (sequentialBetter ? "one `pread` per header" : "sequential reads of 256 KiB") +
                         ": " + NetMilliseconds(sequentialBetter ? median[kPread] : median[kSequential]) +
                         ")";
      judged.target = "≤ 1.25× the better walk";
      judged.measurable = median[kCli] >= kLeastNetTime && better >= kLeastNetTime;
      if (judged.measurable) {
        const double ratio = median[kCli] / better;
        judged.ratio = Format("%.2f×", ratio);
        judged.met = ratio <= 1.25;
      } else {
        judged.ratio = kNotMeasurable;
      }
      rows_.push_back(judged);
    }
    rows_.push_back(TimeRow("Analyze File of the dense stream in the window", window,
                            "morvane-cli analyze, whole process", cliWhole, 1.2, true));
    AddGapRows("Analyze File", gap, stall);
  }

  // Extract Chunks: the CLI's throughput beside `cp` of a file as large as
  // all the sound data.
  void MeasureExtract() {
    // The map the extraction reads, written and checked once.
    WalkShape stream;
    stream.file = kStreamName;
    stream.snds = expected_.snds;
    stream.shdr = expected_.shdr;
    stream.ssmp = expected_.ssmp;
    stream.ssnd = expected_.ssnd;
    stream.map = expected_.map;
    ::unlink((stream_ + ".MAP").c_str());
    Run({options_.cli, "analyze", stream_}, "morvane-cli analyze");
    CheckSummary(stream);
    CheckShapeMap(stream, "morvane-cli analyze");
    Samples cp, dd, cli, window, gap, stall;
    const std::string copy = File(kSoundCopyName);
    const std::string copied = File("copy-sound.out");
    for (int i = 0; i <= options_.runs; ++i) {
      const bool timed = i > 0;
      Progress(std::string("Extract Chunks, ") + (timed ? "run " + std::to_string(i) : "warm-up"));
      ::unlink(copied.c_str());
      const ProcessRun cpRun = Run({"cp", copy, copied}, "cp");
      ::unlink(copied.c_str());
      const ProcessRun ddRun = Run(DdCopy(copy, copied), "dd");
      RemoveSounds();
      const ProcessRun cliRun = Run({options_.cli, "extract", stream_}, "morvane-cli extract");
      CheckSounds("morvane-cli extract");
      RemoveSounds();
      const WindowRun windowRun = RunWindow("extract", stream_);
      CheckSounds("the window's Extract Chunks");
      if (!timed) continue;
      cp.Add(cpRun.seconds);
      dd.Add(ddRun.seconds);
      cli.Add(cliRun.seconds);
      window.Add(windowRun.seconds);
      gap.Add(windowRun.pumpGap);
      stall.Add(windowRun.stall);
    }
    ::unlink(copied.c_str());
    const double megabytes = static_cast<double>(expected_.soundTotal) / kMegabyte;
    rows_.push_back(DdRow(megabytes, dd, cp));
    Row row;
    row.figure = Format("Extract Chunks, %.0f MB of sound data (morvane-cli)", megabytes);
    row.value = Format("%.0f MB/s", megabytes / cli.Median()) + " (" + Seconds(cli.Median()) + ")";
    row.reference = "`cp` of a file as large: " + Format("%.0f MB/s", megabytes / cp.Median()) + " (" +
                    Seconds(cp.Median()) + ")";
    const double ratio = cp.Median() / cli.Median();
    row.ratio = Format("%.2f×", ratio);
    row.target = "≥ 0.5× the copy's throughput";
    row.met = ratio >= 0.5;
    rows_.push_back(row);
    rows_.push_back(TimeRow("Extract Chunks in the window", window, "morvane-cli extract", cli, 1.2, true));
    AddGapRows("Extract Chunks", gap, stall);
  }

  // SDX2 to WAV of sound file 0: the CLI beside `cp` of a file as large as
  // the WAV, and the CLI's peak memory beside its input.
  void MeasureWav() {
    Samples cp, dd, cli, window, gap, stall, peak;
    const std::string input = SoundPath(0);
    const std::string rate = std::to_string(expected_.wavRate);
    const std::string copy = File(kWavCopyName);
    const std::string copied = File("copy-wav.out");
    for (int i = 0; i <= options_.runs; ++i) {
      const bool timed = i > 0;
      Progress(std::string("SDX2 to WAV, ") + (timed ? "run " + std::to_string(i) : "warm-up"));
      ::unlink(copied.c_str());
      const ProcessRun cpRun = Run({"cp", copy, copied}, "cp");
      ::unlink(copied.c_str());
      const ProcessRun ddRun = Run(DdCopy(copy, copied), "dd");
      ::unlink((input + ".wav").c_str());
      const ProcessRun cliRun = Run({options_.cli, "wav", input, "--rate", rate}, "morvane-cli wav");
      CheckWav("morvane-cli wav");
      ::unlink((input + ".wav").c_str());
      const WindowRun windowRun = RunWindow("wav", input, rate);
      CheckWav("the window's SDX2 to WAV");
      if (!timed) continue;
      // The peak memory from a run of its own, under the small launcher.
      ::unlink((input + ".wav").c_str());
      const std::string peakFile = File("peak.txt");
      Run({self_, "peak", peakFile, options_.cli, "wav", input, "--rate", rate}, "morvane-cli wav (memory)");
      CheckWav("morvane-cli wav");
      cp.Add(cpRun.seconds);
      dd.Add(ddRun.seconds);
      cli.Add(cliRun.seconds);
      peak.Add(std::stod(ReadText(peakFile)) * 1024);
      window.Add(windowRun.seconds);
      gap.Add(windowRun.pumpGap);
      stall.Add(windowRun.stall);
    }
    ::unlink(copied.c_str());
    const double inputBytes = static_cast<double>(expected_.sounds[0].length);
    rows_.push_back(
        TimeRow(Format("SDX2 to WAV of a %.0f MB sound file (morvane-cli)", inputBytes / kMegabyte), cli,
                Format("`cp` of a %.0f MB file", static_cast<double>(expected_.wav.length) / kMegabyte), cp,
                3.0, true));
    rows_.push_back(DdRow(static_cast<double>(expected_.wav.length) / kMegabyte, dd, cp));
    rows_.push_back(TimeRow("SDX2 to WAV in the window", window, "morvane-cli wav", cli, 1.2, true));
    Row row;
    row.figure = "peak memory of SDX2 to WAV (morvane-cli, max RSS, worst run)";
    row.value = Format("%.1f MB", peak.Worst() / kMegabyte);
    row.reference = Format("input %.1f MB", inputBytes / kMegabyte);
    row.ratio = Format("%.2f× input", peak.Worst() / inputBytes);
    const double limit = 3 * inputBytes + 40 * kMegabyte;
    row.target = "≤ 3× input + 40 MB (" + Format("%.0f MB", limit / kMegabyte) + ")";
    row.met = peak.Worst() <= limit;
    rows_.push_back(row);
    AddGapRows("SDX2 to WAV", gap, stall);
  }

  // convert of the streams with films: beside `cp` of the same file, and
  // beside the same convert without movies; its peak memory.
  void MeasureConvertWithFilms() {
    const auto progress = [this](const std::string& text) { Progress(text); };
    for (Row& row :
         ConvertRows(MeasureConvert(options_.folder, options_.cli, self_, options_.runs, progress)))
      rows_.push_back(std::move(row));
    for (Row& row : MeasureWebm(options_.folder, options_.cli, options_.runs, progress))
      rows_.push_back(std::move(row));
  }

  void AddGapRows(const std::string& pass, const Samples& gap, const Samples& stall) {
    Row row;
    // Each run gives its longest gap; the median of those is judged, and the
    // worst run is shown beside it, since on a shared machine one run can
    // lose the processor to another program for a while.
    row.figure = "longest gap between two looks at the queue, " + pass + " (Form1)";
    row.value = Format("%.1f ms", gap.Median() * 1e3) + Format(" (worst run %.1f ms)", gap.Worst() * 1e3);
    row.reference = "—";
    row.ratio = "—";
    row.target = "≤ 20 ms";
    row.met = gap.Median() <= 0.020;
    rows_.push_back(row);
    row.figure = "longest time no queued timer could fire, " + pass + ", click to return";
    row.value = Format("%.1f ms", stall.Median() * 1e3) + Format(" (worst run %.1f ms)", stall.Worst() * 1e3);
    row.met = stall.Median() <= 0.020;
    rows_.push_back(row);
  }

  const FigureOptions& options_;
  Expected expected_;
  std::string stream_;
  std::string self_;
  std::string lastStdout_;
  std::vector<Row> rows_;
};

}  // namespace

int RunFigures(const FigureOptions& options) {
  try {
    Bench bench(options);
    const std::string loadBefore = LoadAverage();
    bench.Measure();
    const std::string loadAfter = LoadAverage();
    const std::string load = "load average " + loadBefore + " before the run, " + loadAfter + " after it";
    const bool judged = !options.small;
    const std::string table = Table(bench.Rows(), judged);
    const std::string notes = LoadNote(loadBefore, loadAfter);
    std::printf("\n%s%s\nOn %s (%s).\n", table.c_str(), notes.c_str(), MachineLine().c_str(), load.c_str());
    if (judged) {
      std::vector<std::string> shortOnes;
      for (const Row& row : bench.Rows()) {
        if (!row.met && !row.context && row.measurable) shortOnes.push_back(row.figure);
      }
      if (shortOnes.empty()) {
        std::printf("\nEvery target met.\n");
      } else {
        std::printf("\n%zu figure(s) fall short of their target:\n", shortOnes.size());
        for (const std::string& figure : shortOnes) std::printf("  - %s\n", figure.c_str());
      }
    }
    if (!options.doc.empty()) WriteDoc(options.doc, table, notes, bench.Inputs(), options.runs, load);
    std::printf("Every output was as expected.\n");
    return 0;
  } catch (const WrongOutput& failure) {
    std::fprintf(stderr, "\nOUTPUT WRONG: %s\n", failure.what());
    return 1;
  }
}

}  // namespace morvane::bench
