#include "core/Source/Model/BTTimeTrigger.h"

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"
#include "core/Source/Model/BTStoredValueClamp.h"
#include "core/Source/Model/BTTimeObject.h"

double BTTimeTrigger::timeInterval() const {
  return BTStoredValueClamp::seconds(*this, BTModelKey::kTimeInterval,
                                     doubleForKey(BTModelKey::kTimeInterval));
}

void BTTimeTrigger::setTimeInterval(double timeInterval) {
  setValueForKey(tw::Value(timeInterval), BTModelKey::kTimeInterval);
}

void BTTimeTrigger::setTimeCondition(std::int64_t timeCondition) {
  setValueForKey(tw::modelInt(timeCondition), BTModelKey::kTimeCondition);
}

void BTTimeTrigger::setMeetsTriggerPreCondition(bool meets) {
  setValueForKey(meets, BTModelKey::kMeetsTriggerPreCondition);
}

void BTTimeTrigger::reset() {
  BTActionTrigger::reset();
  setMeetsTriggerPreCondition(false);
}

bool BTTimeTrigger::shouldActivateTrigger() {
  double value = 0.0;
  if (auto action = storedActionObject())
    if (auto timeObject = action->timeObject()) value = timeObject->timingValue();
  const double interval = timeInterval();

  bool farSide = false;
  bool reached = false;
  switch (timeCondition()) {
    case kTimeConditionRemains:  // counts down to the interval
      farSide = value > interval;
      reached = value <= interval;
      break;
    case kTimeConditionElapsed:  // counts up to the interval
      farSide = interval > value;
      reached = value >= interval;
      break;
    default:
      return false;
  }
  // Set once per run: observers of the flag hear of the change, not of every tick.
  if (farSide && !meetsTriggerPreCondition()) setMeetsTriggerPreCondition(true);
  return meetsTriggerPreCondition() && reached;
}
