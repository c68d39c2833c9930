// The process clock and the virtual clock for tests (see Clock.h).

#include "platform/foundation/Clock.h"

#include <time.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "platform/foundation/Dispatch_impl.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"

namespace tw {

struct VirtualClock::State {
  std::atomic<std::int64_t> mono{0};
  // Guards the two anchors (mono is atomic).
  mutable std::mutex wallMutex;
  // wall = wallAnchor + (mono - monoAnchor): computed, never accumulated, so thousands of small
  // steps add no rounding drift.
  double wallAnchor = 0;
  std::int64_t monoAnchor = 0;
};

namespace clock {

double wallNow() {
  if (VirtualClock* v = detail::g_virtualClock.load(std::memory_order_acquire)) return v->wall();
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::int64_t monotonicNanos() {
  if (VirtualClock* v = detail::g_virtualClock.load(std::memory_order_acquire))
    return v->state_->mono.load(std::memory_order_acquire);
  return detail::realMonotonicNanos();
}

double monotonicNow() { return static_cast<double>(monotonicNanos()) / 1e9; }

VirtualClock* virtualClock() { return detail::g_virtualClock.load(std::memory_order_acquire); }

}  // namespace clock

VirtualClock::VirtualClock(double wallStart) : state_(std::make_unique<State>()) {
  const std::int64_t now = detail::realMonotonicNanos();
  state_->mono.store(now);
  state_->wallAnchor = wallStart;
  state_->monoAnchor = now;
  if (clock::virtualClock() != nullptr)
    raise(NSInternalInconsistencyException, "A virtual clock is already installed");
  detail::Scheduler::instance().enterVirtual(this);
  detail::handDirectTimersToScheduler();
}

VirtualClock::~VirtualClock() {
  detail::Scheduler::instance().leaveVirtual(detail::realMonotonicNanos() - state_->mono.load());
}

double VirtualClock::wall() const {
  std::lock_guard<std::mutex> lock(state_->wallMutex);
  return state_->wallAnchor + static_cast<double>(state_->mono.load() - state_->monoAnchor) / 1e9;
}

double VirtualClock::monotonic() const { return static_cast<double>(state_->mono.load()) / 1e9; }

void VirtualClock::setWall(double secondsSince1970) {
  std::lock_guard<std::mutex> lock(state_->wallMutex);
  state_->wallAnchor = secondsSince1970;
  state_->monoAnchor = state_->mono.load();
}

std::optional<double> VirtualClock::nextDeadline() const {
  auto next = detail::Scheduler::instance().nextDeadline();
  if (!next) return std::nullopt;
  return static_cast<double>(*next) / 1e9;
}

void VirtualClock::advance(double seconds) {
  if (!isMainThread())
    raise(NSInternalInconsistencyException,
          "VirtualClock::advance must be called on the main thread");
  auto& scheduler = detail::Scheduler::instance();
  const std::int64_t start = state_->mono.load();
  const std::int64_t span = detail::secondsToNanos(seconds);
  const std::int64_t target = detail::deadlineAfter(start, span);

  detail::MainLoopAccess::drain();
  for (;;) {
    std::int64_t deadline = 0;
    auto entry = scheduler.takeDue(target, &deadline);
    if (!entry) break;
    // Entries left behind (due before now) fire without moving time backwards.
    if (deadline > state_->mono.load()) state_->mono.store(deadline);
    auto done = std::make_shared<detail::Completion>();
    entry->fire(done);
    entry.reset();
    // Work handed to another queue finishes before time moves on, so its effects (and what it
    // posts to the main queue) are in place; the main queue keeps running meanwhile, so work
    // that waits for the main thread cannot deadlock us. The real-time bound only guards a test
    // against a queue that never comes free.
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    if (!detail::MainLoopAccess::pumpUntil([&] { return done->isDone(); }, guard))
      log(LogLevel::Error,
          "VirtualClock: work due at a virtual deadline did not finish within "
          "10 s of real time; moving on");
    detail::MainLoopAccess::drain();
  }
  state_->mono.store(target);
  detail::MainLoopAccess::drain();
}

}  // namespace tw
