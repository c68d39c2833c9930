#include "core/Source/Model/BTCustomMessageAction.h"

#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"

void BTCustomMessageAction::setCustomMessageMode(std::int64_t customMessageMode) {
  setValueForKey(tw::modelInt(customMessageMode), BTModelKey::kCustomMessageMode);
}

void BTCustomMessageAction::setCustomMessageValue(
    const std::optional<std::string>& customMessageValue) {
  setValueForKey(tw::modelValue(customMessageValue), BTModelKey::kCustomMessageValue);
}
