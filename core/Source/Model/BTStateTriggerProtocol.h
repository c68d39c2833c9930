#pragma once
// BTStateTriggerProtocol: a trigger that fires on one change of its time object's timingState,
// from stateFrom to stateTo (timingState values; -1 unset). Kind 1 is 0 -> 20 (starts), kind 2
// is 20 -> 21 (finishes). Main thread only.

#include <cstdint>

#include "core/Source/Library/Proxying/Protocol.h"
#include "core/Source/Model/BTActionTriggerProtocol.h"

class BTStateTriggerProtocol : public virtual BTActionTriggerProtocol {
 public:
  static constexpr std::int64_t kStateUnset = -1;

  virtual std::int64_t stateFrom() const = 0;
  virtual void setStateFrom(std::int64_t stateFrom) = 0;
  virtual std::int64_t stateTo() const = 0;
  virtual void setStateTo(std::int64_t stateTo) = 0;
};

TW_PROTOCOL(BTStateTriggerProtocol, {&tw::protocolOf<BTActionTriggerProtocol>()},
            {"stateFrom", "setStateFrom:", "stateTo", "setStateTo:"})
