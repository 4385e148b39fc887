#include "cli/console_window.h"

#include <cstdio>
#include <utility>

namespace morvane {

namespace {

// Caption and value label of each information row, in window order.
struct InformationRow {
  const char* caption;
  ValueLabel value;
};
constexpr InformationRow kInformationRows[] = {
    {"Video Format:", ValueLabel::Label26},
    {"Audio Format:", ValueLabel::Label13},
    {"Compression Type:", ValueLabel::Label14},
    {"Frequency:", ValueLabel::Label15},
    {"Version:", ValueLabel::Label16},
    {"Number Of Buffers:", ValueLabel::Label17},
    {"Initial Amplitude:", ValueLabel::Label18},
    {"Initial Balance:", ValueLabel::Label19},
    {"Data Format:", ValueLabel::Label20},
    {"Sample Size:", ValueLabel::Label21},
    {"Number Of Samples:", ValueLabel::Label22},
    {"Number Of Channels:", ValueLabel::Label23},
    {"Compression Ratio:", ValueLabel::Label24},
    {"Time:", ValueLabel::Label28},
    {"Stream:", ValueLabel::Label30},
};

constexpr char kLineBreak[] = "\r\n";

}  // namespace

ConsoleWindow::ConsoleWindow(std::function<void(const std::string&)> noticeSink)
    : noticeSink_(std::move(noticeSink)) {
  if (!noticeSink_) {
    noticeSink_ = [](const std::string& text) {
      std::fwrite(text.data(), 1, text.size(), stderr);
      std::fputc('\n', stderr);
      std::fflush(stderr);
    };
  }
}

void ConsoleWindow::NotifyUser(const std::string& text) { noticeSink_(text); }

std::string ConsoleWindow::InformationRows() const {
  std::string rows;
  for (const InformationRow& row : kInformationRows) {
    const auto label = labels_.find(row.value);
    rows += row.caption;
    rows += ' ';
    rows += label == labels_.end() ? "Unknown" : label->second;
    rows += '\n';
  }
  return rows;
}

std::string PrintedLines(const std::string& memoText) {
  std::string printed;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = memoText.find(kLineBreak, start);
    printed.append(memoText, start, end == std::string::npos ? std::string::npos : end - start);
    printed += '\n';
    if (end == std::string::npos) return printed;
    start = end + 2;
  }
}

std::string AppendedLines(const std::string& before, const std::string& after) {
  if (after.size() >= before.size() + 2 && after.compare(0, before.size(), before) == 0 &&
      after.compare(before.size(), 2, kLineBreak) == 0) {
    return PrintedLines(after.substr(before.size() + 2));
  }
  if (after == before) return {};
  return PrintedLines(after);
}

}  // namespace morvane
