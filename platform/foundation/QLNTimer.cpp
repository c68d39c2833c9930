// The periodic timer (see QLNTimer.h): one entry in the process scheduler, re-armed at each
// firing for the next absolute deadline.

#include "platform/foundation/QLNTimer.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/Dispatch_impl.h"
#include "platform/foundation/Exception.h"

namespace tw::detail {

struct TimerState final : TimedEntry {
  TimerState(std::shared_ptr<DispatchQueue> q, std::function<void()> h)
      : queue(std::move(q)), handler(std::move(h)), earlyHandOff(supportsNotBefore(*queue)) {}

  // How long before a deadline the scheduler hands the firing to the queue, whose own thread
  // then sleeps to the exact deadline: the hop through the scheduler thread stays off the
  // deadline's critical path. Half an interval at most, so the previous firing has always run
  // by then; none under a virtual clock, where advance() hands firings over itself.
  std::int64_t leadLocked() const {
    if (!earlyHandOff || g_virtualClock.load(std::memory_order_acquire) != nullptr) return 0;
    return std::min<std::int64_t>(2'000'000, intervalNanos / 2);
  }

  // Deadline k, held at "never" when a huge interval would run past the clock's range.
  std::int64_t deadlineLocked(std::int64_t n) const {
    if (n > 0 && intervalNanos > INT64_MAX / n) return INT64_MAX;
    return deadlineAfter(anchor, n * intervalNanos);
  }

  void scheduleLocked(std::int64_t deadline) {
    Scheduler::instance().schedule(shared_from_this(), deadline - leadLocked());
  }

  // Scheduler side: the deadline anchor + k * interval has come (or is `lead` away).
  void fire(const std::shared_ptr<Completion>& done) override {
    std::unique_lock<std::mutex> lock(mutex);
    if (!active || intervalNanos <= 0) {
      lock.unlock();
      if (done) done->complete();
      return;
    }
    const std::int64_t now = clock::monotonicNanos();
    const std::int64_t due = deadlineLocked(k);
    if (due - leadLocked() > now) {
      // Not due: either start() or setInterval() placed the entry anew just as the scheduler
      // took it, or the clock changed hands since it was placed (the lead differs). Placing it
      // again at its own deadline is right in both cases.
      scheduleLocked(due);
      lock.unlock();
      if (done) done->complete();
      return;
    }
    lastDeadline = due;
    ++k;
    if (deadlineLocked(k) <= now) k = (now - anchor) / intervalNanos + 1;  // skip missed
    scheduleLocked(deadlineLocked(k));
    postFiringLocked(done, due > now ? due : 0);
  }

  void postFiringLocked(const std::shared_ptr<Completion>& done, std::int64_t notBefore = 0) {
    // One firing normally waits in the queue from its hand-off to its deadline; a second may
    // queue behind it when the queue runs late. Beyond that the queue is not keeping up and
    // further firings merge into those waiting.
    if (pending >= 2) {
      if (done) done->complete();
      return;
    }
    ++pending;
    auto self = std::static_pointer_cast<TimerState>(shared_from_this());
    Block firing = [self, gen = generation, done] {
      self->runFiring(gen);
      if (done) done->complete();
    };
    if (notBefore > 0 && postNotBefore(*queue, notBefore, firing)) return;
    queue->async(std::move(firing));
  }

  void runFiring(std::uint64_t gen) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (gen != generation) return;  // from before a stop(); a newer firing may be pending
      --pending;
      if (!active) return;
      running.push_back(std::this_thread::get_id());
    }
    callGuarded(queue->label().c_str(), handler);
    bool pokeMain;
    {
      std::lock_guard<std::mutex> lock(mutex);
      running.erase(std::find(running.begin(), running.end(), std::this_thread::get_id()));
      pokeMain = mainWaiters > 0;
    }
    cv.notify_all();
    if (pokeMain) MainLoopAccess::poke();
  }

  // True while the handler runs on a thread other than the caller's.
  bool runningElsewhereLocked() const {
    const auto me = std::this_thread::get_id();
    return std::any_of(running.begin(), running.end(), [&](auto id) { return id != me; });
  }

  const std::shared_ptr<DispatchQueue> queue;
  const std::function<void()> handler;
  const bool earlyHandOff;

  mutable std::mutex mutex;
  std::condition_variable cv;
  bool active = false;
  bool firesImmediately = false;
  double interval = 0;
  std::int64_t intervalNanos = 0;
  std::uint64_t generation = 0;  // bumped by start() and stop(); stale firings check it
  std::int64_t anchor = 0;       // deadline k is anchor + k * intervalNanos
  std::int64_t k = 0;            // index of the scheduled deadline
  std::int64_t lastDeadline = 0;
  int pending = 0;  // firings of this generation waiting in the queue
  std::vector<std::thread::id> running;
  int mainWaiters = 0;
};

}  // namespace tw::detail

using tw::detail::Scheduler;
using tw::detail::TimerState;

QLNTimer::QLNTimer(std::shared_ptr<tw::DispatchQueue> queue, std::function<void()> handler) {
  TW_PARAMETER_ASSERT(queue != nullptr);
  state_ = std::make_shared<TimerState>(std::move(queue), std::move(handler));
}

QLNTimer::~QLNTimer() { stop(); }

bool QLNTimer::firesImmediately() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->firesImmediately;
}

void QLNTimer::setFiresImmediately(bool firesImmediately) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->firesImmediately = firesImmediately;
}

double QLNTimer::interval() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->interval;
}

void QLNTimer::setInterval(double seconds) {
  auto& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (seconds == s.interval) return;
  s.interval = seconds;
  s.intervalNanos = tw::detail::secondsToNanos(seconds);
  if (!s.active) return;
  if (s.intervalNanos <= 0) {
    Scheduler::instance().cancel(state_);
    return;
  }
  s.anchor = s.lastDeadline;
  s.k = 1;
  s.scheduleLocked(s.deadlineLocked(1));
}

bool QLNTimer::isActive() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->active;
}

void QLNTimer::start() {
  auto& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.active) return;
  s.active = true;
  ++s.generation;
  s.pending = 0;
  s.anchor = s.lastDeadline = tw::clock::monotonicNanos();
  s.k = 1;
  if (s.firesImmediately) s.postFiringLocked(nullptr);
  if (s.intervalNanos > 0) s.scheduleLocked(s.deadlineLocked(1));
}

void QLNTimer::stop() {
  auto& s = *state_;
  std::unique_lock<std::mutex> lock(s.mutex);
  if (s.active) {
    s.active = false;
    ++s.generation;
    s.pending = 0;
    Scheduler::instance().cancel(state_);
  }
  if (!s.runningElsewhereLocked()) return;
  if (tw::isMainThread()) {
    // The handler may be waiting for the main queue (a sync to main); keep serving it.
    ++s.mainWaiters;
    lock.unlock();
    tw::detail::MainLoopAccess::pumpUntil(
        [&] {
          std::lock_guard<std::mutex> g(s.mutex);
          return !s.runningElsewhereLocked();
        },
        std::nullopt);
    lock.lock();
    --s.mainWaiters;
  } else {
    s.cv.wait(lock, [&] { return !s.runningElsewhereLocked(); });
  }
}
