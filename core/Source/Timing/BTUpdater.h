#pragma once
// BTUpdater: the tick scheduler. Holds the objects that need regular updates (the controls of
// running time objects), runs one periodic timer at a rate that serves every object's own rate on
// exact multiples of ticks, and on each due tick queues the object's update() on the main queue.
// The timer starts with the first object and stops with the last; the delegate hears both.
// One per process, made by the assembly and fed by the timing controller.
//
// Threads: add/remove/validate/refresh and the delegate calls belong to the main thread (checked
// in debug and sanitizer builds). Rates are read there (when an object arrives, and again on
// refreshUpdateRates) and handed to the timer's handler under its lock, so the handler never calls
// into an object. The timer fires on the main queue, and its handler turns each firing into the
// due updates, queued behind it on the main queue (never run inside the handler, which holds the
// set's lock). Destroying the updater stops the timer before the destructor returns.
//
// Wake-ups: a tick on which no object is due is only counted. The timer holds such ticks back
// and delivers them with the next due one (see QLNTimer's idle firings); a due tick wakes the
// main thread alone, from its own event loop: the updates run there anyway, and a timer thread
// handing each tick over would double the wake-ups of a running timer.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/Source/Timing/BTUpdateable.h"
#include "core/Source/Timing/BTUpdaterDelegate.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/QLNTimer.h"

class BTUpdater : public tw::Object {
 public:
  // Highest rate, of an object or of the common multiple of all rates, the updater accepts.
  static constexpr std::uint64_t kMaximumRate = 500;

  BTUpdater();
  ~BTUpdater() override;

  // A snapshot of the objects being ticked.
  std::vector<std::shared_ptr<BTUpdateable>> updateableObjects() const;

  // Adding an object already present, or removing an absent one, changes nothing. An object whose
  // rate is 0 or above 500, or whose rate would take the common multiple above 500, raises
  // NSInternalInconsistencyException "<BTUpdater> invalid updateable object rate; valid range <=
  // 500 Hz" and leaves the updater as it was. A null object is ignored.
  void addUpdateableObject(const std::shared_ptr<BTUpdateable>& object);
  void removeUpdateableObject(const std::shared_ptr<BTUpdateable>& object);

  // Brings the timer in line with the set: stopped when empty, else running at
  // optimalUpdateRate().
  void validateUpdateableObjects();

  // Reads the rate of every object held afresh and brings the timer in line, for when what an
  // object wants has changed while it runs (the stopwatch accuracy setting). Nothing leaves the
  // set, so the timer keeps running and the delegate hears nothing; only the interval moves. A set
  // of rates the updater cannot serve raises as addUpdateableObject does, and every object keeps
  // the rate it had. Main thread, like add and remove.
  void refreshUpdateRates();

  // Timer rate for the current set: the least common multiple of the distinct rates, doubled when
  // it equals the largest rate (so the fastest object is served every second tick). 0 when empty.
  std::uint16_t optimalUpdateRate() const;

  std::shared_ptr<BTUpdaterDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<BTUpdaterDelegate> delegate) { delegate_ = std::move(delegate); }

  const std::shared_ptr<QLNTimer>& updateTimer() const { return updateTimer_; }
  void setUpdateTimer(std::shared_ptr<QLNTimer> timer) { updateTimer_ = std::move(timer); }

  // ----- diagnostics (tests and benchmarks)
  // Timer firings since creation, and how many of them the handler has finished with.
  std::uint64_t updateTicks() const;
  std::uint64_t servedTicks() const;
  // The rate the timer currently runs at (0 until first set).
  std::uint16_t timerUpdateRate() const;
  // Called on the timer's queue (the main queue) at the start of every pass with the number of the
  // firing it serves. It runs while the set is locked: it must be quick and must not call the
  // updater.
  void setTickObserver(std::function<void(std::uint64_t tick)> observer);

 private:
  struct Core;
  struct Entry;

  void setupTasks();
  void validateOnce();
  // Raises unless `rates` is a set the timer can serve; returns its timer rate.
  static std::uint16_t rateForRates(const std::vector<std::uint16_t>& rates);

  std::shared_ptr<Core> core_;
  std::weak_ptr<BTUpdaterDelegate> delegate_;
  std::shared_ptr<QLNTimer> updateTimer_;
  // Re-entrancy guard of validateUpdateableObjects: stopping the timer may serve main-queue work,
  // and an update run there may add or remove objects again.
  bool validating_ = false;
  bool revalidate_ = false;
};
