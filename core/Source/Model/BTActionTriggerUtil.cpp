#include "core/Source/Model/BTActionTriggerUtil.h"

#include "core/Source/Library/BTTime.h"
#include "core/Source/Library/Proxying/Protocol.h"
#include "core/Source/Model/BTActionObjectProtocol.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Model/BTTimeObjectUtil.h"
#include "core/Source/Model/BTTimeTrigger.h"
#include "platform/foundation/Localization.h"

namespace {

template <class T>
std::optional<std::string> describeKind(const T* trigger, bool activated) {
  if (auto state = tw::kindOf<BTStateTriggerProtocol>(trigger))
    return BTActionTriggerUtil::stateTriggerDescription(*state, activated);
  if (auto time = tw::kindOf<BTTimeTriggerProtocol>(trigger))
    return BTActionTriggerUtil::timeTriggerDescription(*time, activated);
  return std::nullopt;
}

// The kind of time object the trigger's action belongs to.
std::optional<std::string> timeObjectTypeName(const BTActionTriggerProtocol& trigger) {
  const auto action = trigger.actionObject();
  const auto timeObject = action ? action->timeObject() : nullptr;
  if (!timeObject) return std::nullopt;
  return BTTimeObjectUtil::timeObjectTypeName(*timeObject);
}

}  // namespace

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
  // By interface, through a proxy too: the editor's tested actions carry proxied triggers.
  if (auto state = tw::kindOf<BTStateTriggerProtocol>(trigger)) {
    switch (kind) {
      case kKindStarts:
        return state->stateFrom() == tw::kTimingStateReset &&
               state->stateTo() == tw::kTimingStateRunning;
      case kKindFinishes:
        return state->stateFrom() == tw::kTimingStateRunning &&
               state->stateTo() == tw::kTimingStateFinished;
      default:
        return false;
    }
  }
  if (auto time = tw::kindOf<BTTimeTriggerProtocol>(trigger)) {
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

std::optional<std::string> BTActionTriggerUtil::actionTriggerTypeTitle(long kind) {
  static constexpr const char* kTitles[] = {"upon starting", "upon finishing",
                                            "after a set time has elapsed",
                                            "after a set time remains"};
  if (kind < kKindStarts || kind > kKindTimeRemains) return std::nullopt;
  return tw::localized(kTitles[kind - kKindStarts]);
}

std::optional<std::string> BTActionTriggerUtil::actionTriggerTypeSummary(long kind) {
  static constexpr const char* kSummaries[] = {
      "When an alarm, timer, or stopwatch starts.", "When an alarm or timer finishes.",
      "After a set time has elapsed since the start of a stopwatch.",
      "After a set time remains in an alarm or timer."};
  if (kind < kKindStarts || kind > kKindTimeRemains) return std::nullopt;
  return tw::localized(kSummaries[kind - kKindStarts]);
}

std::string BTActionTriggerUtil::timerIntervalDescription(double seconds) {
  const BTTime time = BTTimeMakeWithSeconds(seconds);
  return BTGetSimpleTimeString(time.day, time.hour, time.minute, time.second, true);
}

std::optional<std::string> BTActionTriggerUtil::describeTrigger(
    const BTActionTriggerProtocol* trigger, bool activated) {
  return describeKind(trigger, activated);
}

std::optional<std::string> BTActionTriggerUtil::describeTrigger(const tw::Object* trigger,
                                                                bool activated) {
  return describeKind(trigger, activated);
}

std::optional<std::string> BTActionTriggerUtil::stateTriggerDescription(
    const BTStateTriggerProtocol& trigger, bool activated) {
  const auto from = trigger.stateFrom();
  const auto to = trigger.stateTo();
  const char* format = nullptr;
  if (from == tw::kTimingStateReset && to == tw::kTimingStateRunning)
    format = activated ? "this %@ has started" : "When this %@ starts";
  else if (from == tw::kTimingStateRunning && to == tw::kTimingStateFinished)
    format = activated ? "this %@ has finished" : "When this %@ finishes";
  else
    return std::nullopt;
  const auto typeName = timeObjectTypeName(trigger);
  if (!typeName) return std::nullopt;
  return tw::localizedFormat(format, *typeName);
}

std::optional<std::string> BTActionTriggerUtil::timeTriggerDescription(
    const BTTimeTriggerProtocol& trigger, bool activated) {
  const char* format = nullptr;
  switch (trigger.timeCondition()) {
    case BTTimeTriggerProtocol::kTimeConditionRemains:
      format = activated ? "%@ remains" : "After %@ remains";
      break;
    case BTTimeTriggerProtocol::kTimeConditionElapsed:
      format = activated ? "%@ has elapsed" : "After %@ has elapsed";
      break;
    default:
      return std::nullopt;
  }
  return tw::localizedFormat(format, timerIntervalDescription(trigger.timeInterval()));
}
