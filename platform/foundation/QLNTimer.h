#pragma once
// QLNTimer: the periodic timer behind the tick scheduler, and the time-unit constants that come
// with it. Owned by platform/foundation. Every member may be called from any thread, including
// from inside the handler.
//
// The timer calls its handler on the dispatch queue it was given. On start() with
// setFiresImmediately(true) the first firing is queued at once; the following ones come on an
// absolute schedule (start + k * interval), so late firings do not push later ones back and the
// rate never drifts. A firing that comes due while two earlier ones still wait in the queue is
// merged into them, and firings missed while the process could not run are skipped, not bunched
// up. Changing the interval while active re-anchors the schedule on the last firing: the next
// one comes one new interval after it. stop() is synchronous: when it returns the handler is not
// running (unless stop() was called from the handler itself) and will not run again. A stopped
// timer costs nothing: no thread wakes for it. Deadlines follow tw::clock, so a VirtualClock
// drives the timer in tests. On a serial queue or the main queue under the real clock the
// queue's own thread sleeps to each deadline (the main thread in its event loop), so a firing
// costs that one wake-up; blocks queued on it meanwhile run in their order until the deadline
// comes.
//
// Idle firings: an owner whose handler has nothing to do on some firings (it only counts them)
// may say how many of the next firings can wait (setIdleFirings). Those are then held back and
// delivered, each as its own handler call, just before the next firing that cannot wait, in the
// same wake-up; their moments have passed by then. This only happens on a serial queue or the
// main queue under the real clock: under a VirtualClock every firing comes on its own deadline.

#include <functional>
#include <memory>

#include "platform/foundation/Dispatch.h"

inline constexpr int QLN_MSEC_PER_SEC = 1000;
inline constexpr int QLN_SEC_PER_MIN = 60;
inline constexpr int QLN_MIN_PER_HR = 60;
inline constexpr int QLN_SEC_PER_HR = 3600;
inline constexpr int QLN_HR_PER_DAY = 24;
inline constexpr int QLN_SEC_PER_DAY = 86400;
inline constexpr double QLN_SEC_PER_MSEC = 0.001;

namespace tw::detail {
struct TimerState;
}

class QLNTimer {
 public:
  // A stopped timer with interval 0 (a started timer with interval 0 fires only its immediate
  // firing, if any, until an interval is set).
  QLNTimer(std::shared_ptr<tw::DispatchQueue> queue, std::function<void()> handler);
  // Stops the timer (synchronously, as stop()).
  ~QLNTimer();
  QLNTimer(const QLNTimer&) = delete;
  QLNTimer& operator=(const QLNTimer&) = delete;

  bool firesImmediately() const;
  void setFiresImmediately(bool firesImmediately);
  // Seconds between firings.
  double interval() const;
  void setInterval(double seconds);
  bool isActive() const;
  // `idleAhead` is asked on the timer's queue right after each delivery (so after the handler
  // has run) how many of the next firings may be held back; null (the default) holds none.
  // It must be quick and must not call the timer.
  void setIdleFirings(std::function<std::uint64_t()> idleAhead);
  // The answer of idleAhead may have shrunk (the owner's needs changed): firings held back are
  // let go, each on its own deadline again (those already passed with the next one).
  void idleFiringsChanged();
  // Does nothing when already active.
  void start();
  void stop();

 private:
  std::shared_ptr<tw::detail::TimerState> state_;
};
