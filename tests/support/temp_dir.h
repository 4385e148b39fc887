#pragma once

#include <filesystem>
#include <string>

#include "core/platform.h"
#include "support/stream_builder.h"

namespace morvane::test {

// Paths as the file layer takes them, UTF-8 text, to and from the library's
// paths (whose narrow text is the ANSI code page on Windows).
inline std::filesystem::path PathOf(const std::string& utf8) { return platform::PathFromUtf8(utf8); }
inline std::string Utf8(const std::filesystem::path& path) { return platform::Utf8FromPath(path); }

// A fresh folder for one test, removed with it.
// Whether the tests run under Wine, whose folders of many files are slow:
// each new name is matched case-insensitively against the whole folder.
bool UnderWine();

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return Utf8(path_ / PathOf(name)); }
  // Writes the bytes to the named file and gives its full path.
  std::string Write(const std::string& name, const Bytes& bytes) const;

 private:
  std::filesystem::path path_;
};

Bytes ReadAll(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
bool Exists(const std::string& path);

}  // namespace morvane::test
