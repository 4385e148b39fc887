#include "core/errors.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <utility>

namespace morvane {

std::string ErrorText(int code) {
  switch (code) {
    case kFileNotFound:
      return "File not found";
    case kInvalidFilename:
      return "Invalid filename";
    case kTooManyOpenFiles:
      return "Too many open files";
    case kFileAccessDenied:
      return "File access denied";
    case kReadBeyondEnd:
      return "Read beyond end of file";
    case kDiskFull:
      return "Disk full";
    default:
      return "I/O error " + std::to_string(code);
  }
}

int CodeFromErrno(int errnoValue, const std::string& path) {
  switch (errnoValue) {
    case ENOENT: {
      // A missing folder is an invalid name; a missing file in an existing
      // folder is not found.
      std::error_code ec;
      const auto parent = std::filesystem::path(path).parent_path();
      if (!path.empty() && !parent.empty() && !std::filesystem::is_directory(parent, ec)) {
        return kInvalidFilename;
      }
      return kFileNotFound;
    }
    case ENOTDIR:
    case ENAMETOOLONG:
      return kInvalidFilename;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return kFileAccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kDiskFull;
    case EBADF:
      return kFileNotOpen;
    default:
      break;
  }
  switch (errnoValue) {
    case kFileNotFound:
    case kInvalidFilename:
    case kTooManyOpenFiles:
    case kFileAccessDenied:
    case kReadBeyondEnd:
    case kDiskFull:
    case kFileNotOpen:
      return errnoValue + 1000;
    default:
      return errnoValue;
  }
}

namespace {
thread_local std::optional<SystemFailure> lastSystemFailure;
}  // namespace

CommandError CommandError::FromSystem(int errnoValue, const std::string& path) {
  CommandError error(CodeFromErrno(errnoValue, path));
  error.systemError_ = errnoValue;
  error.path_ = path;
  lastSystemFailure = SystemFailure{path, errnoValue};
  return error;
}

std::optional<SystemFailure> TakeLastSystemFailure() {
  return std::exchange(lastSystemFailure, std::nullopt);
}

std::string ErrorCause(const CommandError& error) {
  if (error.systemError() != 0) return std::strerror(error.systemError());
  return error.text();
}

std::string ErrorBoxText(const std::string& text) {
  if (text.empty() || static_cast<unsigned char>(text.back()) <= 46) return text;
  return text + ".";
}

std::optional<std::string> RunCommandSteps(const std::function<void()>& work,
                                           const std::function<void()>& closing) {
  std::optional<std::string> error;
  try {
    work();
  } catch (const CommandError& failure) {
    error = failure.text();
  } catch (const std::bad_alloc&) {
    error = "Out of memory";
  } catch (const std::exception& failure) {
    error = failure.what();
  }
  closing();
  return error;
}

}  // namespace morvane
