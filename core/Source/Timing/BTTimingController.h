#pragma once
// BTTimingController: hands out the one control of each time object (keyed by its uuid, made on
// first request by the object's kind) and keeps the tick scheduler's set in step with the
// objects' running state: a control whose object enters state 20 is added to the updater, any
// other state takes it off. Every screen, menu and action that drives a time object asks here,
// so all of them drive the same state machine.
//
// Also keeps the scheduler right when the world changes under it: a deleted time object's
// control is reset (leaving the scheduler) and forgotten, so it never ticks or fires again; and
// when "stopwatchAccuracy" is announced as changed, the scheduler re-reads the rates of what it
// holds and retimes without stopping. An exception from the scheduler (a rate it refuses) is
// logged and never crosses a state observer or a notification.
//
// One per process, made by the assembly with the updater and the action executor. Create with
// std::make_shared. Main thread only.

#include <memory>
#include <string>
#include <unordered_map>

#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Timing/BTActionExecutor.h"
#include "core/Source/Timing/BTTimeObjectControlViewModel.h"
#include "core/Source/Timing/BTUpdater.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Object.h"

class BTTimingController : public tw::Object {
 public:
  // Not supported: raises NSInternalInconsistencyException
  // "Unsupported initalizer use `initWithUpdater:` instead".
  BTTimingController();
  // `executor` may be null: the controls then use the registered default executor.
  BTTimingController(std::shared_ptr<BTUpdater> updater,
                     std::shared_ptr<BTActionExecutor> executor);
  ~BTTimingController() override;

  // The control of `timingObject`, made, synchronized with the stored state and observed on
  // first request. Null for an object without a uuid, or one that is deleted or whose store has
  // closed. Anything but a time object raises NSInternalInconsistencyException "Unsupported
  // class type for `timingObject`".
  std::shared_ptr<BTTimeObjectControlViewModel> timingControlForTimingObject(
      const std::shared_ptr<tw::Object>& timingObject);
  // Null unless the object is a stopwatch whose control takes split and lap.
  std::shared_ptr<BTTimeObjectControlViewModel> stopwatchControlForStopwatchObject(
      const std::shared_ptr<tw::Object>& object);

  // Resets the object's control (taking it off the scheduler) and forgets it; for whoever
  // deletes a time object, to call while the object is still whole. Deletions nobody reports
  // are caught from the store's change announcements as well.
  void timeObjectWillBeDeleted(const std::shared_ptr<BTTimeObject>& timeObject);

  // The control class by the object's class: alarm, timer, stopwatch, else the base.
  virtual std::shared_ptr<BTTimeObjectControlViewModel> createTimingControlForTimeObject(
      const std::shared_ptr<BTTimeObject>& timeObject);

  const std::shared_ptr<BTUpdater>& updater() const { return updater_; }
  const std::shared_ptr<BTActionExecutor>& actionExecutor() const { return actionExecutor_; }
  // Controls held (tests, diagnostics).
  std::size_t controlCount() const { return objectMap_.size(); }

 protected:
  void startObservingTimingState(const std::shared_ptr<BTTimeObjectControlViewModel>& control);
  void stopObservingTimingState(const std::shared_ptr<BTTimeObjectControlViewModel>& control);
  void stopObservingTimingStateForAllObjects();
  // Adds the control to the updater in state 20, takes it off in any other.
  void didChangeTimingState(const std::shared_ptr<BTTimeObjectControlViewModel>& control);

 private:
  struct Entry {
    std::shared_ptr<BTTimeObjectControlViewModel> control;
    tw::Observation stateObservation;
  };

  void addToUpdater(const std::shared_ptr<BTTimeObjectControlViewModel>& control);
  void removeFromUpdater(const std::shared_ptr<BTTimeObjectControlViewModel>& control);
  // Resets the control, takes it off the updater and forgets it.
  void dropControl(const std::string& uuid);
  void objectsDidChange(const tw::Notification& notification);
  void settingsDidChange(const tw::Notification& notification);
  void timeZoneMayHaveChanged(const tw::Notification& notification);

  std::shared_ptr<BTUpdater> updater_;
  std::shared_ptr<BTActionExecutor> actionExecutor_;
  std::unordered_map<std::string, Entry> objectMap_;
  tw::ScopedNotificationToken objectsObserver_;
  tw::ScopedNotificationToken settingsObserver_;
  tw::ScopedNotificationToken zoneObserver_;
  tw::ScopedNotificationToken wakeObserver_;
};
