#include "kits/crash/unwind/MVXUnwind.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace {
// A forked child refreshes the walker's pid before it runs any code of its own.
void refreshPid() { MVXUnwindSetProcessId(getpid()); }
[[maybe_unused]] const bool gPidRegistered = [] {
  refreshPid();
  pthread_atfork(nullptr, nullptr, &refreshPid);
  return true;
}();
}  // namespace

bool MVXUnwindRecordCurrentThreadStack() {
  stack_t alternate{};
  if (sigaltstack(nullptr, &alternate) == 0 && !(alternate.ss_flags & SS_DISABLE) &&
      alternate.ss_sp && alternate.ss_size) {
    const auto low = reinterpret_cast<uintptr_t>(alternate.ss_sp);
    MVXUnwindRecordAlternateStackRange(low, low + alternate.ss_size);
  } else {
    MVXUnwindRecordAlternateStackRange(0, 0);
  }
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return false;
  void* base = nullptr;
  size_t size = 0;
  const bool found = pthread_attr_getstack(&attributes, &base, &size) == 0 && base && size;
  pthread_attr_destroy(&attributes);
  if (!found) return false;
  MVXUnwindRecordStackRange(reinterpret_cast<uintptr_t>(base),
                            reinterpret_cast<uintptr_t>(base) + size);
  return true;
}
