#include "figures.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "bench_inputs.h"
#include "convert_figures.h"
#include "digest.h"
#include "processes.h"

namespace morvane::bench {

namespace {

constexpr double kMegabyte = 1e6;

// An output that is not what the pass must write, or a program that failed.
class WrongOutput : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Samples {
  std::vector<double> values;
  void Add(double value) { values.push_back(value); }
  double Median() const {
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
  }
  double Worst() const { return *std::max_element(values.begin(), values.end()); }
};

struct Row {
  std::string figure, value, reference, ratio, target;
  bool met = false;
  bool context = false;    // shown to explain the others, not judged
  bool measurable = true;  // the input was large enough to judge the figure
};

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Seconds(double seconds) { return Format("%.3f s", seconds); }
std::string Milliseconds(double seconds) { return Format("%.1f ms", seconds * 1e3); }

// A whole process timed less its start-up resolves no time below a
// millisecond: on inputs that small, a figure or a ratio of two would read
// as an error ("-0.3 ms", "-287.50×").
constexpr double kLeastNetTime = 1e-3;
constexpr char kNotMeasurable[] = "—";
std::string NetMilliseconds(double seconds) {
  return seconds >= kLeastNetTime ? Milliseconds(seconds) : kNotMeasurable;
}

class Bench {
 public:
  explicit Bench(const FigureOptions& options)
      : options_(options),
        expected_(LoadExpected(options.folder + "/" + kExpectedName)),
        stream_(options.folder + "/" + kStreamName),
        self_(SelfPath()) {}

  void Measure() {
    if (!options_.convertOnly) {
      MeasureAnalyze();
      MeasureExtract();
      MeasureWav();
    }
    MeasureConvertWithFilms();
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

    Row row;
    row.figure = "start-up: each program on a stream of one chunk (morvane-cli analyze; the bare walks)";
    row.value = Milliseconds(startUp[kCli].Median());
    row.reference = "one `pread` per header: " + Milliseconds(startUp[kPread].Median()) +
                    "; sequential reads: " + Milliseconds(startUp[kSequential].Median());
    row.ratio = "—";
    row.target = "—";
    row.context = true;
    rows_.push_back(row);
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
    AddTimeRow("Analyze File of the dense stream in the window", window, "morvane-cli analyze, whole process",
               cliWhole, 1.2, true);
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
    AddDdRow(megabytes, dd, cp);
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
    AddTimeRow("Extract Chunks in the window", window, "morvane-cli extract", cli, 1.2, true);
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
    AddTimeRow(Format("SDX2 to WAV of a %.0f MB sound file (morvane-cli)", inputBytes / kMegabyte), cli,
               Format("`cp` of a %.0f MB file", static_cast<double>(expected_.wav.length) / kMegabyte), cp,
               3.0, true);
    AddDdRow(static_cast<double>(expected_.wav.length) / kMegabyte, dd, cp);
    AddTimeRow("SDX2 to WAV in the window", window, "morvane-cli wav", cli, 1.2, true);
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
    for (const ConvertTimings& t :
         MeasureConvert(options_.folder, options_.cli, self_, options_.runs, progress)) {
      Samples copy, dd, convert, noMovies, floor, peak;
      for (std::size_t i = 0; i < t.copy.size(); ++i) {
        copy.Add(t.copy[i]);
        dd.Add(t.dd[i]);
        convert.Add(t.convert[i]);
        noMovies.Add(t.noMovies[i]);
        floor.Add(t.floor[i]);
        peak.Add(t.peak[i]);
      }
      const std::string stream = Format("%.0f MB", static_cast<double>(t.shape.size) / kMegabyte) + ", " +
                                 t.shape.name + " (" + std::to_string(t.shape.films) + " film(s) of " +
                                 std::to_string(t.shape.frames) + " frames)";
      AddTimeRow("convert of a stream with films, " + stream + ": movies and WAVs (morvane-cli), " +
                     Format("%.0f MB", static_cast<double>(t.written) / kMegabyte) + " written",
                 convert, "`cp` of the same file", copy, 1.5, true);
      AddDdRow(static_cast<double>(t.shape.size) / kMegabyte, dd, copy);
      Row row;
      // convert writes more bytes than it reads: its floor is the reading
      // and writing of them, whatever is done between.
      row.figure = "bare floor: the stream read and the same " +
                   Format("%.0f MB", static_cast<double>(t.written) / kMegabyte) +
                   " written into as many files, through user memory (bare-convert-floor)";
      row.value = Seconds(floor.Median());
      row.reference = "convert: " + Seconds(convert.Median());
      row.ratio = Format("convert %.2f× floor", convert.Median() / floor.Median());
      row.target = "—";
      row.context = true;
      rows_.push_back(row);
      row.figure = "the same convert with --no-movies: WAVs only";
      row.value = Seconds(noMovies.Median());
      row.reference = "with movies: " + Seconds(convert.Median());
      row.ratio = Format("%.2f×", noMovies.Median() / convert.Median());
      row.target = "—";
      row.context = true;
      rows_.push_back(row);
      row.figure = "peak memory of that convert with movies (morvane-cli, max RSS, worst run)";
      row.value = Format("%.1f MB", peak.Worst() / kMegabyte);
      row.reference = Format("stream %.0f MB", static_cast<double>(t.shape.size) / kMegabyte);
      row.ratio = "—";
      row.target = "< 64 MB";
      row.met = peak.Worst() < 64 * kMegabyte;
      row.context = false;
      rows_.push_back(row);
    }
  }

  void AddTimeRow(const std::string& figure, const Samples& value, const std::string& reference,
                  const Samples& base, double limit, bool atMost) {
    Row row;
    row.figure = figure;
    row.value = Seconds(value.Median());
    row.reference = reference + ": " + Seconds(base.Median());
    const double ratio = value.Median() / base.Median();
    row.ratio = Format("%.2f×", ratio);
    row.target = (atMost ? "≤ " : "≥ ") + Format("%.2g×", limit);
    row.met = atMost ? ratio <= limit : ratio >= limit;
    rows_.push_back(row);
  }

  // `cp` copies inside the kernel; a program that holds the bytes in its own
  // memory pays for read and write calls and their copies, as `dd` does.
  static std::vector<std::string> DdCopy(const std::string& from, const std::string& to) {
    return {"dd", "if=" + from, "of=" + to, "bs=2M", "status=none"};
  }

  void AddDdRow(double megabytes, const Samples& dd, const Samples& cp) {
    Row row;
    row.figure =
        "`dd` of the same " + Format("%.0f MB", megabytes) + " file in 2 MB blocks, through user memory";
    row.value = Seconds(dd.Median());
    row.reference = "`cp`: " + Seconds(cp.Median());
    row.ratio = Format("%.2f×", dd.Median() / cp.Median());
    row.target = "—";
    row.context = true;
    rows_.push_back(row);
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

std::string MachineLine() {
  std::string cpu = "unknown processor";
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("model name", 0) == 0) {
      cpu = line.substr(line.find(':') + 2);
      break;
    }
  }
  std::string debian = ReadText("/etc/debian_version");
  while (!debian.empty() && (debian.back() == '\n' || debian.back() == ' ')) debian.pop_back();
  struct utsname names {};
  ::uname(&names);
  return cpu + ", " + std::to_string(::sysconf(_SC_NPROCESSORS_ONLN)) + " cores, Debian " + debian +
         ", Linux " + names.release;
}

std::string LoadAverage() {
  std::string text = ReadText("/proc/loadavg");
  return text.substr(0, text.find(' '));
}

// What a busy machine does to the figures, when it was busy.
std::string LoadNote(const std::string& before, const std::string& after) {
  const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (std::max(std::stod(before), std::stod(after)) <= static_cast<double>(cores)) return "";
  return "\nThe machine was busy during this run (load average " + before + " before, " + after +
         " after, on " + std::to_string(cores) +
         " cores): programs that need the processor for long, the conversion above all, and the window's "
         "gaps come out slower than on an idle machine. The Analyze File ratios compare programs run side by "
         "side under the same load.\n";
}

std::string Today() {
  const std::time_t now = std::time(nullptr);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d", std::localtime(&now));
  return text;
}

std::string Table(const std::vector<Row>& rows, bool judged) {
  std::string table =
      "| Figure | Median | Reference, median in the same run | Ratio | Target | Result |\n"
      "|---|---|---|---|---|---|\n";
  for (const Row& row : rows) {
    table += "| " + row.figure + " | " + row.value + " | " + row.reference + " | " + row.ratio + " | " +
             row.target + " | " +
             (row.context       ? "context"
              : !judged         ? "not judged (small input)"
              : !row.measurable ? "too small to measure"
              : row.met         ? "met"
                                : "**short**") +
             " |\n";
  }
  return table;
}

std::string ShapeLine(const WalkShape& shape) {
  return "the " + shape.name + " one (" + Format("%.0f MB", static_cast<double>(shape.size) / kMegabyte) +
         " in " + std::to_string(shape.chunks) + " chunks)";
}

// Replaces the measured section of the file (from its heading to the next
// heading of its level, or the end), or adds it at the end of a file that
// has none; a missing file gets a title and the section.
void WriteDoc(const std::string& path, const std::string& table, const std::string& notes,
              const Expected& inputs, int runs, const std::string& load) {
  const std::string heading = "## Measured\n";
  std::ostringstream out;
  out << heading << "\n"
      << "Measured with `bench/run` on " << Today() << ", machine: " << MachineLine() << " (" << load
      << ").\n\n"
      << "The inputs are made by the benchmark with the program's own SDX2 encoder. Analyze File is measured "
         "on "
         "three streams: ";
  for (std::size_t s = 1; s < inputs.shapes.size(); ++s)
    out << ShapeLine(inputs.shapes[s]) << (s + 1 < inputs.shapes.size() ? ", " : "");
  out << " (dense: 4 KB of sound data a chunk and, about as often, an 8 KB \"FILM\" chunk holding a frame "
         "of a film, in 14 KB blocks opened by \"CTRL\" and padded by \"FILL\"; sparse: 32 KB of sound "
         "data a chunk and, about as often, a 250 KB \"FILM\" chunk; mixed: 10 MB stretches of each in "
         "turn). Extract Chunks and SDX2 to WAV are measured on a stream of "
      << Format("%.0f MB", static_cast<double>(inputs.streamSize) / kMegabyte) << " in " << inputs.chunks
      << " chunks (" << inputs.snds << " \"SNDS\" chunks, " << inputs.shdr
      << " of them sound headers, with 8 KB of sound data each between \"CTRL\" and \"FILL\" chunks, and "
         "beside the first sound stream 16,000-byte \"FILM\" chunks of a film's frames), "
      << "and the " << inputs.sounds.size()
      << " sound files it yields; the WAV figures convert sound file 0 ("
      << Format("%.0f MB", static_cast<double>(inputs.sounds[0].length) / kMegabyte) << "). "
      << "convert with films is measured on two streams of about 200 MB made by the test helpers "
         "(`tests/support/film_stream.h`): one film of 12 KB frames at 15 frames a second, and two films "
         "at once of 2 KB frames, each beside a 22050 Hz SDX2 stereo stream whose data chunk comes before "
         "each frame; each movie is read back once and checked for its frames and tracks, and the WAVs "
         "must be the same bytes with and without movies. "
      << "Every figure was measured " << runs
      << " times, each time beside its reference, and every output (map, summary, chunk count of each walk, "
         "sound files, WAV) was checked against what the stream must give each time.\n\n"
      << table << notes << "\nRegenerate with `bench/run --doc "
      << std::filesystem::path(path).filename().string() << "`, which replaces this section.\n";
  std::string text = ReadText(path);
  std::size_t begin = text.rfind(heading, 0) == 0 ? 0 : text.find("\n" + heading);
  if (text.empty()) {
    text = "# Performance\n\n" + out.str();
  } else if (begin == std::string::npos) {
    text += (text.back() == '\n' ? "\n" : "\n\n") + out.str();
  } else {
    if (begin != 0) ++begin;
    std::size_t end = text.find("\n## ", begin + heading.size());
    end = end == std::string::npos ? text.size() : end + 1;
    text.replace(begin, end - begin, out.str() + (end < text.size() ? "\n" : ""));
  }
  std::ofstream(path, std::ios::trunc) << text;
}

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
