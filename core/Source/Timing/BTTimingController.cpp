#include "core/Source/Timing/BTTimingController.h"

#include <exception>
#include <vector>

#include "core/Source/Library/BTDateUtility.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Settings/BTSettingKeys.h"
#include "core/Source/Settings/BTSettingsNotification.h"
#include "core/Source/Timing/BTAlarmControlViewModel.h"
#include "core/Source/Timing/BTStopwatchControl.h"
#include "core/Source/Timing/BTStopwatchControlViewModel.h"
#include "core/Source/Timing/BTTimerControlViewModel.h"
#include "platform/desktop/TimeZoneMonitor.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/store/Context.h"

namespace {

std::string uuidOf(const BTTimeObjectControlViewModel& control) {
  return control.timeObject()->uuid().value_or("(null)");
}

}  // namespace

BTTimingController::BTTimingController() {
  tw::raise(tw::NSInternalInconsistencyException,
            "Unsupported initalizer use `initWithUpdater:` instead");
}

BTTimingController::BTTimingController(std::shared_ptr<BTUpdater> updater,
                                       std::shared_ptr<BTActionExecutor> executor)
    : updater_(std::move(updater)), actionExecutor_(std::move(executor)) {
  auto center = tw::NotificationCenter::defaultCenter();
  // Both observers run on the posting thread (the main thread here) and end with the tokens,
  // before anything of this object goes.
  objectsObserver_ =
      center->addObserver(tw::store::kObjectsDidChangeNotification, nullptr, nullptr,
                          [this](const tw::Notification& n) { objectsDidChange(n); });
  settingsObserver_ =
      center->addObserver(BTSettingsChangedNotification, nullptr, nullptr,
                          [this](const tw::Notification& n) { settingsDidChange(n); });
  // The zone may have changed unseen while the machine slept, so a wake counts as a change.
  zoneObserver_ =
      center->addObserver(tw::kSystemTimeZoneDidChangeNotification, nullptr, nullptr,
                          [this](const tw::Notification& n) { timeZoneMayHaveChanged(n); });
  wakeObserver_ =
      center->addObserver(tw::kWorkspaceDidWakeNotification, nullptr, nullptr,
                          [this](const tw::Notification& n) { timeZoneMayHaveChanged(n); });
}

BTTimingController::~BTTimingController() { stopObservingTimingStateForAllObjects(); }

std::shared_ptr<BTTimeObjectControlViewModel> BTTimingController::timingControlForTimingObject(
    const std::shared_ptr<tw::Object>& timingObject) {
  auto timeObject = std::dynamic_pointer_cast<BTTimeObject>(timingObject);
  if (!timeObject)
    tw::raise(tw::NSInternalInconsistencyException, "Unsupported class type for `timingObject`");
  const auto uuid = timeObject->uuid();
  if (!uuid) return nullptr;
  // A deleted object must not get a control that could tick or fire for it again.
  if (timeObject->isDeleted() || timeObject->isFault()) return nullptr;

  if (auto it = objectMap_.find(*uuid); it != objectMap_.end()) {
    const auto& held = it->second.control->timeObject();
    // The same row read again after the store was reopened: the old control drove an object
    // that is gone, so the new one takes over.
    if (held == timeObject || !(held->isFault() || held->isDeleted())) return it->second.control;
    dropControl(*uuid);
  }

  auto control = createTimingControlForTimeObject(timeObject);
  if (!control) return nullptr;
  objectMap_[*uuid] = Entry{control, {}};
  control->synchronize();
  startObservingTimingState(control);
  return control;
}

std::shared_ptr<BTTimeObjectControlViewModel>
BTTimingController::stopwatchControlForStopwatchObject(const std::shared_ptr<tw::Object>& object) {
  if (!std::dynamic_pointer_cast<BTStopwatch>(object)) return nullptr;
  auto control = timingControlForTimingObject(object);
  if (!std::dynamic_pointer_cast<BTStopwatchControl>(control)) return nullptr;
  return control;
}

std::shared_ptr<BTTimeObjectControlViewModel> BTTimingController::createTimingControlForTimeObject(
    const std::shared_ptr<BTTimeObject>& timeObject) {
  if (std::dynamic_pointer_cast<BTAlarm>(timeObject))
    return BTTimeObjectControlViewModel::create<BTAlarmControlViewModel>(timeObject,
                                                                         actionExecutor_);
  if (std::dynamic_pointer_cast<BTTimer>(timeObject))
    return BTTimeObjectControlViewModel::create<BTTimerControlViewModel>(timeObject,
                                                                         actionExecutor_);
  if (std::dynamic_pointer_cast<BTStopwatch>(timeObject))
    return BTTimeObjectControlViewModel::create<BTStopwatchControlViewModel>(timeObject,
                                                                             actionExecutor_);
  return BTTimeObjectControlViewModel::create(timeObject, actionExecutor_);
}

// ----- state observation

void BTTimingController::startObservingTimingState(
    const std::shared_ptr<BTTimeObjectControlViewModel>& control) {
  const auto uuid = control->timeObject()->uuid();
  if (!uuid) return;
  auto it = objectMap_.find(*uuid);
  if (it == objectMap_.end() || it->second.control != control) return;
  std::weak_ptr<BTTimeObjectControlViewModel> weakControl = control;
  // The handle lives in the map, so the observation ends before this object does.
  auto observation = control->observeScoped("timingObject.timingState", tw::KVONew | tw::KVOInitial,
                                            [this, weakControl](const tw::KeyValueChange&) {
                                              if (auto c = weakControl.lock())
                                                didChangeTimingState(c);
                                            });
  // The initial delivery may have run anything; look the entry up again.
  it = objectMap_.find(*uuid);
  if (it != objectMap_.end() && it->second.control == control)
    it->second.stateObservation = std::move(observation);
}

void BTTimingController::stopObservingTimingState(
    const std::shared_ptr<BTTimeObjectControlViewModel>& control) {
  for (auto& [uuid, entry] : objectMap_) {
    if (entry.control == control) entry.stateObservation.invalidate();
  }
}

void BTTimingController::stopObservingTimingStateForAllObjects() {
  for (auto& [uuid, entry] : objectMap_) entry.stateObservation.invalidate();
}

void BTTimingController::didChangeTimingState(
    const std::shared_ptr<BTTimeObjectControlViewModel>& control) {
  if (control->timeObject()->timingState() == tw::kTimingStateRunning)
    addToUpdater(control);
  else
    removeFromUpdater(control);
}

void BTTimingController::addToUpdater(
    const std::shared_ptr<BTTimeObjectControlViewModel>& control) {
  if (!updater_) return;
  try {
    updater_->addUpdateableObject(control);
  } catch (...) {
    // Called from state observers: nothing may escape. The object stays running, unticked.
    tw::logf("<BTTimingController> Could not schedule updates of %@: %@", uuidOf(*control),
             tw::describeCurrentException());
  }
}

void BTTimingController::removeFromUpdater(
    const std::shared_ptr<BTTimeObjectControlViewModel>& control) {
  if (!updater_) return;
  try {
    updater_->removeUpdateableObject(control);
  } catch (...) {
    tw::logf("<BTTimingController> Could not stop updates of %@: %@", uuidOf(*control),
             tw::describeCurrentException());
  }
}

// ----- deletion and settings

void BTTimingController::dropControl(const std::string& uuid) {
  auto it = objectMap_.find(uuid);
  if (it == objectMap_.end()) return;
  Entry entry = std::move(it->second);
  objectMap_.erase(it);
  entry.stateObservation.invalidate();
  try {
    // Ends a run (and a pending reset after a finish) the way the user's Reset would.
    entry.control->reset();
  } catch (...) {
    tw::logf("<BTTimingController> Could not reset the control of %@: %@", uuid,
             tw::describeCurrentException());
  }
  removeFromUpdater(entry.control);
}

void BTTimingController::timeObjectWillBeDeleted(const std::shared_ptr<BTTimeObject>& timeObject) {
  if (!timeObject) return;
  std::vector<std::string> gone;
  for (const auto& [uuid, entry] : objectMap_) {
    if (entry.control->timeObject() == timeObject) gone.push_back(uuid);
  }
  for (const auto& uuid : gone) dropControl(uuid);
}

void BTTimingController::objectsDidChange(const tw::Notification&) {
  // Not only the objects listed as deleted: one inserted and deleted again before its insertion
  // was announced is listed nowhere, and one whose store closed is gone all the same.
  std::vector<std::string> gone;
  for (const auto& [uuid, entry] : objectMap_) {
    const auto& object = entry.control->timeObject();
    if (object->isDeleted() || object->isFault()) gone.push_back(uuid);
  }
  for (const auto& uuid : gone) dropControl(uuid);
}

void BTTimingController::settingsDidChange(const tw::Notification& notification) {
  if (!bt_settingKeyChanged(notification, tw::settingkeys::kStopwatchAccuracy) || !updater_) return;
  // Running stopwatches now want another rate; the scheduler re-reads what it holds and only
  // retimes, so nothing stops and starts on the way.
  try {
    updater_->refreshUpdateRates();
  } catch (...) {
    // Called from a notification: nothing may escape. Everything ticks on at its previous rate.
    tw::logf("<BTTimingController> Could not apply the new update rates: %@",
             tw::describeCurrentException());
  }
}

void BTTimingController::timeZoneMayHaveChanged(const tw::Notification&) {
  BTDateUtility::timeZoneMayHaveChanged();
  std::vector<std::shared_ptr<BTAlarmControlViewModel>> alarms;
  for (const auto& [uuid, entry] : objectMap_) {
    if (auto alarm = std::dynamic_pointer_cast<BTAlarmControlViewModel>(entry.control))
      alarms.push_back(alarm);
  }
  // Re-arming ticks the alarm, which may run anything; the list is our own copy.
  for (const auto& alarm : alarms) {
    try {
      alarm->followTimeZone();
    } catch (...) {
      tw::logf("<BTTimingController> Could not re-arm %@ for the new time zone: %@", uuidOf(*alarm),
               tw::describeCurrentException());
    }
  }
}
