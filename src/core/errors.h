#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <string>

namespace morvane {

// Codes of failed file operations. 2 to 5 come from the platform when a file
// cannot be opened; 100, 101 and 103 come from the file layer itself.
inline constexpr int kFileNotFound = 2;
inline constexpr int kInvalidFilename = 3;
inline constexpr int kTooManyOpenFiles = 4;
inline constexpr int kFileAccessDenied = 5;
inline constexpr int kReadBeyondEnd = 100;
inline constexpr int kDiskFull = 101;
inline constexpr int kFileNotOpen = 103;
// A move to a position before 0 or at 2^31 and beyond (the platform's EINVAL).
inline constexpr int kBadSeek = 22;
// Errors that carry a text of their own (gauge range, loading a sound file).
inline constexpr int kNoFileCode = 0;

// Why a file is refused before anything of it is read.
inline constexpr char kNotRegularFileText[] = "Not a regular file";
inline constexpr char kTooLargeText[] =
    "A file of 2 GiB or more is refused: the map's positions reach only below 2 GiB";

// The text of a failed file operation, by its code.
std::string ErrorText(int code);

// The code of a platform error number that stands for none of the codes
// above: the number itself, or moved up by 1000 when it would read as one of
// them (EIO is 5, EINTR 4, ESRCH 3 on POSIX).
int CodeOfOtherSystemError(int error);

// Maps a C library errno value onto the codes above, through the platform's
// error that stands for it. On POSIX, values that would collide with a code
// of the table (EIO is 5, EINTR 4, ESRCH 3) are moved up by 1000.
int CodeFromErrno(int errnoValue, const std::string& path = {});

// The one error type of the program: a text and a code. The file layer, the
// gauge and the passes raise it; the command handler catches it in one place.
class CommandError : public std::exception {
 public:
  explicit CommandError(int code) : code_(code), text_(ErrorText(code)) {}
  CommandError(int code, std::string text) : code_(code), text_(std::move(text)) {}
  // A failure the platform answered with its error number systemError (errno
  // on POSIX, GetLastError's on Windows), on the file at path. It is also
  // kept as this thread's last system failure (below).
  static CommandError FromSystem(int systemError, const std::string& path);

  int code() const noexcept { return code_; }
  const std::string& text() const noexcept { return text_; }
  const char* what() const noexcept override { return text_.c_str(); }
  // The platform's error number behind it, 0 when the failure is not the
  // platform's; and the file it concerns, when known.
  int systemError() const noexcept { return systemError_; }
  const std::string& path() const noexcept { return path_; }

 private:
  int code_;
  std::string text_;
  int systemError_ = 0;
  std::string path_;
};

// The last failure of the platform raised on this thread: a front end that
// shows an error's fixed text names the file and the system's cause after
// it. Taking it clears it.
struct SystemFailure {
  std::string path;
  int systemError = 0;
};
std::optional<SystemFailure> TakeLastSystemFailure();

// What happened, in the system's own words for a failure of the platform
// ("Permission denied") and in the error's text otherwise.
std::string ErrorCause(const CommandError& error);

// The text an error box shows: a full stop is added unless the text is empty
// or already ends in a character of code 46 (the full stop) or less.
std::string ErrorBoxText(const std::string& text);

// Runs a command's work and then its closing steps, which run however the
// work ends. Gives the text of the error that ended the work, if one did;
// anything thrown that is no std::exception goes on after the closing steps.
std::optional<std::string> RunCommandSteps(const std::function<void()>& work,
                                           const std::function<void()>& closing);

}  // namespace morvane
