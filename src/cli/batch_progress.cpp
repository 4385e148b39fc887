#include "cli/batch_progress.h"

#include <algorithm>

#include "core/platform.h"

namespace morvane {

namespace {

constexpr std::size_t kBarWidth = 24;
constexpr std::size_t kDefaultColumns = 80;

std::size_t TerminalColumns() {
  const std::size_t columns = platform::TerminalColumns();
  return columns > 0 ? columns : kDefaultColumns;
}

// The length in bytes of the longest start of UTF-8 text that holds at most
// `columns` characters, none of them cut.
std::size_t FittingPrefix(const std::string& text, std::size_t columns) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    // Continuation bytes (10xxxxxx) belong to the character before them.
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && characters++ == columns) return i;
  }
  return text.size();
}

void Put(std::FILE* stream, const std::string& text) { std::fwrite(text.data(), 1, text.size(), stream); }

}  // namespace

BatchProgress::BatchProgress(std::size_t files, bool shown) : shown_(shown && files > 0), files_(files) {}

BatchProgress::~BatchProgress() { Erase(); }

void BatchProgress::Show(std::size_t done, std::int64_t share, const std::string& step) {
  done_ = std::min(done, files_);
  share_ = std::clamp<std::int64_t>(share, 0, kRange);
  step_ = step;
  Draw();
}

void BatchProgress::PrintLine(std::FILE* stream, const std::string& line, char end) {
  Erase();
  Put(stream, line);
  std::fputc(end, stream);
  std::fflush(stream);
  Draw();
}

void BatchProgress::Finish() {
  if (!shown_) return;
  done_ = files_;
  share_ = kRange;
  step_ = "done";
  Draw();
  std::fputc('\n', stderr);
  std::fflush(stderr);
  drawn_ = false;
  finished_ = true;
}

void BatchProgress::Draw() {
  if (!shown_ || finished_) return;
  const auto filled = static_cast<std::size_t>(static_cast<std::int64_t>(kBarWidth) * share_ / kRange);
  std::string line = "\r[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] " +
                     std::to_string(done_) + "/" + std::to_string(files_) + " " + step_;
  // A line that wraps could not be drawn over again. The terminal counts
  // characters, not bytes: the line is cut after the last whole character
  // that fits (the carriage return takes no column).
  line.resize(FittingPrefix(line, TerminalColumns() + 1));
  Put(stderr, line + "\033[K");
  std::fflush(stderr);
  drawn_ = true;
}

void BatchProgress::Erase() {
  if (!drawn_) return;
  Put(stderr, "\r\033[K");
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace morvane
