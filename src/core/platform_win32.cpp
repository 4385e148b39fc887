// The platform layer on Windows: wide-character paths from UTF-8, and
// GetLastError's numbers mapped onto the window's codes.

#define _CRT_RAND_S  // rand_s, from the system's random source
#include <stdlib.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "core/errors.h"
#include "core/platform.h"

namespace morvane::platform {

namespace {

std::wstring Wide(const char* text, int length) {
  if (length == 0) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text, length, nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text, length, wide.data(), size);
  return wide;
}

std::wstring Wide(const std::string& text) { return Wide(text.data(), static_cast<int>(text.size())); }

// A path for the file functions: one of MAX_PATH characters or more is made
// whole and given the \\?\ prefix, which lifts that limit, so that a deep
// folder works as it does on Linux.
std::wstring WidePath(const char* text, int length) {
  std::wstring wide = Wide(text, length);
  if (wide.size() < MAX_PATH - 12 || wide.starts_with(L"\\\\?\\")) return wide;
  const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring full(size, L'\0');
  const DWORD written = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (written == 0 || written >= size) return wide;
  full.resize(written);
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::wstring WidePath(const std::string& path) {
  return WidePath(path.data(), static_cast<int>(path.size()));
}

// The length in UTF-16 units of the path's last name.
std::size_t LastNameLength(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"/\\");
  return separator == std::wstring::npos ? path.size() : path.size() - separator - 1;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int length = static_cast<int>(wide.size());
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string text(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, text.data(), size, nullptr, nullptr);
  return text;
}

HANDLE AsHandle(FileHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// ReadFile and WriteFile take 32-bit counts: larger transfers go in pieces.
constexpr std::size_t kLargestTransfer = std::size_t{1} << 30;

OVERLAPPED At(std::int64_t offset) {
  OVERLAPPED overlapped{};
  overlapped.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  overlapped.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return overlapped;
}

}  // namespace

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

OpenedFile OpenForReading(const std::string& path) {
  OpenedFile opened;
  const std::wstring wide = WidePath(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    opened.error = static_cast<int>(::GetLastError());
    return opened;
  }
  // A folder is refused as POSIX refuses it: access denied.
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    opened.error = ERROR_ACCESS_DENIED;
    return opened;
  }
  const HANDLE handle =
      ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    opened.error = static_cast<int>(::GetLastError());
    return opened;
  }
  // A console, a printer port, a pipe: no regular file.
  LARGE_INTEGER size{};
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    opened.notRegular = true;
    return opened;
  }
  if (!::GetFileSizeEx(handle, &size)) {
    opened.error = static_cast<int>(::GetLastError());
    ::CloseHandle(handle);
    return opened;
  }
  opened.handle = reinterpret_cast<FileHandle>(handle);
  opened.size = size.QuadPart;
  return opened;
}

int InspectTarget(const std::string& path, Target& target) {
  target = Target();
  const std::wstring wide = WidePath(path);
  // A name longer than a folder takes is refused here, as POSIX refuses it,
  // rather than at the rename after the whole file was written.
  if (LastNameLength(wide) > kLongestName) return ERROR_FILENAME_EXCED_RANGE;
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : static_cast<int>(error);
  }
  target.exists = true;
  // A symbolic link or a junction is replaced by the rename, never followed.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return 0;
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return ERROR_ACCESS_DENIED;
  return 0;
}

int CreateExclusive(const std::string& path, const Target&, FileHandle& handle) {
  // Sharing deletion lets an interrupt remove the temporary while it is open.
  const HANDLE created =
      ::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (created == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
  handle = reinterpret_cast<FileHandle>(created);
  return 0;
}

bool IsAlreadyExists(int error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

std::int64_t ReadAt(FileHandle handle, void* destination, std::size_t count, std::int64_t offset,
                    int& error) {
  auto* out = static_cast<unsigned char*>(destination);
  std::int64_t total = 0;
  while (count > 0) {
    const DWORD piece = static_cast<DWORD>(std::min(count, kLargestTransfer));
    OVERLAPPED overlapped = At(offset + total);
    DWORD got = 0;
    if (!::ReadFile(AsHandle(handle), out, piece, &got, &overlapped)) {
      const DWORD failure = ::GetLastError();
      if (failure == ERROR_HANDLE_EOF) break;
      if (total > 0) break;  // what was read is given first, as pread gives it
      error = static_cast<int>(failure);
      return -1;
    }
    total += got;
    out += got;
    count -= got;
    if (got < piece) break;
  }
  return total;
}

std::int64_t WriteAt(FileHandle handle, const void* source, std::size_t count, std::int64_t offset,
                     int& error) {
  const auto* in = static_cast<const unsigned char*>(source);
  std::int64_t total = 0;
  while (count > 0) {
    const DWORD piece = static_cast<DWORD>(std::min(count, kLargestTransfer));
    OVERLAPPED overlapped = At(offset + total);
    DWORD put = 0;
    if (!::WriteFile(AsHandle(handle), in, piece, &put, &overlapped)) {
      if (total > 0) break;
      error = static_cast<int>(::GetLastError());
      return -1;
    }
    total += put;
    in += put;
    count -= put;
    if (put < piece) break;
  }
  return total;
}

int DiskFullError() { return ERROR_DISK_FULL; }

std::int64_t SizeOf(FileHandle handle) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(AsHandle(handle), &size)) return -1;
  return size.QuadPart;
}

int SyncData(FileHandle handle) {
  return ::FlushFileBuffers(AsHandle(handle)) ? 0 : static_cast<int>(::GetLastError());
}

int Close(FileHandle handle) {
  return ::CloseHandle(AsHandle(handle)) ? 0 : static_cast<int>(::GetLastError());
}

int Rename(const std::string& from, const std::string& to) {
  if (::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
  return static_cast<int>(::GetLastError());
}

void Remove(const char* path) noexcept {
  try {
    ::DeleteFileW(WidePath(path, static_cast<int>(std::char_traits<char>::length(path))).c_str());
  } catch (...) {
  }
}

bool FileSizeByName(const std::string& path, std::int64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path.empty() || !::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data))
    return false;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  size =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  return true;
}

void RandomBytes(unsigned char* bytes, std::size_t count) {
  static unsigned int fallback = ::GetCurrentProcessId() * 2654435761u;
  for (std::size_t i = 0; i < count; ++i) {
    unsigned int value = 0;
    if (::rand_s(&value) != 0) value = (fallback += 2654435761u) >> 24;
    bytes[i] = static_cast<unsigned char>(value);
  }
}

int CodeFromSystemError(int error, const std::string&) {
  // Windows' own numbers for the first four are those of the table.
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_DRIVE:
    case ERROR_DIRECTORY:
      return kInvalidFilename;
    case ERROR_TOO_MANY_OPEN_FILES:
      return kTooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return kFileAccessDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return kDiskFull;
    case ERROR_INVALID_HANDLE:
      return kFileNotOpen;
    default:
      return CodeOfOtherSystemError(error);
  }
}

std::string SystemErrorText(int error) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
  if (buffer != nullptr) ::LocalFree(buffer);
  // "Access is denied.\r\n" reads as strerror's "Permission denied".
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
    text.pop_back();
  if (!text.empty() && text.back() == L'.') text.pop_back();
  if (text.empty()) return "Windows error " + std::to_string(error);
  return Narrow(text);
}

int SystemErrorFromErrno(int errnoValue) {
  switch (errnoValue) {
    case 0:
      return 0;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EISDIR:
    case ETXTBSY:
      return ERROR_ACCESS_DENIED;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case ENOSPC:
    case EFBIG:
      return ERROR_DISK_FULL;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case EIO:
      return ERROR_IO_DEVICE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_GEN_FAILURE;
  }
}

namespace {
void (*interruptCleanup)() noexcept = nullptr;

// Runs on a thread of its own, which the system starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (interruptCleanup != nullptr) interruptCleanup();
  // 128 plus SIGINT's number for Ctrl+C, plus SIGTERM's for the others.
  ::ExitProcess(event == CTRL_C_EVENT ? 130 : 143);
}
}  // namespace

void OnInterrupt(void (*cleanup)() noexcept) {
  interruptCleanup = cleanup;
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

namespace {
HANDLE endEvent = nullptr;
std::atomic<int> endSignal{0};
void (*endCleanup)() noexcept = nullptr;

// Runs on a thread of its own, which the system starts for the event.
BOOL WINAPI OnConsoleEnd(DWORD event) {
  const int signalNumber = event == CTRL_C_EVENT ? 2 : 15;  // SIGINT, SIGTERM
  int none = 0;
  const bool first = endSignal.compare_exchange_strong(none, signalNumber);
  // The console's closing, logging off and shutdown end the process as soon
  // as this returns: there is no time for the loop.
  const bool waits = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  if (!first || !waits) {
    if (endCleanup != nullptr) endCleanup();
    ::ExitProcess(static_cast<UINT>(128 + signalNumber));
  }
  ::SetEvent(endEvent);
  return TRUE;
}
}  // namespace

FileHandle WatchEndRequests(void (*cleanup)() noexcept) {
  endCleanup = cleanup;
  if (endEvent == nullptr) endEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (endEvent == nullptr) return kNoFile;
  ::SetConsoleCtrlHandler(OnConsoleEnd, TRUE);
  return reinterpret_cast<FileHandle>(endEvent);
}

void StartWithEndSignalsHeld(const std::function<void()>& start) { start(); }

int TakeEndRequest() {
  if (endEvent != nullptr) ::ResetEvent(endEvent);
  return endSignal.load();
}

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::size_t TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

std::size_t PageSize() {
  SYSTEM_INFO info{};
  ::GetSystemInfo(&info);
  return info.dwPageSize;
}

void AdviseLargePages(void*, std::size_t) {}

bool PrepareForWriting(void*, std::size_t) { return false; }

std::string NameKey(const std::string& path) {
  std::wstring wide = Wide(path);
  if (!wide.empty()) ::CharLowerBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return Narrow(wide);
}

std::filesystem::path PathFromUtf8(const std::string& text) { return std::filesystem::path(Wide(text)); }

std::string Utf8FromPath(const std::filesystem::path& path) { return Narrow(path.native()); }

}  // namespace morvane::platform
