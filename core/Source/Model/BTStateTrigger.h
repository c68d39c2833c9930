#pragma once
// BTStateTrigger: the stored trigger that fires on one change of its time object's timingState
// (stateFrom -> stateTo). It watches "actionObject.timeObject.timingState" from itself for as
// long as it is part of its context and keeps the last two different states seen
// (previousState, currentState). Both live in memory only: they start at -1 whenever the
// trigger is made or loaded, so after a launch a running object's trigger knows only its current
// state. The pair is left alone by reset, so a trigger reset while the pair still matches fires
// again on the next evaluation.
//
// The watch never keeps the trigger (or its action and time object) alive; it ends when the
// trigger turns into a fault, and a later load watches anew.
//
// Owned by its store context; main thread only (states are heard on the thread that changes
// them, which is the main thread).

#include <cstdint>

#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTStateTriggerProtocol.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

class BTStateTrigger : public BTActionTrigger, public virtual BTStateTriggerProtocol {
 public:
  std::int64_t stateFrom() const override { return int64ForKey(BTModelKey::kStateFrom); }
  void setStateFrom(std::int64_t stateFrom) override;
  std::int64_t stateTo() const override { return int64ForKey(BTModelKey::kStateTo); }
  void setStateTo(std::int64_t stateTo) override;

  std::int64_t previousState() const { return int64ForKey(BTModelKey::kPreviousState); }
  void setPreviousState(std::int64_t previousState);
  std::int64_t currentState() const { return int64ForKey(BTModelKey::kCurrentState); }
  void setCurrentState(std::int64_t currentState);

  // True exactly when the last change seen went from stateFrom to stateTo.
  bool shouldActivateTrigger() override;

  // Whether the time object's state is being watched (from awake until faulting).
  bool isObservingTimingState() const { return timingStateObservation_.isActive(); }

 protected:
  void awakeFromInsert() override;
  void awakeFromFetch() override;
  void didTurnIntoFault() override;

 private:
  void observeTimingState();
  void timingStateDidChange(const tw::Value& state);

  tw::Observation timingStateObservation_;
};
