#pragma once
// Internals of the run-time half of platform/foundation, shared by Dispatch.cpp,
// DispatchScheduler.cpp, Clock.cpp, QLNTimer.cpp and OperationQueue.cpp. Nothing outside
// platform/foundation includes this.
//
// One scheduler thread keeps every deadline of the process (delayed work, timer firings, timed
// waits) in one ordered set and sleeps on a condition variable until the earliest; with nothing
// pending it waits without a time-out, so an idle process never wakes. While a VirtualClock is
// installed the thread leaves the set alone and VirtualClock::advance() takes due entries itself.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"

namespace tw::detail {

// Nanoseconds of CLOCK_MONOTONIC, whatever clock tw::clock reads (the scheduler thread sleeps
// on the real one; steady_clock reads the same clock).
std::int64_t realMonotonicNanos();

// Seconds to nanoseconds for deadlines: NaN and negatives give 0, huge values saturate.
std::int64_t secondsToNanos(double seconds);

// The deadline `span` nanoseconds after `from`, held at INT64_MAX rather than wrapping, so that
// "never" (a huge span) stays never instead of turning into the distant past.
constexpr std::int64_t deadlineAfter(std::int64_t from, std::int64_t span) {
  return span > 0 && from > INT64_MAX - span ? INT64_MAX : from + span;
}

// Done-signal for one deadline handed out by VirtualClock::advance(): whoever runs the work
// the deadline triggered completes it, which wakes the main thread waiting in advance().
class Completion {
 public:
  void complete();
  bool isDone() const { return done_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> done_{false};
};

class Scheduler;

// Something with a deadline on the monotonic clock.
class TimedEntry : public std::enable_shared_from_this<TimedEntry> {
 public:
  virtual ~TimedEntry() = default;
  // Called each time the entry comes due, outside the scheduler's lock, on the scheduler thread
  // (real clock, `done` null) or in advance() on the main thread (virtual clock). It must not
  // block. When `done` is set it must be completed once the triggered work has run or been
  // dropped.
  virtual void fire(const std::shared_ptr<Completion>& done) = 0;

 private:
  friend class Scheduler;
  // Guarded by the scheduler's mutex.
  std::pair<std::int64_t, std::uint64_t> key_{0, 0};
  bool scheduled_ = false;
};

class Scheduler {
 public:
  static Scheduler& instance();

  // Puts the entry at `deadline` (monotonic nanoseconds), replacing any earlier placement.
  void schedule(const std::shared_ptr<TimedEntry>& entry, std::int64_t deadline);
  // Takes the entry off the set. Never waits: entries make their own firings harmless after a
  // cancel (generation counters, cancelled flags).
  void cancel(const std::shared_ptr<TimedEntry>& entry);

  // Virtual-clock side. enterVirtual/leaveVirtual install and remove the clock pointer under
  // the scheduler's lock; leaving moves every deadline by `shiftNanos` into real time.
  void enterVirtual(VirtualClock* clock);
  void leaveVirtual(std::int64_t shiftNanos);
  // Removes and returns the earliest entry due at or before `upTo`, with its deadline.
  std::shared_ptr<TimedEntry> takeDue(std::int64_t upTo, std::int64_t* deadline);
  std::optional<std::int64_t> nextDeadline() const;

 private:
  Scheduler() = default;
  void startThreadLocked();
  void threadMain();

  // Guards entries_, nextSeq_ and the two flags; cv_ waits on it.
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::map<std::pair<std::int64_t, std::uint64_t>, std::shared_ptr<TimedEntry>> entries_;
  std::uint64_t nextSeq_ = 0;
  bool virtual_ = false;
  bool threadStarted_ = false;
};

// Installed-clock pointer behind tw::clock (written only by the scheduler under its lock).
extern std::atomic<VirtualClock*> g_virtualClock;

// Queues `block` on a serial queue or the main queue so that it starts no earlier than
// `notBefore` (CLOCK_MONOTONIC nanoseconds): the queue's own thread sleeps until then (the main
// thread through its loop driver's wakeAt), so a deadline costs one wake-up instead of a hop
// through the scheduler thread. Until its moment the queue's other blocks run as usual; once it
// has come it runs before them. Returns an id for cancelNotBefore, or 0, queueing nothing, for a
// global queue.
std::uint64_t postNotBefore(DispatchQueue& queue, std::int64_t notBefore, Block block);
// Takes a block queued by postNotBefore off its queue, unless it has started.
void cancelNotBefore(DispatchQueue& queue, std::uint64_t id);
bool supportsNotBefore(const DispatchQueue& queue);
// Moves the deadlines that timers keep on their own queues into the scheduler, for a
// VirtualClock just installed (QLNTimer.cpp).
void handDirectTimersToScheduler();

// The main loop's waiting primitives, for code that must wait on the main thread without
// starving the main queue.
struct MainLoopAccess {
  // Wakes the main thread if it waits in pumpUntil().
  static void poke();
  // Main thread only: checks `pred`, then runs main-queue work and waits for more work or a
  // poke until `pred` holds or the deadline (real time) passes. Returns pred(). With `poll`,
  // pred is also re-checked every few milliseconds, for predicates on state that other threads
  // change without posting or poking.
  static bool pumpUntil(const std::function<bool()>& pred,
                        std::optional<std::chrono::steady_clock::time_point> deadline,
                        bool poll = false);
  static std::size_t drain();
  // The main queue's side of postNotBefore and cancelNotBefore.
  static std::uint64_t postTimed(Block block, std::int64_t notBefore);
  static void cancelTimed(std::uint64_t id);
};

// A timed wait's deadline under a VirtualClock: when advance() reaches it, it marks the wait
// expired and wakes the waiter through the waiter's own mutex and condition variable. `keeper`
// owns both, so a wait that ends early leaves nothing dangling behind.
struct WaitEntry final : TimedEntry {
  WaitEntry(std::mutex& m, std::condition_variable& c, std::shared_ptr<void> k)
      : mutex(m), cv(c), keeper(std::move(k)) {}
  void fire(const std::shared_ptr<Completion>& done) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      expired = true;
    }
    cv.notify_all();
    if (done) done->complete();
  }
  std::mutex& mutex;
  std::condition_variable& cv;
  std::shared_ptr<void> keeper;
  bool expired = false;  // guarded by `mutex`
};

// Waits on `cv` (with `lock` held on entry and exit) until pred() holds or `seconds` pass on
// tw::clock; returns pred(). With the real clock this is an absolute-deadline wait on
// CLOCK_MONOTONIC; under a VirtualClock the deadline goes to the scheduler and only advance()
// can end the wait. `keeper` must own the mutex and the condition variable.
template <class Pred>
bool waitOnClock(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                 const std::shared_ptr<void>& keeper, double seconds, Pred pred) {
  if (pred()) return true;
  if (!(seconds > 0)) return false;
  const std::int64_t span = secondsToNanos(seconds);
  if (g_virtualClock.load(std::memory_order_acquire) == nullptr) {
    const std::int64_t now = realMonotonicNanos();
    const std::chrono::steady_clock::time_point at{
        std::chrono::nanoseconds(deadlineAfter(now, span))};
    return cv.wait_until(lock, at, pred);
  }
  auto entry = std::make_shared<WaitEntry>(*lock.mutex(), cv, keeper);
  const std::int64_t now = clock::monotonicNanos();
  Scheduler::instance().schedule(entry, deadlineAfter(now, span));
  while (!pred() && !entry->expired) cv.wait(lock);
  Scheduler::instance().cancel(entry);
  return pred();
}

}  // namespace tw::detail
