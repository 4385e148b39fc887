#include "core/live_temporaries.h"

#include <atomic>
#include <cstring>

#include "core/byte_file.h"
#include "core/platform.h"

namespace morvane {

namespace {
// The temporary names alive now, for the signal handler: each slot is free
// (0), being filled (1) or names a live temporary (2).
constexpr int kRegistrySlots = kMostLiveTemporaries;
constexpr std::size_t kRegistryPathSize = platform::kLongestPath;
struct RegistrySlot {
  std::atomic<int> state{0};
  char path[kRegistryPathSize];
};
static_assert(std::atomic<int>::is_always_lock_free);
RegistrySlot registry[kRegistrySlots];

constexpr char kTemporaryMark[] = ".morvane-";
constexpr std::size_t kTemporaryMarkLength = sizeof kTemporaryMark - 1;
constexpr std::size_t kRandomLength = 6;
}  // namespace

int RegisterTemporary(const std::string& path) {
  if (path.size() >= kRegistryPathSize) return -1;
  for (int slot = 0; slot < kRegistrySlots; ++slot) {
    int expected = 0;
    if (registry[slot].state.compare_exchange_strong(expected, 1)) {
      std::memcpy(registry[slot].path, path.c_str(), path.size() + 1);
      registry[slot].state.store(2);
      return slot;
    }
  }
  return -1;
}

void UnregisterTemporary(int slot) {
  if (slot >= 0) registry[slot].state.store(0);
}

std::string TemporaryPathBeside(const std::string& path) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[kRandomLength];
  platform::RandomBytes(random, sizeof random);
  std::size_t nameStart = path.size();
  while (nameStart > 0 && !platform::IsSeparator(path[nameStart - 1])) --nameStart;
  std::string name = path.substr(nameStart);
  const std::size_t room = platform::kLongestName - 1 - kTemporaryMarkLength - kRandomLength;
  if (name.size() > room) name.resize(room);
  std::string temporary = path.substr(0, nameStart) + "." + name + kTemporaryMark;
  for (unsigned char byte : random) temporary.push_back(kLetters[byte % (sizeof kLetters - 1)]);
  return temporary;
}

void RemoveLiveTemporaries() noexcept {
  for (RegistrySlot& slot : registry) {
    if (slot.state.load() == 2) platform::Remove(slot.path);
  }
}

bool IsTemporaryName(const std::string& name) {
  const std::size_t tail = kTemporaryMarkLength + kRandomLength;
  return name.size() > tail + 1 && name.front() == '.' &&
         name.compare(name.size() - tail, kTemporaryMarkLength, kTemporaryMark) == 0;
}

}  // namespace morvane
