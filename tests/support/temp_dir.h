#pragma once

#include <filesystem>
#include <string>

#include "support/stream_builder.h"

namespace morvane::test {

// A fresh folder for one test, removed with it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  // Writes the bytes to the named file and gives its full path.
  std::string Write(const std::string& name, const Bytes& bytes) const;

 private:
  std::filesystem::path path_;
};

Bytes ReadAll(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
bool Exists(const std::string& path);

}  // namespace morvane::test
