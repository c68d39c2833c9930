#include "kits/crash/capture/MVXQueueNames.h"

#include <unistd.h>

#include <atomic>

#include "platform/foundation/DispatchThreadHooks.h"

namespace {

struct Slot {
  // 0 free; -1 being written; otherwise the thread's id, published after the label.
  std::atomic<pid_t> tid{0};
  char label[kMVXQueueNameLength] = {};
};

Slot gSlots[kMVXQueueNameSlots];

// Frees the thread's slot when the thread ends, before its id can be reused.
struct SlotRelease {
  Slot* slot = nullptr;
  ~SlotRelease() {
    if (slot != nullptr) slot->tid.store(0, std::memory_order_release);
  }
};
thread_local SlotRelease tlsSlot;

// Serial queues announce their threads from the moment the library loads.
[[maybe_unused]] const bool kHooked =
    (tw::setQueueThreadHook(&MVXQueueNameRegisterCurrentThread), true);

}  // namespace

void MVXQueueNameRegisterCurrentThread(const char* label) {
  if (label == nullptr || tlsSlot.slot != nullptr) return;
  for (Slot& slot : gSlots) {
    pid_t expected = 0;
    if (!slot.tid.compare_exchange_strong(expected, -1, std::memory_order_acquire)) continue;
    int i = 0;
    for (; i + 1 < kMVXQueueNameLength && label[i] != 0; ++i) slot.label[i] = label[i];
    slot.label[i] = 0;
    slot.tid.store(gettid(), std::memory_order_release);
    tlsSlot.slot = &slot;
    return;
  }
}

const char* MVXQueueNameForThread(pid_t tid) {
  if (tid <= 0) return "";
  if (tid == getpid()) return "main-thread";
  for (const Slot& slot : gSlots) {
    if (slot.tid.load(std::memory_order_acquire) == tid) return slot.label;
  }
  return "";
}
