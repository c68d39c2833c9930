#pragma once
// The one clock of the process. Every "now" of the system (the wall clock that running time
// objects measure against, the monotonic clock behind delayed work and timers) is read here, so
// tests can replace both with a virtual clock and drive time without sleeping.
// Owned by platform/foundation. Reads are thread-safe from any thread, and lock-free while no
// virtual clock is installed.

#include <cstdint>
#include <memory>
#include <optional>

namespace tw {

class VirtualClock;

namespace clock {
// Seconds since 1970 on the wall clock (realtime: whole seconds plus nanoseconds / 1e9).
double wallNow();
// Seconds on a monotonic clock with an arbitrary origin; never jumps.
double monotonicNow();
// Nanoseconds on the same monotonic clock.
std::int64_t monotonicNanos();
// The installed virtual clock, or nullptr when the real clocks are in use.
VirtualClock* virtualClock();
}  // namespace clock

// A clock for tests. While one is installed (only one at a time), tw::clock reads it; time moves
// only through advance()/setWall(). advance() moves both clocks and hands every delayed block,
// timer firing and timed wait that has come due to its queue, in deadline order, so a test that
// advances and then pumps the main loop sees exactly what real time would have produced.
// Delayed work and timer firings bound for other queues are handed to their queue and waited for
// (while the main queue keeps running) before the clock steps on, so their effects are in place
// when advance() returns. Timed waits on other threads wake when their virtual deadline passes.
// The virtual monotonic clock starts where the real one stands, so work scheduled before the
// clock was installed keeps its place; when the clock goes, what is still pending moves back to
// real time with the time it had left.
class VirtualClock {
 public:
  explicit VirtualClock(double wallStart = 1'700'000'000.0);
  ~VirtualClock();
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;

  double wall() const;
  double monotonic() const;
  // Moves both clocks forward by `seconds`, stepping through every deadline on the way, and after
  // each due item runs the main queue's pending work (so chains of delayed work behave as in real
  // time). Must be called on the main thread.
  void advance(double seconds);
  // Moves only the wall clock (a user changing the system time); deadlines are unaffected.
  void setWall(double secondsSince1970);
  // The earliest pending deadline (delayed work, timer firing, timed wait) on the monotonic
  // clock, if any: lets a test see that another thread's timed wait has begun before advancing.
  std::optional<double> nextDeadline() const;

 private:
  friend double clock::wallNow();
  friend double clock::monotonicNow();
  friend std::int64_t clock::monotonicNanos();
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tw
