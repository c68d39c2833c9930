#include "core/Source/Model/BTTimeTrigger.h"

#include "core/Source/Model/BTModelValue.h"

void BTTimeTrigger::setTimeInterval(double timeInterval) {
  setValueForKey(tw::Value(timeInterval), "timeInterval");
}

void BTTimeTrigger::setTimeCondition(std::int64_t timeCondition) {
  setValueForKey(tw::modelInt(timeCondition), "timeCondition");
}

void BTTimeTrigger::setMeetsTriggerPreCondition(bool meets) {
  setValueForKey(meets, "meetsTriggerPreCondition");
}
