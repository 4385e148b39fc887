// The platform layer's folder calls on systems with a file system of their
// own (POSIX and Windows), through std::filesystem.

#include <system_error>

#include "core/platform.h"

namespace morvane::platform {

std::string ResolvedPath(const std::string& path) {
  std::error_code ignored;
  std::string resolved = Utf8FromPath(std::filesystem::weakly_canonical(PathFromUtf8(path), ignored));
  return resolved.empty() ? path : resolved;
}

std::string MakeFolders(const std::string& path) {
  std::error_code error;
  const std::filesystem::path folder = PathFromUtf8(path);
  std::filesystem::create_directories(folder, error);
  if (error) return error.message();
  if (!std::filesystem::is_directory(folder)) return "not a folder";
  return {};
}

}  // namespace morvane::platform
