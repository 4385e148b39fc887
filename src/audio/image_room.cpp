#include "audio/image_room.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <system_error>

#include "core/platform.h"
#include "core/window.h"

namespace morvane {

namespace {

// The room of a large image is made ready this much at a time.
constexpr std::uintptr_t kPreparationPiece = std::uintptr_t{4} << 20;
// Images from this size on are asked for in large pages.
constexpr std::size_t kLargeImage = std::size_t{4} << 20;

// The whole pages within the room of an image: [first, last), empty for an
// image below the size from which large images are treated as such.
struct PageRange {
  std::uintptr_t first = 0, last = 0;
  bool Empty() const { return last <= first; }
};

PageRange LargeImagePages(const std::vector<unsigned char>& bytes) {
  if (bytes.capacity() < kLargeImage) return {};
  const auto page = static_cast<std::uintptr_t>(platform::PageSize());
  const auto start = reinterpret_cast<std::uintptr_t>(bytes.data());
  return {(start + page - 1) / page * page, (start + bytes.capacity()) / page * page};
}

}  // namespace

void AdviseLargePages(const std::vector<unsigned char>& bytes) {
  const PageRange pages = LargeImagePages(bytes);
  if (!pages.Empty())
    platform::AdviseLargePages(reinterpret_cast<void*>(pages.first), pages.last - pages.first);
}

RoomPreparation::RoomPreparation(const std::vector<unsigned char>& bytes) {
  const PageRange pages = LargeImagePages(bytes);
  if (pages.Empty() || std::thread::hardware_concurrency() < 2) return;
  try {
    worker_ = std::thread([this, first = pages.first, last = pages.last] {
      // In pieces: the system holds the memory map while it fills a range,
      // and the window's own allocations must not wait for all of it.
      for (std::uintptr_t at = first; at < last && !stop_; at += kPreparationPiece) {
        const std::uintptr_t end = std::min(last, at + kPreparationPiece);
        if (!platform::PrepareForWriting(reinterpret_cast<void*>(at), end - at)) break;
      }
      done_ = true;
    });
  } catch (const std::system_error&) {
    // No thread to spare: the pages come as the decode meets them.
  }
}

RoomPreparation::~RoomPreparation() {
  stop_ = true;
  if (worker_.joinable()) worker_.join();
}

void RoomPreparation::Await(Window& window) {
  if (!worker_.joinable()) return;
  while (!done_) {
    window.KeepResponsive();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  worker_.join();
}

}  // namespace morvane
