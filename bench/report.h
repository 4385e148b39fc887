#pragma once

// The figures' table: samples, rows, their texts, and the Performance
// section they are written into.

#include <string>
#include <vector>

#include "bench_inputs.h"

namespace morvane::bench {

inline constexpr double kMegabyte = 1e6;

struct Samples {
  std::vector<double> values;
  void Add(double value) { values.push_back(value); }
  double Median() const;
  double Worst() const;
};

struct Row {
  std::string figure, value, reference, ratio, target;
  bool met = false;
  bool context = false;    // shown to explain the others, not judged
  bool measurable = true;  // the input was large enough to judge the figure
};

std::string Format(const char* format, double value);
std::string Seconds(double seconds);
std::string Milliseconds(double seconds);
// A whole process timed less its start-up resolves no time below a
// millisecond: on inputs that small, a figure or a ratio of two would read
// as an error ("-0.3 ms", "-287.50×"). NetMilliseconds gives "—" there.
inline constexpr double kLeastNetTime = 1e-3;
inline constexpr char kNotMeasurable[] = "—";
std::string NetMilliseconds(double seconds);

// A row shown to explain the others, not judged.
Row ContextRow(std::string figure, std::string value, std::string reference, std::string ratio);

// A time beside its reference, judged against limit times the reference
// (at most, or at least).
Row TimeRow(const std::string& figure, const Samples& value, const std::string& reference,
            const Samples& base, double limit, bool atMost);

// `cp` copies inside the kernel; a program that holds the bytes in its own
// memory pays for read and write calls and their copies, as `dd` does.
std::vector<std::string> DdCopy(const std::string& from, const std::string& to);
Row DdRow(double megabytes, const Samples& dd, const Samples& cp);

std::string MachineLine();
std::string LoadAverage();
// What a busy machine does to the figures, when it was busy; else "".
std::string LoadNote(const std::string& before, const std::string& after);
std::string Table(const std::vector<Row>& rows, bool judged);

// Replaces the measured section of the file at path (from its heading to
// the next heading of its level, or the end), or adds it at the end of a
// file that has none; a missing file gets a title and the section.
void WriteDoc(const std::string& path, const std::string& table, const std::string& notes,
              const Expected& inputs, int runs, const std::string& load);

}  // namespace morvane::bench
