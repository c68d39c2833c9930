#include "core/Source/Model/BTStateTrigger.h"

#include "core/Source/Model/BTModelValue.h"

void BTStateTrigger::setStateFrom(std::int64_t stateFrom) {
  setValueForKey(tw::modelInt(stateFrom), "stateFrom");
}

void BTStateTrigger::setStateTo(std::int64_t stateTo) {
  setValueForKey(tw::modelInt(stateTo), "stateTo");
}

void BTStateTrigger::setPreviousState(std::int64_t previousState) {
  setValueForKey(tw::modelInt(previousState), "previousState");
}

void BTStateTrigger::setCurrentState(std::int64_t currentState) {
  setValueForKey(tw::modelInt(currentState), "currentState");
}
