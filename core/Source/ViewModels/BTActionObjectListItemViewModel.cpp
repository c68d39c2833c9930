#include "core/Source/ViewModels/BTActionObjectListItemViewModel.h"

#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTriggerUtil.h"
#include "platform/foundation/Localization.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"
#include "platform/signals/RACSubscriptingAssignmentTrampoline.h"

void BTActionObjectListItemViewModel::bindViewModel() {
  auto self = shared_from_this();
  RAC(self, "enabled") = enabledSignal();
}

std::shared_ptr<RACSignal> BTActionObjectListItemViewModel::enabledSignal() {
  auto self = shared_from_this();
  return rac_valuesForKeyPath(self, "actionObject.enabled", self)->map([](const tw::Value& v) {
    return tw::Value(v.boolValue());
  });
}

std::string BTActionObjectListItemViewModel::actionDescription() const {
  return BTActionObjectUtil::actionObjectDescription(actionObject()).value_or("");
}

std::string BTActionObjectListItemViewModel::triggerDescription() const {
  const auto& action = actionObject();
  auto description =
      action ? BTActionTriggerUtil::actionTriggerDescription(action->trigger()) : std::nullopt;
  return description ? *description : tw::localized("(error: no trigger specified)");
}

bool BTActionObjectListItemViewModel::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "enabled") return out = enabled_, true;
  if (key == "actionName") return out = actionName(), true;
  if (key == "actionDescription") return out = actionDescription(), true;
  if (key == "triggerDescription") return out = triggerDescription(), true;
  return BTActionObjectViewModel::getValueForKey(key, out);
}

bool BTActionObjectListItemViewModel::setValueForKeyImpl(std::string_view key,
                                                         const tw::Value& value) {
  if (key == "enabled") return enabled_ = value.boolValue(), true;
  return BTActionObjectViewModel::setValueForKeyImpl(key, value);
}
