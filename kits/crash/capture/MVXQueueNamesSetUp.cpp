#include "kits/crash/capture/MVXQueueNames.h"

#include <unistd.h>

#include "platform/foundation/DispatchThreadHooks.h"

namespace {

// Frees the thread's slot when the thread ends, before its id can be reused.
struct SlotRelease {
  int slot = -1;
  ~SlotRelease() { MVXQueueNameReleaseSlot(slot); }
};
thread_local SlotRelease tlsSlot;

// Serial queues announce their threads from the moment the library loads.
[[maybe_unused]] const bool kHooked =
    (tw::setQueueThreadHook(&MVXQueueNameRegisterCurrentThread), true);

}  // namespace

void MVXQueueNameRegisterCurrentThread(const char* label) {
  if (label == nullptr || tlsSlot.slot >= 0) return;
  tlsSlot.slot = MVXQueueNameClaimSlot(gettid(), label);
}
