#pragma once
// BTStateTrigger: the stored trigger that fires on one change of its time object's timingState
// (stateFrom -> stateTo). The last two states seen (previousState, currentState) live in memory
// only and start at -1 after every load.
// Owned by its store context; main thread only.

#include <cstdint>

#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTStateTriggerProtocol.h"

class BTStateTrigger : public BTActionTrigger, public virtual BTStateTriggerProtocol {
 public:
  std::int64_t stateFrom() const override { return int64ForKey("stateFrom"); }
  void setStateFrom(std::int64_t stateFrom) override;
  std::int64_t stateTo() const override { return int64ForKey("stateTo"); }
  void setStateTo(std::int64_t stateTo) override;

  std::int64_t previousState() const { return int64ForKey("previousState"); }
  void setPreviousState(std::int64_t previousState);
  std::int64_t currentState() const { return int64ForKey("currentState"); }
  void setCurrentState(std::int64_t currentState);
};
