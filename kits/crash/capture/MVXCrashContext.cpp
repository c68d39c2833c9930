#include "kits/crash/capture/MVXCrashContext.h"

#include "platform/machine/Machine.h"

MVXCrashContext gMVXContext;

bool MVXContextIsInitialized() {
  return gMVXContext.readonly != nullptr && gMVXContext.readonly->initialized.load();
}

bool MVXContextMarkCrashed() {
  MVXWritableContext* rw = gMVXContext.writable;
  if (rw == nullptr) return false;
  pid_t open = 0;
  return !rw->crashedBy.compare_exchange_strong(open, tw::machine::currentThreadId(),
                                                std::memory_order_seq_cst);
}

pid_t MVXContextCrashingThread() {
  return gMVXContext.writable != nullptr ? gMVXContext.writable->crashedBy.load() : 0;
}
