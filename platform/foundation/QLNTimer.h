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
// drives the timer in tests. On a serial queue a firing is handed to the queue shortly (at most
// 2 ms, and at most half an interval) before its deadline and its thread starts it at the
// deadline; blocks queued in that moment run after it.

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
  // Does nothing when already active.
  void start();
  void stop();

 private:
  std::shared_ptr<tw::detail::TimerState> state_;
};
