#pragma once
// tw::SpinLock: a lock for the analytics kit's short critical sections shared by the public log
// calls and the event queue (a push onto a list, a copy into the journal). A contended mutex puts
// the waiter to sleep in the kernel and costs a wake-up on release, tens of microseconds that a
// log call cannot afford; here the waiter spins, and yields its processor only when the holder
// seems to have lost its own. Any thread; meets the standard's Lockable requirements.
#include <atomic>
#include <thread>

namespace tw {

class SpinLock {
 public:
  void lock() {
    for (int spins = 0; !try_lock(); ++spins) {
      while (locked_.load(std::memory_order_relaxed)) {
        if (++spins < 1000) {
#if defined(__x86_64__) || defined(__i386__)
          __builtin_ia32_pause();
#endif
        } else {
          std::this_thread::yield();
        }
      }
    }
  }
  bool try_lock() { return !locked_.exchange(true, std::memory_order_acquire); }
  void unlock() { locked_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> locked_{false};
};

}  // namespace tw
