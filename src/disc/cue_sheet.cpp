#include "disc/cue_sheet.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "core/platform.h"

namespace morvane {

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The words of a line; a word in double quotes keeps its blanks.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  for (std::size_t at = 0; at < line.size();) {
    if (std::isspace(static_cast<unsigned char>(line[at]))) {
      ++at;
    } else if (line[at] == '"') {
      const std::size_t end = line.find('"', at + 1);
      words.push_back(line.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1));
      at = end == std::string::npos ? line.size() : end + 1;
    } else {
      std::size_t end = at;
      while (end < line.size() && !std::isspace(static_cast<unsigned char>(line[end]))) ++end;
      words.push_back(line.substr(at, end - at));
      at = end;
    }
  }
  return words;
}

// mm:ss:ff in frames; nothing for any other text.
std::optional<std::int64_t> Frames(const std::string& text) {
  std::int64_t parts[3] = {0, 0, 0};
  int part = 0;
  bool digits = false;
  for (const char c : text) {
    if (c == ':' && digits && part < 2) {
      ++part;
      digits = false;
    } else if (c >= '0' && c <= '9' && parts[part] < 100000) {
      parts[part] = parts[part] * 10 + (c - '0');
      digits = true;
    } else {
      return std::nullopt;
    }
  }
  if (part != 2 || !digits || parts[1] >= 60 || parts[2] >= 75) return std::nullopt;
  return (parts[0] * 60 + parts[1]) * 75 + parts[2];
}

std::string Resolve(const std::string& name, const std::string& folder) {
  std::string relative = name;
  std::replace(relative.begin(), relative.end(), '\\', '/');
  const std::filesystem::path base = platform::PathFromUtf8(folder);
  const std::filesystem::path given = platform::PathFromUtf8(relative);
  const std::string beside = platform::Utf8FromPath(base / given.relative_path());
  std::int64_t size = 0;
  if (given.is_relative() && !given.empty() && platform::FileSizeByName(beside, size)) return beside;
  // A sheet written elsewhere names the file where it lay there.
  return platform::Utf8FromPath(base / given.filename());
}

}  // namespace

CueSheet ParseCueSheet(const std::string& text, const std::string& folder) {
  CueSheet sheet;
  std::size_t lineNumber = 0;
  // Sheets written on Windows often open with UTF-8's byte order mark.
  const std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (std::size_t at = start; at <= text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    ++lineNumber;
    const std::vector<std::string> words = Words(line);
    if (words.empty()) continue;
    const std::string keyword = Upper(words[0]);
    const auto problem = [&](const std::string& what) {
      sheet.problems.push_back("line " + std::to_string(lineNumber) + ": " + what);
    };
    if (keyword == "FILE") {
      if (words.size() < 2 || words[1].empty()) {
        problem("a FILE line without a name");
        continue;
      }
      sheet.files.push_back({Resolve(words[1], folder), words.size() > 2 ? Upper(words[2]) : "BINARY"});
    } else if (keyword == "TRACK") {
      if (sheet.files.empty()) {
        problem("a TRACK before any FILE");
        continue;
      }
      CueTrack track;
      track.number = words.size() > 1 ? std::atoi(words[1].c_str()) : 0;
      track.mode = words.size() > 2 ? Upper(words[2]) : "";
      track.file = sheet.files.size() - 1;
      sheet.tracks.push_back(track);
    } else if (keyword == "INDEX") {
      const std::optional<std::int64_t> frames = words.size() > 2 ? Frames(words[2]) : std::nullopt;
      if (sheet.tracks.empty() || !frames) {
        problem(sheet.tracks.empty() ? "an INDEX before any TRACK" : "an INDEX without a time mm:ss:ff");
        continue;
      }
      const int number = std::atoi(words[1].c_str());
      if (number == 0) sheet.tracks.back().index0 = frames;
      if (number == 1) sheet.tracks.back().index1 = frames;
    }
    // REM, TITLE, PERFORMER, FLAGS, PREGAP, ... say nothing of where bytes lie.
  }
  return sheet;
}

std::int64_t SectorSizeOfMode(const std::string& mode) {
  if (mode == "MODE1/2048") return 2048;
  if (mode == "MODE2/2336") return 2336;
  if (mode == "CDG") return 2448;
  return 2352;
}

bool IsCueSheetName(const std::string& path) {
  return path.size() > 4 && Upper(path.substr(path.size() - 4)) == ".CUE";
}

}  // namespace morvane
