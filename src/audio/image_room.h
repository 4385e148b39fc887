#pragma once

#include <atomic>
#include <thread>
#include <vector>

namespace morvane {

class Window;

// The images run to hundreds of megabytes: in 2 MB pages they take a small
// part of the page faults that 4 KB pages cost. Advice for an image whose
// room is reserved from the size of a large image on; nothing fails.
void AdviseLargePages(const std::vector<unsigned char>& bytes);

// The room of a large image, made ready by the system on another core while
// this one loads the file: the kernel clears every new page before it hands
// it out, and for an image of hundreds of megabytes that takes as long as
// the load. Without a second core, or on a system that cannot, the decode
// simply meets the pages as before.
//
// One of the program's two helper threads (the other decodes the batch
// converter's sound: DecodeWorker). It touches nothing but the reserved room
// of one image, through the system, and never the shared state or the
// window; it is joined before the image is used.
class RoomPreparation {
 public:
  explicit RoomPreparation(const std::vector<unsigned char>& bytes);
  RoomPreparation(const RoomPreparation&) = delete;
  RoomPreparation& operator=(const RoomPreparation&) = delete;
  ~RoomPreparation();

  // Waits for the room while the window goes on looking at its queue.
  void Await(Window& window);

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::thread worker_;
};

}  // namespace morvane
