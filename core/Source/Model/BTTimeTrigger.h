#pragma once
// BTTimeTrigger: the stored trigger that fires when its time object's timingValue crosses
// timeInterval (timeCondition 0 elapsed, 10 remains). It fires only on a crossing it has seen
// from the far side: the far side is remembered in meetsTriggerPreCondition, in memory only and
// cleared by reset, so a timer started with the interval already reached, or a stopwatch already
// past it, stays silent for that run. The crossing itself is inclusive.
// Owned by its store context; main thread only.

#include <cstdint>

#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTTimeTriggerProtocol.h"

class BTTimeTrigger : public BTActionTrigger, public virtual BTTimeTriggerProtocol {
 public:
  // Read within what the time record holds (see BTStoredValueClamp).
  double timeInterval() const override;
  void setTimeInterval(double timeInterval) override;
  std::int64_t timeCondition() const override { return int64ForKey(BTModelKey::kTimeCondition); }
  void setTimeCondition(std::int64_t timeCondition) override;

  bool meetsTriggerPreCondition() const {
    return boolForKey(BTModelKey::kMeetsTriggerPreCondition);
  }
  void setMeetsTriggerPreCondition(bool meets);

  // Also forgets the far side seen in the run that ends.
  void reset() override;
  // Reads the time object's timingValue afresh (0 while the trigger has no action or the action
  // no time object). A condition other than elapsed or remains never fires.
  bool shouldActivateTrigger() override;
};
