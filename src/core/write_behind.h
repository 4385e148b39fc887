#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/platform.h"

namespace morvane {

// The writing of one file's full buffers by a second thread, while the
// thread that fills them goes on with the next: the system's copy of the
// bytes then costs the filling thread nothing. One thread of the process
// writes for every such file, each file's buffers in the order they came.
//
// A failed write ends the file's writing: the buffers handed over after it
// are dropped, so that what fitted stays on disk and nothing lands past a
// hole, and its error is given back by every later hand-over or wait, on
// the thread that owns the file.
class WriteBehind {
 public:
  // Buffers of a file in the writer's hands at once; the filling thread
  // waits for the oldest beyond them.
  static constexpr int kMostInFlight = 4;

  // Null when no second thread can be had (one core; a system without
  // threads, as the web page's): the file then writes as it goes.
  static std::unique_ptr<WriteBehind> Start(std::size_t bufferSize);

  explicit WriteBehind(std::size_t bufferSize) : bufferSize_(bufferSize) {}
  // Waits for the file's writes.
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Hands `buffer`'s first `count` bytes over to be written at `position`
  // of `file`, and puts an empty buffer in its place. Gives the error of an
  // earlier write that failed (the platform's error number), 0 when none
  // did; `buffer` is then kept and nothing is handed over.
  int HandOver(platform::FileHandle file, std::unique_ptr<unsigned char[]>& buffer, std::size_t count,
               std::int64_t position);
  // Waits until every buffer handed over is written or dropped; gives the
  // error as HandOver does.
  int Wait() noexcept;

 private:
  friend class BehindWriter;
  std::size_t bufferSize_;
  // Under the writer's lock.
  int inFlight_ = 0;
  int error_ = 0;  // of the first failed write, for good
  std::vector<std::unique_ptr<unsigned char[]>> spare_;
};

}  // namespace morvane
