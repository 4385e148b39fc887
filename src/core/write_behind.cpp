#include "core/write_behind.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace morvane {

// The one thread that writes for every file written behind.
class BehindWriter {
 public:
  // Null when no thread can be started. Lives to the end of the process,
  // its thread waiting for work.
  static BehindWriter* Get() {
    static BehindWriter* const writer = [] {
      auto* made = new BehindWriter();
      try {
        platform::StartWithEndSignalsHeld([made] { std::thread([made] { made->Work(); }).detach(); });
      } catch (const std::system_error&) {
        delete made;
        return static_cast<BehindWriter*>(nullptr);
      }
      return made;
    }();
    return writer;
  }

  int HandOver(WriteBehind& file, platform::FileHandle handle, std::unique_ptr<unsigned char[]>& buffer,
               std::size_t count, std::int64_t position) {
    std::unique_ptr<unsigned char[]> next;
    {
      std::unique_lock<std::mutex> hold(lock_);
      done_.wait(hold, [&file] { return file.inFlight_ < WriteBehind::kMostInFlight || file.error_ != 0; });
      if (file.error_ != 0) return file.error_;
      if (!file.spare_.empty()) {
        next = std::move(file.spare_.back());
        file.spare_.pop_back();
      }
    }
    // The buffer to fill next is had before this one is let go: without
    // memory, nothing has been handed over.
    if (!next) next.reset(new unsigned char[file.bufferSize_]);
    {
      const std::lock_guard<std::mutex> hold(lock_);
      ++file.inFlight_;
      todo_.push_back(Task{&file, handle, std::move(buffer), count, position});
    }
    work_.notify_one();
    buffer = std::move(next);
    return 0;
  }

  int Wait(WriteBehind& file) noexcept {
    std::unique_lock<std::mutex> hold(lock_);
    done_.wait(hold, [&file] { return file.inFlight_ == 0; });
    return file.error_;
  }

 private:
  struct Task {
    WriteBehind* file;
    platform::FileHandle handle;
    std::unique_ptr<unsigned char[]> buffer;
    std::size_t count;
    std::int64_t position;
  };

  void Work() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      work_.wait(hold, [this] { return !todo_.empty(); });
      Task task = std::move(todo_.front());
      todo_.pop_front();
      // After a failure the file's later buffers are dropped.
      const bool failed = task.file->error_ != 0;
      hold.unlock();
      int error = 0;
      for (std::size_t done = 0; !failed && done < task.count;) {
        const std::int64_t put = platform::WriteAt(task.handle, task.buffer.get() + done, task.count - done,
                                                   task.position + static_cast<std::int64_t>(done), error);
        if (put <= 0) {
          if (put == 0) error = platform::DiskFullError();
          break;
        }
        done += static_cast<std::size_t>(put);
      }
      hold.lock();
      if (error != 0 && task.file->error_ == 0) task.file->error_ = error;
      task.file->spare_.push_back(std::move(task.buffer));
      --task.file->inFlight_;
      done_.notify_all();
    }
  }

  std::mutex lock_;
  std::condition_variable work_, done_;
  std::deque<Task> todo_;
};

std::unique_ptr<WriteBehind> WriteBehind::Start(std::size_t bufferSize) {
  if (std::thread::hardware_concurrency() < 2 || !BehindWriter::Get()) return nullptr;
  return std::make_unique<WriteBehind>(bufferSize);
}

WriteBehind::~WriteBehind() { Wait(); }

int WriteBehind::HandOver(platform::FileHandle file, std::unique_ptr<unsigned char[]>& buffer,
                          std::size_t count, std::int64_t position) {
  return BehindWriter::Get()->HandOver(*this, file, buffer, count, position);
}

int WriteBehind::Wait() noexcept { return BehindWriter::Get()->Wait(*this); }

}  // namespace morvane
