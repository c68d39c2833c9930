#pragma once
// tw::BlockingScope: marks a blocking wait so the global pool can go on. Any thread; a scope
// marks the thread it was made on.

namespace tw {

// Marks a blocking wait on the calling thread. On a global-queue worker it lets the pool start
// another worker, so queued work the wait depends on still runs; elsewhere it costs nothing.
// Semaphore, DispatchGroup and sync() use it themselves; wrap other waits that may depend on
// global-queue work (a task's waitUntilFinished, say) in one.
class BlockingScope {
 public:
  BlockingScope();
  ~BlockingScope();
  BlockingScope(const BlockingScope&) = delete;
  BlockingScope& operator=(const BlockingScope&) = delete;

 private:
  bool marked_;
};

}  // namespace tw
