#pragma once
// BTTimeTrigger: the stored trigger that fires when its time object's timingValue crosses
// timeInterval (timeCondition 0 elapsed, 10 remains). Whether the far side of the crossing has
// been seen in this run (meetsTriggerPreCondition) lives in memory only.
// Owned by its store context; main thread only.

#include <cstdint>

#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTTimeTriggerProtocol.h"

class BTTimeTrigger : public BTActionTrigger, public virtual BTTimeTriggerProtocol {
 public:
  double timeInterval() const override { return doubleForKey("timeInterval"); }
  void setTimeInterval(double timeInterval) override;
  std::int64_t timeCondition() const override { return int64ForKey("timeCondition"); }
  void setTimeCondition(std::int64_t timeCondition) override;

  bool meetsTriggerPreCondition() const { return boolForKey("meetsTriggerPreCondition"); }
  void setMeetsTriggerPreCondition(bool meets);
};
