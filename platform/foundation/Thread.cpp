#include "platform/foundation/Thread.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/foundation/Dispatch.h"

namespace tw {

namespace {

constexpr std::size_t kAlternateStackSize = std::size_t{64} * 1024;

// The thread's own alternate stack, released when the thread ends.
struct AlternateStack {
  void* mapping = nullptr;
  std::size_t length = 0;
  ~AlternateStack() {
    if (mapping == nullptr) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    munmap(mapping, length);
  }
};
thread_local AlternateStack tAlternateStack;

}  // namespace

bool ensureAlternateSignalStack() {
  stack_t current{};
  if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0) return true;
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t length = kAlternateStackSize + page;
  // Untouched pages cost nothing until a handler runs on them.
  void* mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return false;
  mprotect(mapping, page, PROT_NONE);  // guard below the stack
  stack_t ours{};
  ours.ss_sp = static_cast<char*>(mapping) + page;
  ours.ss_size = kAlternateStackSize;
  if (sigaltstack(&ours, nullptr) != 0) {
    munmap(mapping, length);
    return false;
  }
  tAlternateStack.mapping = mapping;
  tAlternateStack.length = length;
  return true;
}

std::thread startThread(std::string name, std::function<void()> body) {
  return std::thread([name = std::move(name), body = std::move(body)] {
    ensureAlternateSignalStack();
    runThreadStartHook();
    if (!name.empty()) pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
    body();
  });
}

}  // namespace tw
