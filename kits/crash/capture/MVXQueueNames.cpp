#include "kits/crash/capture/MVXQueueNames.h"

#include <unistd.h>

#include <atomic>

namespace {

struct Slot {
  // 0 free; -1 being written; otherwise the thread's id, published after the label.
  std::atomic<pid_t> tid{0};
  char label[kMVXQueueNameLength] = {};
};

Slot gSlots[kMVXQueueNameSlots];

}  // namespace

int MVXQueueNameClaimSlot(pid_t tid, const char* label) {
  for (int index = 0; index < kMVXQueueNameSlots; ++index) {
    Slot& slot = gSlots[index];
    pid_t expected = 0;
    if (!slot.tid.compare_exchange_strong(expected, -1, std::memory_order_acquire)) continue;
    int i = 0;
    for (; i + 1 < kMVXQueueNameLength && label[i] != 0; ++i) slot.label[i] = label[i];
    slot.label[i] = 0;
    slot.tid.store(tid, std::memory_order_release);
    return index;
  }
  return -1;
}

void MVXQueueNameReleaseSlot(int slot) {
  if (slot >= 0 && slot < kMVXQueueNameSlots) gSlots[slot].tid.store(0, std::memory_order_release);
}

const char* MVXQueueNameForThread(pid_t tid) {
  if (tid <= 0) return "";
  if (tid == getpid()) return "main-thread";
  for (const Slot& slot : gSlots) {
    if (slot.tid.load(std::memory_order_acquire) == tid) return slot.label;
  }
  return "";
}
