#pragma once
// BTTimeTriggerProtocol: a trigger that fires when its time object's timingValue crosses
// timeInterval seconds. timeCondition: 0 elapsed (rises to the interval; kind 3), 10 remains
// (falls to it; kind 4). Main thread only.

#include <cstdint>

#include "core/Source/Library/Proxying/Protocol.h"
#include "core/Source/Model/BTActionTriggerProtocol.h"

class BTTimeTriggerProtocol : public virtual BTActionTriggerProtocol {
 public:
  static constexpr std::int64_t kTimeConditionElapsed = 0;
  static constexpr std::int64_t kTimeConditionRemains = 10;

  virtual double timeInterval() const = 0;
  virtual void setTimeInterval(double timeInterval) = 0;
  virtual std::int64_t timeCondition() const = 0;
  virtual void setTimeCondition(std::int64_t timeCondition) = 0;
};

TW_PROTOCOL(BTTimeTriggerProtocol, {&tw::protocolOf<BTActionTriggerProtocol>()},
            {"timeInterval", "setTimeInterval:", "timeCondition", "setTimeCondition:"})
