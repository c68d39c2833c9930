#pragma once
// tw::Semaphore, counting, with timed waits that tell the global pool they block
// (platform/foundation/BlockingScope.h). Any thread.

#include <memory>

namespace tw {

// Counting semaphore with timed wait (timeouts on the monotonic clock, so virtual in tests).
class Semaphore {
 public:
  explicit Semaphore(long initial = 0);
  ~Semaphore();
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;
  void signal();
  void wait();
  // False on time-out.
  bool waitFor(double seconds);

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace tw
