#pragma once
// ORVTimer: runs a block repeatedly, every timeInterval seconds, as an operation of the given
// queue (the analytics controller's event queue); the ticks come from delayed work on a global
// dispatch queue, so they follow the process clock (virtual in tests). Releasing the timer stops
// it. A non-finite or non-positive interval schedules nothing; intervals are capped at
// kMaximumInterval. Created and released on the event queue.
// ORVActivity / ORVActivityOperation: keep the process from being ended while the kit writes or
// sends events (sudden and automatic termination switched off for the activity's span, counted
// by tw::TerminationActivities, which the application's ending waits for); the operation ends its
// activity when it runs, after the work it depends on.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "kits/platform/TerminationActivities.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"

class ORVTimer : public std::enable_shared_from_this<ORVTimer> {
 public:
  static constexpr double kMaximumInterval = 86400.0 * 365;

  static std::shared_ptr<ORVTimer> create(double timeInterval,
                                          std::shared_ptr<tw::OperationQueue> queue,
                                          std::string timerIdentifier, std::function<void()> block);
  ~ORVTimer();
  double tolerance() const { return timeInterval_ / 10.0; }
  void executeBlock();
  const std::string& timerIdentifier() const { return timerIdentifier_; }
  double timeInterval() const { return timeInterval_; }

 private:
  ORVTimer(double timeInterval, std::shared_ptr<tw::OperationQueue> queue, std::string identifier,
           std::function<void()> block);
  void scheduleDispatchTimer();

  double timeInterval_;
  std::shared_ptr<tw::OperationQueue> queue_;
  std::string timerIdentifier_;
  std::function<void()> timerBlock_;
  // Guards pending_.
  std::mutex mutex_;
  tw::DelayedWork pending_;
};

class ORVActivity {
 public:
  static constexpr std::uint64_t kSuddenTerminationDisabled =
      tw::TerminationActivities::kSuddenTerminationDisabled;
  static constexpr std::uint64_t kAutomaticTerminationDisabled =
      tw::TerminationActivities::kAutomaticTerminationDisabled;

  static std::shared_ptr<ORVActivity> beginActivity(const std::string& reason,
                                                    std::uint64_t options);
  static void performActivity(const std::string& reason, std::uint64_t options,
                              const std::function<void()>& block);
  ~ORVActivity();
  // Idempotent.
  void end();
  bool isActive() const { return active_; }
  std::uint64_t options() const { return options_; }
  const std::string& reason() const { return reason_; }
  std::uint64_t backgroundTaskIdentifier() const { return 0; }

 private:
  ORVActivity(std::uint64_t options, std::string reason);
  std::uint64_t options_;
  std::string reason_;
  std::atomic<bool> active_{true};
  std::uint64_t token_ = 0;  // of tw::TerminationActivities
};

class ORVActivityOperation : public tw::Operation {
 public:
  // The activity begins at once, before the operation is queued.
  static std::shared_ptr<ORVActivityOperation> operationByStartingActivityName(
      const std::string& name, std::uint64_t options);
  void startActivityWithName(const std::string& name, std::uint64_t options);
  void main() override;
  const std::shared_ptr<ORVActivity>& activity() const { return activity_; }

 private:
  std::shared_ptr<ORVActivity> activity_;
};
