#pragma once
// Dispatch queues, the main run loop, delayed work, semaphores and groups.
// Owned by platform/foundation; every type here may be used from any thread unless a member
// says otherwise.
//
// The main queue is one FIFO of blocks that any thread may post to; it runs on the main thread
// (the process's initial thread, the one that runs main()). Its driver is pluggable:
// RunLoop::run() pumps it by itself; the application later installs a driver that wakes Qt's
// event loop. Work keeps running inside nested (modal) loops: any nested run() drains the queue.
//
// Serial queues run one block at a time, in order, on a thread of their own; global queues run
// blocks concurrently on a shared pool. Delayed work goes through one scheduler on the monotonic
// clock (tw::clock), so a VirtualClock drives it in tests. An exception escaping any block ends
// the process through tw::terminateWithUncaught(<queue label>), unless the queue was told to go on
// after exceptions.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tw {

using Block = std::function<void()>;

enum class QoS { Background, Utility, Default, UserInitiated, UserInteractive };

namespace detail {
struct DelayedEntry;
struct MainLoopAccess;
}  // namespace detail

// Handle on delayed work; cancel() guarantees the block will not start afterwards (a block that
// already started runs to its end) and takes it off the scheduler, so cancelled work costs no
// wake-up. Copyable; a default handle cancels nothing.
class DelayedWork {
 public:
  DelayedWork() = default;
  void cancel() const;
  bool isCancelled() const;
  explicit operator bool() const { return static_cast<bool>(entry_); }

 private:
  friend class DispatchQueue;
  explicit DelayedWork(std::shared_ptr<detail::DelayedEntry> entry) : entry_(std::move(entry)) {}
  std::shared_ptr<detail::DelayedEntry> entry_;
};

class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
 public:
  virtual ~DispatchQueue() = default;

  static std::shared_ptr<DispatchQueue> main();
  static std::shared_ptr<DispatchQueue> global(QoS qos = QoS::Default);
  // A serial queue with its own thread (started on first use); the thread ends when the last
  // reference goes and the queue has drained. A queue with work pending keeps itself alive.
  // Background and Utility lower the thread's scheduling priority; finer classes and the
  // relative priority have no Linux counterpart an unprivileged process may use.
  static std::shared_ptr<DispatchQueue> createSerial(std::string label, QoS qos = QoS::Default,
                                                     int relativePriority = 0);
  // The queue whose block is running on this thread, or nullptr (main thread outside a block
  // counts as the main queue).
  static std::shared_ptr<DispatchQueue> current();

  const std::string& label() const { return label_; }
  bool isSerial() const { return serial_; }
  bool isMain() const;
  // True when the calling thread is running this queue's work (for main: is the main thread).
  virtual bool isCurrent() const = 0;

  // Off by default (the boundary rule above). On, an exception escaping one of this queue's
  // blocks is logged with the queue's label (tw::logEscapedException) and the queue goes on with
  // its next block: for work whose faults must never end the application.
  void setContinuesAfterExceptions(bool on) { continuesAfterExceptions_.store(on); }
  bool continuesAfterExceptions() const { return continuesAfterExceptions_.load(); }

  virtual void async(Block block) = 0;
  // Runs the block on the queue and waits for it. On the queue itself (including the main queue
  // on the main thread) it runs inline instead of deadlocking; on a global queue it runs inline
  // on the caller's thread. A worker waiting for the main queue is served even while the main
  // thread sits in a nested loop.
  void sync(const Block& block);
  // Runs the block after `seconds` (monotonic clock) unless cancelled first. Zero or less posts
  // at once: the block runs on a later turn of the queue, never inside this call.
  DelayedWork after(double seconds, Block block);

 protected:
  DispatchQueue(std::string label, bool serial) : label_(std::move(label)), serial_(serial) {}

 private:
  std::string label_;
  bool serial_;
  std::atomic<bool> continuesAfterExceptions_{false};
};

// Convenience for the main queue.
inline void onMain(Block b) { DispatchQueue::main()->async(std::move(b)); }
bool isMainThread();

// Runs first on every thread the dispatch layer starts; the crash kit sets it once at start-up
// to give each thread an alternate signal stack. nullptr (the default) runs nothing.
void setThreadStartHook(void (*hook)());
void runThreadStartHook();
namespace detail {
// Logs `what` as called off the main thread, then aborts. Returns at once on the main thread.
void checkMainThread(const char* what) noexcept;
}  // namespace detail

}  // namespace tw

// "Main thread only", checked: first thing in the public entry points of a class that is main
// thread only. Debug and sanitizer builds (no NDEBUG) log what was called off the main thread
// and abort, so a stray call fails loudly where it is made instead of racing silently; release
// builds check nothing.
#ifndef NDEBUG
#define TW_MAIN_THREAD_ONLY(what) ::tw::detail::checkMainThread(what)
#else
#define TW_MAIN_THREAD_ONLY(what) static_cast<void>(0)
#endif

namespace tw {

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

// Tracks a set of blocks; notify() runs a block on a queue once all have left.
class DispatchGroup {
 public:
  DispatchGroup();
  ~DispatchGroup();
  void enter();
  // A leave() without its enter() raises NSInternalInconsistencyException.
  void leave();
  void async(const std::shared_ptr<DispatchQueue>& queue, Block block);
  // False on time-out (seconds < 0 waits for ever). Timeouts follow tw::clock.
  bool wait(double seconds = -1);
  void notify(const std::shared_ptr<DispatchQueue>& queue, Block block);

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

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
