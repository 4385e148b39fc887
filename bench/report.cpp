#include "report.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "processes.h"

namespace morvane::bench {

double Samples::Median() const {
  std::vector<double> sorted = values;
  std::sort(sorted.begin(), sorted.end());
  const std::size_t n = sorted.size();
  return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

double Samples::Worst() const { return *std::max_element(values.begin(), values.end()); }

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Seconds(double seconds) { return Format("%.3f s", seconds); }
std::string Milliseconds(double seconds) { return Format("%.1f ms", seconds * 1e3); }

std::string NetMilliseconds(double seconds) {
  return seconds >= kLeastNetTime ? Milliseconds(seconds) : kNotMeasurable;
}

Row TimeRow(const std::string& figure, const Samples& value, const std::string& reference,
            const Samples& base, double limit, bool atMost) {
  Row row;
  row.figure = figure;
  row.value = Seconds(value.Median());
  row.reference = reference + ": " + Seconds(base.Median());
  const double ratio = value.Median() / base.Median();
  row.ratio = Format("%.2f×", ratio);
  row.target = (atMost ? "≤ " : "≥ ") + Format("%.3g×", limit);
  row.met = atMost ? ratio <= limit : ratio >= limit;
  return row;
}

std::vector<std::string> DdCopy(const std::string& from, const std::string& to) {
  return {"dd", "if=" + from, "of=" + to, "bs=2M", "status=none"};
}

Row ContextRow(std::string figure, std::string value, std::string reference, std::string ratio) {
  Row row;
  row.figure = std::move(figure);
  row.value = std::move(value);
  row.reference = std::move(reference);
  row.ratio = std::move(ratio);
  row.target = "—";
  row.context = true;
  return row;
}

Row DdRow(double megabytes, const Samples& dd, const Samples& cp) {
  return ContextRow(
      "`dd` of the same " + Format("%.0f MB", megabytes) + " file in 2 MB blocks, through user memory",
      Seconds(dd.Median()), "`cp`: " + Seconds(cp.Median()), Format("%.2f×", dd.Median() / cp.Median()));
}

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

std::string LoadNote(const std::string& before, const std::string& after) {
  const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (std::max(std::stod(before), std::stod(after)) <= static_cast<double>(cores)) return "";
  return "\nThe machine was busy during this run (load average " + before + " before, " + after +
         " after, on " + std::to_string(cores) +
         " cores): programs that need the processor for long, the conversion above all, and the window's "
         "gaps come out slower than on an idle machine. The Analyze File ratios compare programs run side by "
         "side under the same load.\n";
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

namespace {

std::string Today() {
  const std::time_t now = std::time(nullptr);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d", std::localtime(&now));
  return text;
}

std::string ShapeLine(const WalkShape& shape) {
  return "the " + shape.name + " one (" + Format("%.0f MB", static_cast<double>(shape.size) / kMegabyte) +
         " in " + std::to_string(shape.chunks) + " chunks)";
}

}  // namespace

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

}  // namespace morvane::bench
