#include "commands/console_window.h"

#include <cstdio>
#include <utility>

namespace morvane {

namespace {

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

std::string ConsoleWindow::Label(ValueLabel label) const {
  const auto found = labels_.find(label);
  return found == labels_.end() ? "Unknown" : found->second;
}

std::string ConsoleWindow::InformationRows() const {
  std::string rows;
  for (const InformationRow& row : kInformationRows) {
    rows += row.caption;
    rows += ' ';
    rows += Label(row.value);
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
