#pragma once

// The few calls the core makes to the operating system, behind one small
// interface: a POSIX implementation (platform_posix.cpp), a Win32 one
// (platform_win32.cpp) and the browser's (platform_web.cpp), where the files
// read are the ones the user dropped and the files written live in the
// page's private storage. Paths are UTF-8 text on every platform (on Linux any
// bytes, passed through unchanged). A failure is the platform's own error
// number: errno on POSIX, GetLastError's value on Windows.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace morvane::platform {

// An open file: a descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// Bytes of the longest path the live-temporary registry keeps.
inline constexpr std::size_t kLongestPath = 4096;
// Bytes of the longest name (without its folder) a folder takes.
inline constexpr std::size_t kLongestName = 255;

// Whether c separates the folders of a path.
bool IsSeparator(char c);

// Opening a file for reading: only a regular file is opened, and the opening
// never waits (for a FIFO's writer, a device...). `error` is the platform's
// number of a failure (a folder gives the code of access denied);
// `notRegular` is set for anything else that is no regular file.
struct OpenedFile {
  FileHandle handle = kNoFile;
  std::int64_t size = 0;
  int error = 0;
  bool notRegular = false;
};
OpenedFile OpenForReading(const std::string& path);

// What stands at the name a new file is to take. A folder, or a file its
// owner keeps from being written, gives the error a creation over it would;
// a link (a reparse point on Windows) counts as something to replace, never
// to follow.
struct Target {
  bool exists = false;
  // The permissions a new file takes over from the file it replaces (POSIX).
  bool keepsPermissions = false;
  unsigned permissions = 0;
};
int InspectTarget(const std::string& path, Target& target);

// Creates a new file for writing at path, failing with AlreadyExists() when
// anything (a link too) stands there; it then takes the permissions of the
// target it replaces.
int CreateExclusive(const std::string& path, const Target& replacing, FileHandle& handle);
bool IsAlreadyExists(int error);

// Reads up to count bytes at offset: the bytes read (0 at the end of the
// file), or -1 with the error in `error`.
std::int64_t ReadAt(FileHandle handle, void* destination, std::size_t count, std::int64_t offset, int& error);
// Writes up to count bytes at offset: the bytes written, or -1 with `error`.
std::int64_t WriteAt(FileHandle handle, const void* source, std::size_t count, std::int64_t offset,
                     int& error);
// The platform's error of a write that stored nothing.
int DiskFullError();
// The size of an open file, -1 when it cannot be had.
std::int64_t SizeOf(FileHandle handle);
// Puts the written bytes on the disk; 0, or the error.
int SyncData(FileHandle handle);
// 0, or the error of a close that failed (the handle is gone either way).
int Close(FileHandle handle);
// Renames from onto to, replacing what stands there; 0, or the error.
int Rename(const std::string& from, const std::string& to);
// Removes the file; on POSIX it is safe in a signal handler.
void Remove(const char* path) noexcept;
// The size of a file by its name, without opening it: false when it is
// missing or a folder.
bool FileSizeByName(const std::string& path, std::int64_t& size);

// Fills the bytes with random values for a temporary's name.
void RandomBytes(unsigned char* bytes, std::size_t count);

// The code of the window's error table for a platform error on the file at
// path; the mapping of each platform is in its own file.
int CodeFromSystemError(int error, const std::string& path);
// The system's own words for the error ("Permission denied").
std::string SystemErrorText(int error);
// The platform's error that stands for a C library errno value (for the
// file layer's test switch, which is given errno values).
int SystemErrorFromErrno(int errnoValue);

// On an interrupt (SIGINT, SIGTERM or SIGHUP; Ctrl+C, Ctrl+Break or the
// console's closing on Windows) runs cleanup and ends the program with 128
// plus the signal's number (130 for an interrupt, 143 for SIGTERM and the
// console's others, 129 for a closed terminal).
void OnInterrupt(void (*cleanup)() noexcept);

// For a program with an event loop (the window): SIGINT, SIGTERM and SIGHUP
// (Ctrl+C and Ctrl+Break of a console on Windows) are noted instead of
// ending the program, so that the loop can end the work in hand where the
// files are in a known state. Gives what the loop watches: a descriptor
// that becomes readable (POSIX) or an event that is set (Windows); kNoFile
// when none could be made. A second signal, or on Windows the console's
// closing, the user's logging off or the system's shutdown, which allow no
// waiting, runs cleanup and ends the program at once with 128 plus the
// signal's number, as OnInterrupt does.
FileHandle WatchEndRequests(void (*cleanup)() noexcept);
// Runs `start`, which starts a helper thread, with SIGINT, SIGTERM and
// SIGHUP held off the calling thread: the thread started keeps them off for
// good, so that they land on the thread that makes and removes the outputs
// (one sent meanwhile waits for the end of the call). Windows' console events
// come on a thread of their own, and a page has no signals: there it only
// runs `start`.
void StartWithEndSignalsHeld(const std::function<void()>& start);
// The number of the first signal noted (SIGINT 2, SIGTERM 15, SIGHUP 1), 0
// while there is none. Takes the notice off the watched handle, so that the
// loop is not woken for it again.
int TakeEndRequest();

// Whether standard error is a terminal, and its width in columns (0 when
// unknown).
bool StandardErrorIsTerminal();
std::size_t TerminalColumns();

// Memory advice for a large buffer; each does nothing where the platform has
// no such advice. PrepareForWriting gives false when the pages were not made
// ready.
std::size_t PageSize();
void AdviseLargePages(void* start, std::size_t length);
bool PrepareForWriting(void* start, std::size_t length);

// The text under which two paths name the same file: the path itself on
// POSIX; on Windows, whose names ignore case, the path in lower case.
std::string NameKey(const std::string& path);

// The path with its links and "." and ".." steps resolved as far as it
// exists (the rest kept as written): two paths that give the same text name
// one file. The path as given when it cannot be resolved.
std::string ResolvedPath(const std::string& path);

// Makes a folder and the folders above it that are missing. Gives an empty
// text when the folder stands there afterwards, and otherwise what is wrong:
// the system's words for the failure, or "not a folder".
std::string MakeFolders(const std::string& path);

// A std::filesystem path from UTF-8 text and back (on Windows the narrow
// path functions take the ANSI code page, not UTF-8).
std::filesystem::path PathFromUtf8(const std::string& text);
std::string Utf8FromPath(const std::filesystem::path& path);

}  // namespace morvane::platform
