#include "core/Source/Timing/BTTimeObjectControlViewModel.h"

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTActionTriggerProtocol.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimer.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Localization.h"
#include "platform/foundation/Log.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"
#include "platform/signals/RACSubscriptingAssignmentTrampoline.h"
#include "platform/store/Context.h"
#include "platform/store/PersistentStore.h"

namespace {

std::optional<std::int64_t> stateOf(const tw::Value& value) {
  if (!value.isNumber()) return std::nullopt;
  return value.integerValue();
}

}  // namespace

BTTimeObjectControlViewModel::BTTimeObjectControlViewModel(
    ConstructionKey, std::shared_ptr<BTTimeObject> timeObject,
    std::shared_ptr<BTActionExecutor> executor)
    : BTTimeObjectViewModel(std::move(timeObject)), actionExecutor_(std::move(executor)) {}

BTTimeObjectControlViewModel::~BTTimeObjectControlViewModel() { pendingReset_.cancel(); }

BTTimeObjectControlViewModel::Kind BTTimeObjectControlViewModel::kind() const {
  const BTTimeObject* object = timeObject().get();
  if (dynamic_cast<const BTAlarm*>(object)) return Kind::Alarm;
  if (dynamic_cast<const BTStopwatch*>(object)) return Kind::Stopwatch;
  if (dynamic_cast<const BTTimer*>(object)) return Kind::Timer;
  return Kind::Other;
}

void BTTimeObjectControlViewModel::bindViewModel() {
  TW_MAIN_THREAD_ONLY("BTTimeObjectControlViewModel::bindViewModel");
  auto self = std::static_pointer_cast<BTTimeObjectControlViewModel>(shared_from_this());
  RAC(self, "startText") = startTextSignal();
  RAC(self, "startEnabled") = startEnabledSignal();
  RAC(self, "resetEnabled") = resetEnabledSignal();
}

// ----- buttons

std::string BTTimeObjectControlViewModel::resetText() const {
  return tw::localized(kind() == Kind::Timer ? "Stop" : "Reset");
}

std::shared_ptr<RACSignal> BTTimeObjectControlViewModel::startTextSignal() {
  const Kind k = kind();
  auto self = shared_from_this();
  return rac_valuesForKeyPath(self, "timeObject.timingState", self)
      ->map([k](const tw::Value& value) -> tw::Value {
        if (k == Kind::Alarm) return tw::localized("Set");
        const auto state = stateOf(value);
        if (!state) return {};
        switch (*state) {
          case tw::kTimingStateRunning:
          case tw::kTimingStateFinished:
            return tw::localized(k == Kind::Stopwatch ? "Stop" : "Pause");
          case tw::kTimingStateReset:
            return tw::localized("Start");
          case tw::kTimingStatePaused:
            return tw::localized(k == Kind::Stopwatch ? "Start" : "Resume");
          default:
            return {};
        }
      });
}

std::shared_ptr<RACSignal> BTTimeObjectControlViewModel::startEnabledSignal() {
  const bool isAlarm = kind() == Kind::Alarm;
  auto self = shared_from_this();
  return rac_valuesForKeyPath(self, "timeObject.timingState", self)
      ->map([isAlarm](const tw::Value& value) -> tw::Value {
        if (!isAlarm) return true;
        const auto state = stateOf(value);
        return !(state &&
                 (*state == tw::kTimingStateRunning || *state == tw::kTimingStateFinished));
      });
}

std::shared_ptr<RACSignal> BTTimeObjectControlViewModel::resetEnabledSignal() {
  auto self = shared_from_this();
  return rac_valuesForKeyPath(self, "timeObject.timingState", self)
      ->map([](const tw::Value& value) -> tw::Value {
        const auto state = stateOf(value);
        return state && *state != tw::kTimingStateReset;
      });
}

void BTTimeObjectControlViewModel::startOrPause() {
  TW_MAIN_THREAD_ONLY("BTTimeObjectControlViewModel::startOrPause");
  switch (currentState()) {
    case tw::kTimingStateReset:
    case tw::kTimingStatePaused:
      start();
      break;
    case tw::kTimingStateRunning:
      pause();
      break;
    default:
      break;
  }
}

// ----- ticking

std::uint16_t BTTimeObjectControlViewModel::updateRate() const {
  tw::raiseUnrecognizedSelector(className(), "updateRate");
}

double BTTimeObjectControlViewModel::timingValue() const {
  tw::raiseUnrecognizedSelector(className(), "timingValue");
}

void BTTimeObjectControlViewModel::update() {
  TW_MAIN_THREAD_ONLY("BTTimeObjectControlViewModel::update");
  const auto& object = timeObject();
  if (object->timingState() != tw::kTimingStateRunning) return;
  // Deleted, or its store closed: nothing of it may fire any more, and the run ends (which also
  // takes the control off the scheduler).
  if (object->isDeleted() || object->isFault()) {
    reset();
    return;
  }
  const double value = std::max(0.0, timingValue());
  // A timer shows whole seconds but is ticked twice a second: setting the value it already has
  // would only send every observer (list row, display, menus) through the same text again.
  if (value != object->timingValue()) object->setTimingValue(value);
  evaluateAndExecuteActions();
  if (inStateChange_ > 0) {
    deferredUpdate_ = value;
    return;
  }
  onUpdated(value);
}

// ----- state machine

std::int64_t BTTimeObjectControlViewModel::currentState() const {
  return timeObject()->timingState();
}

void BTTimeObjectControlViewModel::synchronize() {
  TW_MAIN_THREAD_ONLY("BTTimeObjectControlViewModel::synchronize");
  onSynchronize();
}

void BTTimeObjectControlViewModel::start() {
  TW_MAIN_THREAD_ONLY("BTTimeObjectControlViewModel::start");
  const std::int64_t previous = currentState();
  if (previous == tw::kTimingStateRunning) return;
  setTimingState(tw::kTimingStateRunning, [this, previous] {
    // A finished object started directly (a link action) begins a new run: its triggers fire
    // again, as after a reset.
    if (previous == tw::kTimingStateFinished) resetActionTriggers();
    onRunning(previous);
    update();
  });
}

void BTTimeObjectControlViewModel::pause() {
  TW_MAIN_THREAD_ONLY("BTTimeObjectControlViewModel::pause");
  if (currentState() != tw::kTimingStateRunning || !canPause()) return;
  setTimingState(tw::kTimingStatePaused, [this] { onPaused(tw::kTimingStateRunning); });
}

void BTTimeObjectControlViewModel::reset() {
  TW_MAIN_THREAD_ONLY("BTTimeObjectControlViewModel::reset");
  const std::int64_t previous = currentState();
  if (previous == tw::kTimingStateReset) return;
  setTimingState(tw::kTimingStateReset, [this, previous] { onReset(previous); });
}

std::uint64_t BTTimeObjectControlViewModel::noteStateChange() {
  pendingReset_.cancel();
  pendingReset_ = {};
  return ++generation_;
}

void BTTimeObjectControlViewModel::setTimingState(std::int64_t state,
                                                  const std::function<void()>& hook) {
  noteStateChange();
  const std::shared_ptr<BTTimeObject>& object = timeObject();
  {
    tw::ChangeScope change(*object, "timingState");
    object->setTimingStateValue(state);
    change.markChanged();  // observers hear of the new state even if the hook throws
    ++inStateChange_;
    try {
      if (hook) hook();
    } catch (...) {
      --inStateChange_;
      deferredUpdate_.reset();
      throw;
    }
    --inStateChange_;
  }

  if (inStateChange_ == 0 && deferredUpdate_) {
    const double value = *deferredUpdate_;
    deferredUpdate_.reset();
    // An observer may have moved the state on meanwhile.
    if (object->timingState() == tw::kTimingStateRunning) onUpdated(value);
  }
}

void BTTimeObjectControlViewModel::scheduleResetAfter(double seconds, std::int64_t expectedState) {
  const std::uint64_t generation = generation_;
  auto self = std::static_pointer_cast<BTTimeObjectControlViewModel>(shared_from_this());
  pendingReset_ = tw::DispatchQueue::main()->after(seconds, [self, generation, expectedState] {
    // Any change since (a Stop and Start, a repeat or link action) has its say: the reset
    // belongs to that one finish only.
    if (self->generation_ != generation || self->currentState() != expectedState) return;
    self->reset();
  });
}

// ----- hooks

void BTTimeObjectControlViewModel::onUpdated(double) {}

void BTTimeObjectControlViewModel::onSynchronize() {
  switch (currentState()) {
    case tw::kTimingStateReset:
      onReset(kSynchronizing);
      reset();
      break;
    case tw::kTimingStatePaused:
      onPaused(kSynchronizing);
      break;
    case tw::kTimingStateRunning:
      onRunning(kSynchronizing);
      break;
    case tw::kTimingStateFinished:
      reset();
      break;
    default:
      // A state this version does not know: start over from reset.
      tw::logf(
          "<BTTimeObjectControlViewModel> Time object %@ was stored in timing state %@, "
          "which is no known state: it is reset",
          timeObject()->uuid().value_or("(null)"), std::to_string(currentState()));
      reset();
      break;
  }
}

void BTTimeObjectControlViewModel::onRunning(std::int64_t) {}

void BTTimeObjectControlViewModel::onPaused(std::int64_t) {}

void BTTimeObjectControlViewModel::onReset(std::int64_t) {
  timeObject()->setTimingValue(0.0);
  resetActionTriggers();
}

// ----- actions

std::shared_ptr<BTActionExecutor> BTTimeObjectControlViewModel::actionExecutor() const {
  return actionExecutor_ ? actionExecutor_ : BTActionExecutor::defaultExecutor();
}

void BTTimeObjectControlViewModel::resetActionTriggers() {
  for (const auto& action : timeObject()->actions()) {
    if (auto trigger = action->trigger()) trigger->reset();
  }
}

void BTTimeObjectControlViewModel::evaluateAndExecuteActions() {
  // A copy: an action run inline may change the set.
  const std::vector<std::shared_ptr<BTActionObject>> actions = timeObject()->actions();
  std::vector<std::shared_ptr<BTActionObject>> fired;
  for (const auto& action : actions) {
    auto trigger = action->trigger();
    if (trigger && trigger->tryActivate()) fired.push_back(action);
  }
  if (fired.empty()) return;
  saveBeforeActing();
  for (const auto& action : fired) {
    auto executor = actionExecutor();
    if (!executor) {
      tw::logf("<%@> No action executor; skipping action %@", className(),
               action->uuid().value_or("(null)"));
      continue;
    }
    try {
      executor->executeAction(action);
    } catch (...) {
      // One failing action must not keep the others, or the tick, from running.
      tw::logf("<%@> Executing action %@ failed: %@", className(),
               action->uuid().value_or("(null)"), tw::describeCurrentException());
    }
  }
}

void BTTimeObjectControlViewModel::saveBeforeActing() {
  // What fired is written before any of it runs: a finish reaches the disk as state 21, which a
  // relaunch resets instead of finishing again, so a crash during or after the actions (one of
  // them may end the session) never runs them a second time.
  const std::shared_ptr<tw::store::Context> context = timeObject()->managedObjectContext();
  if (!context || !context->hasChanges()) return;
  const auto& store = context->persistentStore();
  if (!store || store->isReadOnly()) return;
  context->save();
}

// ----- key-value coding

bool BTTimeObjectControlViewModel::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "timingObject") {
    out = tw::Value(timeObject());
  } else if (key == "startText") {
    out = startText_ ? tw::Value(*startText_) : tw::Value();
  } else if (key == "startEnabled") {
    out = startEnabled_;
  } else if (key == "resetEnabled") {
    out = resetEnabled_;
  } else if (key == "resetText") {
    out = resetText();
  } else {
    return BTTimeObjectViewModel::getValueForKey(key, out);
  }
  return true;
}

bool BTTimeObjectControlViewModel::setValueForKeyImpl(std::string_view key,
                                                      const tw::Value& value) {
  if (key == "startText") {
    startText_ = value.string() ? std::optional<std::string>(*value.string()) : std::nullopt;
  } else if (key == "startEnabled") {
    startEnabled_ = value.boolValue();
  } else if (key == "resetEnabled") {
    resetEnabled_ = value.boolValue();
  } else {
    return BTTimeObjectViewModel::setValueForKeyImpl(key, value);
  }
  return true;
}
