#include "core/errors.h"

#include <new>
#include <utility>

#include "core/platform.h"

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

int CodeOfOtherSystemError(int error) {
  switch (error) {
    case kFileNotFound:
    case kInvalidFilename:
    case kTooManyOpenFiles:
    case kFileAccessDenied:
    case kReadBeyondEnd:
    case kDiskFull:
    case kFileNotOpen:
      return error + 1000;
    default:
      return error;
  }
}

int CodeFromErrno(int errnoValue, const std::string& path) {
  return platform::CodeFromSystemError(platform::SystemErrorFromErrno(errnoValue), path);
}

namespace {
thread_local std::optional<SystemFailure> lastSystemFailure;
}  // namespace

CommandError CommandError::FromSystem(int systemError, const std::string& path) {
  CommandError error(platform::CodeFromSystemError(systemError, path));
  error.systemError_ = systemError;
  error.path_ = path;
  lastSystemFailure = SystemFailure{path, systemError};
  return error;
}

std::optional<SystemFailure> TakeLastSystemFailure() {
  return std::exchange(lastSystemFailure, std::nullopt);
}

std::string ErrorCause(const CommandError& error) {
  if (error.systemError() != 0) return platform::SystemErrorText(error.systemError());
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
  } catch (...) {
    // What is no error of the command (the window's end) passes on, after
    // the closing steps.
    closing();
    throw;
  }
  closing();
  return error;
}

}  // namespace morvane
