#pragma once
// tw::RunLoop: the loop that runs the main queue on the main thread, and tw::MainLoopDriver,
// which wakes it. Its driver is pluggable: RunLoop::run() pumps the queue by itself; the
// application later installs a driver that wakes Qt's event loop. Work keeps running inside
// nested (modal) loops: any nested run() drains the queue.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace tw {

namespace detail {
struct MainLoopAccess;
}  // namespace detail

// The driver wakes whatever loop runs the main thread when work arrives from another thread or a
// deadline passes. The default driver is RunLoop's own condition variable.
class MainLoopDriver {
 public:
  virtual ~MainLoopDriver() = default;
  // Called from any thread when the main queue has new work; must make the main thread call
  // RunLoop::main().drain() soon. Calls are coalesced: after one wakeUp(), further posts do not
  // call it again until drain() has started.
  virtual void wakeUp() = 0;
  // Called when the earliest moment of the main queue's timed blocks changes (CLOCK_MONOTONIC
  // nanoseconds; INT64_MAX when none is left): the driver must make the main thread call
  // RunLoop::main().drain() once that moment has come, by itself, with no other thread waking
  // for it. A later call replaces the earlier one. Called from any thread with the run loop's
  // lock held: it must not call back into the run loop.
  virtual void wakeAt(std::int64_t monotonicNanos) = 0;
};

class RunLoop {
 public:
  static RunLoop& main();

  // Runs main-queue blocks until the queue is empty (those present when it started, plus those
  // posted meanwhile) and returns how many ran. Main thread only.
  std::size_t drain();
  // Pumps the main queue until stop() (real time). Nested calls are allowed (modal loops);
  // stop() ends the innermost. Main thread only.
  void run();
  // Any thread. Does nothing while no run() is active.
  void stop();
  // Pumps until `done` returns true or `timeoutSeconds` pass; true if done. Main thread only.
  // `done` is checked after main-queue work and also every few milliseconds, so it may watch
  // state that other threads change without posting.
  // The timeout is always real time: under a VirtualClock nothing here moves virtual time
  // (advance() is the caller's job), so the wait only serves work that other threads post, and
  // the real-time bound keeps a test that forgot to advance from hanging.
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds);
  // Nesting depth of run()/runUntil on the main thread (0 outside any loop).
  int depth() const;

  // A null driver restores the default. Any thread.
  void setDriver(std::shared_ptr<MainLoopDriver> driver);
  std::shared_ptr<MainLoopDriver> driver() const;

  // Main-queue blocks waiting to run.
  std::size_t pendingCount() const;

 private:
  RunLoop();
  struct Impl;
  std::unique_ptr<Impl> impl_;
  friend class DispatchQueue;
  friend class MainQueue;
  friend struct detail::MainLoopAccess;
};

}  // namespace tw
