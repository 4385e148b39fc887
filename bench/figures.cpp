#include "figures.h"

#include <fcntl.h>
#include <sys/mman.h>
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
  bool context = false;  // shown to explain the others, not judged
};

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Seconds(double seconds) { return Format("%.3f s", seconds); }

// The big-endian size in the second half of an 8-byte chunk header.
std::uint32_t ChunkSize(const unsigned char* header) {
  return (std::uint32_t{header[4]} << 24) | (std::uint32_t{header[5]} << 16) |
         (std::uint32_t{header[6]} << 8) | header[7];
}

// The least any walk that reads each chunk header with its own read call
// can cost here: one 8-byte pread per chunk and nothing else. Gives seconds.
double BareWalkSeconds(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  const auto start = std::chrono::steady_clock::now();
  unsigned char header[8];
  for (off_t at = 0; ::pread(fd, header, sizeof header, at) == sizeof header;) {
    const std::uint32_t size = ChunkSize(header);
    if (size < 1 || size > 0x7FFFFFFF) break;
    at += size;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::close(fd);
  return seconds;
}

// The same walk over a mapping of the file: each header is read where it
// lies, the kernel mapping the pages the walk touches. Gives seconds, the
// mapping and its removal included.
double MappedWalkSeconds(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  struct stat info {};
  ::fstat(fd, &info);
  const auto length = static_cast<std::size_t>(info.st_size);
  const auto start = std::chrono::steady_clock::now();
  void* mapping = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
  if (mapping == MAP_FAILED) throw std::runtime_error("cannot map " + path);
  const auto* bytes = static_cast<const unsigned char*>(mapping);
  std::size_t chunks = 0;
  for (std::size_t at = 0; at + 8 <= length; ++chunks) {
    const unsigned char* header = bytes + at;
    const std::uint32_t size = ChunkSize(header);
    if (size < 1 || size > 0x7FFFFFFF) break;
    at += size;
  }
  ::munmap(mapping, length);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::close(fd);
  if (chunks == 0) throw std::runtime_error("the mapped walk found no chunk");
  return seconds;
}

class Bench {
 public:
  explicit Bench(const FigureOptions& options)
      : options_(options),
        expected_(LoadExpected(options.folder + "/" + kExpectedName)),
        stream_(options.folder + "/" + kStreamName),
        self_(SelfPath()) {}

  void Measure() {
    MeasureAnalyze();
    MeasureExtract();
    MeasureWav();
  }
  const std::vector<Row>& Rows() const { return rows_; }
  // What the figures themselves say about a target out of reach.
  const std::vector<std::string>& Notes() const { return notes_; }
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

  void CheckMap(const std::string& who) const {
    CheckFile(stream_ + ".MAP", expected_.map, who + ": the map");
  }

  void CheckSummary() const {
    const auto line = [](const char* text, std::int64_t count) {
      return std::string(text) + std::to_string(count % 65536) + "\n";
    };
    const std::string summary =
        std::string("Summary Info:\n") + line("SNDS chunks founded:", expected_.snds) +
        line("SHDR sub-chunks founded:", expected_.shdr) + line("SSMP sub-chunks founded:", expected_.ssmp) +
        line("SSND chunks founded:", expected_.ssnd);
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

  // Analyze File: the CLI beside `cat FILE > /dev/null`, the window beside the CLI.
  void MeasureAnalyze() {
    Samples cat, bare, mapped, cli, window, gap, stall;
    Run({"cat", stream_}, "cat");  // the page cache is warm from here on
    for (int i = 0; i <= options_.runs; ++i) {
      const bool timed = i > 0;
      Progress(std::string("Analyze File, ") + (timed ? "run " + std::to_string(i) : "warm-up"));
      const ProcessRun catRun = RunProcess({"cat", stream_}, "", "");
      if (catRun.exitCode != 0) throw WrongOutput("cat failed");
      // Every output is a new file, for the reference as for the passes.
      ::unlink((stream_ + ".MAP").c_str());
      const ProcessRun cliRun = Run({options_.cli, "analyze", stream_}, "morvane-cli analyze");
      CheckSummary();
      CheckMap("morvane-cli analyze");
      ::unlink((stream_ + ".MAP").c_str());
      const WindowRun windowRun = RunWindow("analyze", stream_);
      CheckMap("the window's Analyze File");
      if (!timed) continue;
      cat.Add(catRun.seconds);
      bare.Add(BareWalkSeconds(stream_));
      mapped.Add(MappedWalkSeconds(stream_));
      cli.Add(cliRun.seconds);
      window.Add(windowRun.seconds);
      gap.Add(windowRun.pumpGap);
      stall.Add(windowRun.stall);
    }
    const double megabytes = static_cast<double>(expected_.streamSize) / kMegabyte;
    AddTimeRow(Format("Analyze File of the %.0f MB stream (morvane-cli)", megabytes), cli,
               "`cat` of the file to /dev/null", cat, 0.25, true);
    Row row;
    row.figure = "a bare walk: one 8-byte `pread` per chunk header, nothing else (in the benchmark itself)";
    row.value = Seconds(bare.Median());
    row.reference = "`cat`: " + Seconds(cat.Median());
    row.ratio = Format("%.2f×", bare.Median() / cat.Median());
    row.target = "—";
    row.context = true;
    rows_.push_back(row);
    row.figure = "the same bare walk over a mapping of the file (mapping and unmapping included)";
    row.value = Seconds(mapped.Median());
    row.ratio = Format("%.2f×", mapped.Median() / cat.Median());
    rows_.push_back(row);
    const double floor = std::min(bare.Median(), mapped.Median()) / cat.Median();
    if (cli.Median() / cat.Median() > 0.25 && floor > 0.25) {
      notes_.push_back(
          "Analyze File cannot reach 0.25× `cat` on this machine: a walk that does nothing but "
          "look at each chunk header already takes " +
          Format("%.2f×", floor) +
          " `cat`, whether it reads the header with one call or touches its page through a mapping, "
          "since the kernel's cost per header page outweighs copying the bodies in between.");
    }
    AddTimeRow("Analyze File in the window", window, "morvane-cli analyze", cli, 1.2, true);
    AddGapRows("Analyze File", gap, stall);
  }

  // Extract Chunks: the CLI's throughput beside `cp` of a file as large as
  // all the sound data.
  void MeasureExtract() {
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
  std::vector<std::string> notes_;
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
             (row.context ? "context"
              : !judged   ? "not judged (small input)"
              : row.met   ? "met"
                          : "**short**") +
             " |\n";
  }
  return table;
}

void WriteDoc(const std::string& path, const std::string& table, const std::string& notes,
              const Expected& inputs, int runs, const std::string& load) {
  std::ostringstream out;
  out << "## Performance\n\n"
      << "Measured with `bench/run` on " << Today() << ", machine: " << MachineLine() << " (" << load
      << ").\n\n"
      << "The inputs are made by the benchmark with the program's own SDX2 encoder: a stream of "
      << Format("%.0f MB", static_cast<double>(inputs.streamSize) / kMegabyte) << " in " << inputs.chunks
      << " chunks (" << inputs.snds << " \"SNDS\" chunks, " << inputs.shdr
      << " of them sound headers, with 8 KB of sound data each between \"FILM\", \"CTRL\" and \"FILL\" "
         "chunks), "
      << "and the " << inputs.sounds.size()
      << " sound files it yields; the WAV figures convert sound file 0 ("
      << Format("%.0f MB", static_cast<double>(inputs.sounds[0].length) / kMegabyte) << "). "
      << "Every figure was measured " << runs
      << " times, each time right after its reference, and every output was checked against what the "
         "stream must give each time. morvane-cli and the references are timed as whole processes, from the "
         "start to the end of their wait; the window (an offscreen `Form1` with its real gauge and pump, "
         "in a small driver process) is timed inside that process, from the click to the return of the "
         "handler. "
         "Peak memory is the maximum resident set of the morvane-cli process. The pump gap is "
         "`Form1::LongestPumpGapNs()`; the second responsiveness figure is measured from outside the window "
         "by a timer that is due at every look at the queue, from the click to the return; for both, the "
         "median of the runs' longest gaps is judged and the worst run shown beside it. The context rows are "
         "not targets: the bare walks are the least a walk that looks at every chunk header costs here, and "
         "`dd` what reading and writing the same bytes through a program's own memory costs, beside `cp`, "
         "which copies inside the kernel.\n\n"
      << table << notes << "\nRegenerate with `bench/run --doc "
      << std::filesystem::path(path).filename().string() << "`, which replaces this section.\n";
  // A file that has the section keeps everything around it; any other file
  // is the section alone.
  std::string text = ReadText(path);
  const std::string heading = "## Performance\n";
  std::size_t begin = text.rfind(heading, 0) == 0 ? 0 : text.find("\n" + heading);
  if (begin == std::string::npos) {
    text = out.str();
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
    const std::string load = "load average " + loadBefore + " before the run, " + LoadAverage() + " after it";
    const bool judged = !options.small;
    const std::string table = Table(bench.Rows(), judged);
    std::string notes;
    for (const std::string& note : bench.Notes()) notes += "\n" + note + "\n";
    std::printf("\n%s%s\nOn %s (%s).\n", table.c_str(), notes.c_str(), MachineLine().c_str(), load.c_str());
    if (judged) {
      std::vector<std::string> shortOnes;
      for (const Row& row : bench.Rows()) {
        if (!row.met && !row.context) shortOnes.push_back(row.figure);
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
