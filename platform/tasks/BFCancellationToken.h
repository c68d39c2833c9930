#pragma once
// BFCancellationToken: the read side of a cancellation request, a flag that long-running work
// polls between its steps. Handed out by a BFCancellationTokenSource; safe on any thread.

#include <atomic>
#include <memory>

class BFCancellationTokenSource;

class BFCancellationToken {
 public:
  bool isCancellationRequested() const { return requested_.load(std::memory_order_acquire); }

 private:
  friend class BFCancellationTokenSource;
  BFCancellationToken() = default;
  void request() { requested_.store(true, std::memory_order_release); }

  std::atomic<bool> requested_{false};
};
