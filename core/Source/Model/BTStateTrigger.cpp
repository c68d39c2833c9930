#include "core/Source/Model/BTStateTrigger.h"

#include <memory>

#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"

namespace {
constexpr const char* kTimingStateKeyPath = "actionObject.timeObject.timingState";
}  // namespace

void BTStateTrigger::setStateFrom(std::int64_t stateFrom) {
  setValueForKey(tw::modelInt(stateFrom), BTModelKey::kStateFrom);
}

void BTStateTrigger::setStateTo(std::int64_t stateTo) {
  setValueForKey(tw::modelInt(stateTo), BTModelKey::kStateTo);
}

void BTStateTrigger::setPreviousState(std::int64_t previousState) {
  setValueForKey(tw::modelInt(previousState), BTModelKey::kPreviousState);
}

void BTStateTrigger::setCurrentState(std::int64_t currentState) {
  setValueForKey(tw::modelInt(currentState), BTModelKey::kCurrentState);
}

bool BTStateTrigger::shouldActivateTrigger() {
  return previousState() == stateFrom() && currentState() == stateTo();
}

void BTStateTrigger::awakeFromInsert() {
  BTActionTrigger::awakeFromInsert();
  observeTimingState();
}

void BTStateTrigger::awakeFromFetch() {
  BTActionTrigger::awakeFromFetch();
  observeTimingState();
}

void BTStateTrigger::didTurnIntoFault() {
  BTActionTrigger::didTurnIntoFault();
  timingStateObservation_.invalidate();
  timingStateObservation_ = tw::Observation();
}

void BTStateTrigger::observeTimingState() {
  if (timingStateObservation_.isActive()) return;
  setPreviousState(kStateUnset);
  setCurrentState(kStateUnset);
  // The callback holds the trigger weakly and the handle is ours, so the watch neither keeps the
  // trigger alive nor outlives it.
  std::weak_ptr<BTStateTrigger> weakSelf =
      std::static_pointer_cast<BTStateTrigger>(shared_from_this());
  timingStateObservation_ = observeScoped(kTimingStateKeyPath, tw::KVOInitial | tw::KVONew,
                                          [weakSelf](const tw::KeyValueChange& change) {
                                            if (auto self = weakSelf.lock())
                                              self->timingStateDidChange(change.newValue);
                                          });
}

void BTStateTrigger::timingStateDidChange(const tw::Value& state) {
  // The path reads null while the trigger has no action or the action no time object.
  if (state.isNull()) return;
  const std::int64_t value = state.integerValue();
  if (value == currentState()) return;
  setPreviousState(currentState());
  setCurrentState(value);
}
