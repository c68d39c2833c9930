// The periodic timer (see QLNTimer.h). On a serial queue or the main queue under the real clock
// the queue's own thread sleeps to each deadline (one wake-up per firing, none for held-back idle
// firings); otherwise, and under a virtual clock, the timer is one entry in the process scheduler,
// re-armed at each firing for the next absolute deadline.

#include "platform/foundation/QLNTimer.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/Dispatch_impl.h"
#include "platform/foundation/Exception.h"

namespace tw::detail {

namespace {
// The most idle firings held back behind one wake-up.
constexpr std::uint64_t kMaxHeldBack = 1000;
}  // namespace

struct TimerState final : TimedEntry {
  TimerState(std::shared_ptr<DispatchQueue> q, std::function<void()> h)
      : queue(std::move(q)), handler(std::move(h)), timedQueue(supportsNotBefore(*queue)) {}

  // Whether the queue's own thread keeps the deadlines. Under a virtual clock advance() hands
  // every firing over itself, on its own deadline.
  bool directLocked() const {
    return timedQueue && g_virtualClock.load(std::memory_order_acquire) == nullptr;
  }

  // Deadline k, held at "never" when a huge interval would run past the clock's range.
  std::int64_t deadlineLocked(std::int64_t n) const {
    if (n > 0 && intervalNanos > INT64_MAX / n) return INT64_MAX;
    return deadlineAfter(anchor, n * intervalNanos);
  }

  void cancelDirectLocked() {
    if (directId == 0) return;
    cancelNotBefore(*queue, directId);
    directId = 0;
  }

  void scheduleLocked(std::int64_t deadline) {
    cancelDirectLocked();
    if (!directLocked()) {
      Scheduler::instance().schedule(shared_from_this(), deadline);
      return;
    }
    Scheduler::instance().cancel(shared_from_this());
    auto self = std::static_pointer_cast<TimerState>(shared_from_this());
    directId = postNotBefore(*queue, deadline, [self, gen = generation] { self->wake(gen); });
  }

  void unscheduleLocked() {
    cancelDirectLocked();
    Scheduler::instance().cancel(shared_from_this());
  }

  // Scheduler side: the deadline anchor + k * interval has come.
  void fire(const std::shared_ptr<Completion>& done) override {
    std::unique_lock<std::mutex> lock(mutex);
    if (!active || intervalNanos <= 0) {
      lock.unlock();
      if (done) done->complete();
      return;
    }
    const std::int64_t now = clock::monotonicNanos();
    const std::int64_t due = deadlineLocked(k);
    if (due > now) {
      // Not due: start() or setInterval() placed the entry anew just as the scheduler took it.
      scheduleLocked(due);
      lock.unlock();
      if (done) done->complete();
      return;
    }
    advanceLocked(due, now);
    scheduleLocked(deadlineLocked(k));
    postFiringsLocked(1, done);
  }

  // Deadline k has come (`due`): the next one is k + 1, skipping those missed while the process
  // could not run.
  void advanceLocked(std::int64_t due, std::int64_t now) {
    lastDeadline = due;
    ++k;
    if (deadlineLocked(k) <= now) k = (now - anchor) / intervalNanos + 1;
  }

  void postFiringsLocked(std::uint64_t count, const std::shared_ptr<Completion>& done) {
    // One firing normally waits in the queue; a second may queue behind it when the queue runs
    // late. Beyond that the queue is not keeping up and further firings merge into those
    // waiting.
    if (pending >= 2) {
      if (done) done->complete();
      return;
    }
    ++pending;
    auto self = std::static_pointer_cast<TimerState>(shared_from_this());
    queue->async([self, gen = generation, count, done] {
      self->runFirings(gen, count, true);
      if (done) done->complete();
    });
  }

  // Queue side, real clock: the wake-up for deadline k (with the idle firings held back before
  // it) has come.
  void wake(std::uint64_t gen) {
    std::uint64_t count;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (gen != generation || !active || intervalNanos <= 0) return;
      directId = 0;
      if (!directLocked()) {  // a virtual clock came meanwhile: it hands the firings over
        scheduleLocked(deadlineLocked(k));
        return;
      }
      const std::int64_t now = clock::monotonicNanos();
      const std::int64_t due = deadlineLocked(k);
      if (due > now) {
        scheduleLocked(due);
        return;
      }
      count = 1 + heldBack;
      heldBack = 0;
      advanceLocked(due, now);
    }
    runFirings(gen, count, false);
    // Only the owner knows which of the next firings nobody needs at once.
    const std::uint64_t idle = idleAhead ? std::min(idleAhead(), kMaxHeldBack) : 0;
    std::lock_guard<std::mutex> lock(mutex);
    if (gen != generation || !active || intervalNanos <= 0 || directId != 0) return;
    const std::int64_t now = clock::monotonicNanos();
    // Held back only while their deadlines lie ahead: a late queue delivers at once.
    std::uint64_t held = 0;
    while (held < idle && deadlineLocked(k + static_cast<std::int64_t>(held)) > now) ++held;
    heldBack = held;
    k += static_cast<std::int64_t>(held);
    scheduleLocked(deadlineLocked(k));
  }

  // The held-back firings whose deadlines have passed are owed now; the rest are cancelled and
  // the wake-up moves to the first of them.
  std::uint64_t releaseHeldBackLocked(std::int64_t now) {
    if (heldBack == 0) return 0;
    const std::int64_t first = k - static_cast<std::int64_t>(heldBack);
    std::uint64_t passed = 0;
    while (passed < heldBack && deadlineLocked(first + static_cast<std::int64_t>(passed)) <= now)
      ++passed;
    heldBack = 0;
    k = first + static_cast<std::int64_t>(passed);
    if (passed > 0) lastDeadline = deadlineLocked(k - 1);
    return passed;
  }

  void runFirings(std::uint64_t gen, std::uint64_t count, bool queued) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (gen != generation) return;  // from before a stop(); a newer firing may be pending
      if (queued) --pending;
      if (!active) return;
      running.push_back(std::this_thread::get_id());
    }
    for (std::uint64_t i = 0; i < count; ++i) callGuarded(queue->label().c_str(), handler);
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
  const bool timedQueue;  // the queue keeps deadlines itself (serial queues, the main queue)

  // Guards the schedule below; cv waits on it.
  mutable std::mutex mutex;
  std::condition_variable cv;
  bool active = false;
  bool firesImmediately = false;
  double interval = 0;
  std::int64_t intervalNanos = 0;
  std::uint64_t generation = 0;  // bumped by start() and stop(); stale firings check it
  std::int64_t anchor = 0;       // deadline k is anchor + k * intervalNanos
  std::int64_t k = 0;            // index of the deadline armed next
  std::int64_t lastDeadline = 0;
  std::uint64_t heldBack = 0;  // idle firings just before deadline k, delivered with it
  std::uint64_t directId = 0;  // the queue's timed block for deadline k, if any
  std::function<std::uint64_t()> idleAhead;
  int pending = 0;  // firings of this generation waiting in the queue
  std::vector<std::thread::id> running;
  int mainWaiters = 0;
};

namespace {
// Timers on serial queues and the main queue, which may hold a deadline on their queue rather
// than in the scheduler; a VirtualClock takes those over when it is installed.
std::mutex g_directLock;
std::vector<std::weak_ptr<TimerState>> g_directTimers;
}  // namespace

void registerDirectTimer(const std::shared_ptr<TimerState>& timer) {
  std::lock_guard<std::mutex> lock(g_directLock);
  std::erase_if(g_directTimers, [](const auto& weak) { return weak.expired(); });
  g_directTimers.push_back(timer);
}

void handDirectTimersToScheduler() {
  std::vector<std::shared_ptr<TimerState>> timers;
  {
    std::lock_guard<std::mutex> lock(g_directLock);
    for (const auto& weak : g_directTimers)
      if (auto timer = weak.lock()) timers.push_back(std::move(timer));
  }
  for (const auto& timer : timers) {
    std::lock_guard<std::mutex> lock(timer->mutex);
    if (timer->directId == 0 || !timer->active) continue;
    const std::uint64_t owed = timer->releaseHeldBackLocked(clock::monotonicNanos());
    if (owed > 0) timer->postFiringsLocked(owed, nullptr);
    timer->scheduleLocked(timer->deadlineLocked(timer->k));
  }
}

}  // namespace tw::detail

using tw::detail::Scheduler;
using tw::detail::TimerState;

QLNTimer::QLNTimer(std::shared_ptr<tw::DispatchQueue> queue, std::function<void()> handler) {
  TW_PARAMETER_ASSERT(queue != nullptr);
  state_ = std::make_shared<TimerState>(std::move(queue), std::move(handler));
  if (state_->timedQueue) tw::detail::registerDirectTimer(state_);
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
  // Held-back firings whose moment has passed belong to the old interval: they are owed.
  const std::uint64_t owed = s.active ? s.releaseHeldBackLocked(tw::clock::monotonicNanos()) : 0;
  s.interval = seconds;
  s.intervalNanos = tw::detail::secondsToNanos(seconds);
  if (!s.active) return;
  if (owed > 0) s.postFiringsLocked(owed, nullptr);
  if (s.intervalNanos <= 0) {
    s.unscheduleLocked();
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

void QLNTimer::setIdleFirings(std::function<std::uint64_t()> idleAhead) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->idleAhead = std::move(idleAhead);
}

void QLNTimer::idleFiringsChanged() {
  auto& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.active || s.heldBack == 0 || s.intervalNanos <= 0) return;
  const std::uint64_t owed = s.releaseHeldBackLocked(tw::clock::monotonicNanos());
  // Those whose moment has passed go with the wake-up, which now comes at the next deadline.
  s.heldBack = owed;
  s.scheduleLocked(s.deadlineLocked(s.k));
}

void QLNTimer::start() {
  auto& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.active) return;
  s.active = true;
  ++s.generation;
  s.pending = 0;
  s.heldBack = 0;
  s.anchor = s.lastDeadline = tw::clock::monotonicNanos();
  s.k = 1;
  if (s.firesImmediately) s.postFiringsLocked(1, nullptr);
  if (s.intervalNanos > 0) s.scheduleLocked(s.deadlineLocked(1));
}

void QLNTimer::stop() {
  auto& s = *state_;
  std::unique_lock<std::mutex> lock(s.mutex);
  if (s.active) {
    s.active = false;
    ++s.generation;
    s.pending = 0;
    s.heldBack = 0;
    s.unscheduleLocked();
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
