#include "core/Source/Model/BTActionTriggerUtil.h"

#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Model/BTTimeTrigger.h"

std::optional<std::string> BTActionTriggerUtil::actionTriggerTypeFromActionTriggerKind(long kind) {
  switch (kind) {
    case kKindGeneric:
      return "BTActionTrigger";
    case kKindStarts:
    case kKindFinishes:
      return "BTStateTrigger";
    case kKindTimeElapsed:
    case kKindTimeRemains:
      return "BTTimeTrigger";
    default:
      return std::nullopt;
  }
}

const tw::Protocol* BTActionTriggerUtil::protocolForActionTriggerType(std::string_view type) {
  if (type == "BTStateTrigger") return &tw::protocolOf<BTStateTriggerProtocol>();
  if (type == "BTTimeTrigger") return &tw::protocolOf<BTTimeTriggerProtocol>();
  return nullptr;
}

std::shared_ptr<BTActionTrigger> BTActionTriggerUtil::makeActionTriggerOfKind(long kind) {
  switch (kind) {
    case kKindGeneric:
      return managedObject<BTActionTrigger>();
    case kKindStarts:
    case kKindFinishes:
      return managedObject<BTStateTrigger>();
    case kKindTimeElapsed:
    case kKindTimeRemains:
      return managedObject<BTTimeTrigger>();
    default:
      return nullptr;
  }
}

bool BTActionTriggerUtil::isActionTrigger(const BTActionTriggerProtocol* trigger, long kind) {
  if (auto* state = dynamic_cast<const BTStateTriggerProtocol*>(trigger)) {
    switch (kind) {
      case kKindStarts:
        return state->stateFrom() == BTTimeObject::kTimingStateReset &&
               state->stateTo() == BTTimeObject::kTimingStateRunning;
      case kKindFinishes:
        return state->stateFrom() == BTTimeObject::kTimingStateRunning &&
               state->stateTo() == BTTimeObject::kTimingStateFinished;
      default:
        return false;
    }
  }
  if (auto* time = dynamic_cast<const BTTimeTriggerProtocol*>(trigger)) {
    switch (kind) {
      case kKindTimeElapsed:
        return time->timeCondition() == BTTimeTriggerProtocol::kTimeConditionElapsed;
      case kKindTimeRemains:
        return time->timeCondition() == BTTimeTriggerProtocol::kTimeConditionRemains;
      default:
        return false;
    }
  }
  return kind == kKindGeneric && trigger != nullptr;
}

long BTActionTriggerUtil::actionTriggerKindFromActionTrigger(
    const BTActionTriggerProtocol* trigger) {
  for (long kind = kKindGeneric; kind <= kKindTimeRemains; ++kind)
    if (isActionTrigger(trigger, kind)) return kind;
  return kKindNone;
}

void BTActionTriggerUtil::setDefaultValues(BTActionTriggerProtocol& trigger) {
  trigger.setActionObject(nullptr);
  if (auto* state = dynamic_cast<BTStateTriggerProtocol*>(&trigger)) {
    state->setStateFrom(BTStateTriggerProtocol::kStateUnset);
    state->setStateTo(BTStateTriggerProtocol::kStateUnset);
  }
  if (auto* time = dynamic_cast<BTTimeTriggerProtocol*>(&trigger)) {
    time->setTimeInterval(0.0);
    time->setTimeCondition(BTTimeTriggerProtocol::kTimeConditionElapsed);
  }
}

void BTActionTriggerUtil::setDefaultValues(
    const std::shared_ptr<BTActionTriggerProtocol>& trigger) {
  if (trigger) setDefaultValues(*trigger);
}
