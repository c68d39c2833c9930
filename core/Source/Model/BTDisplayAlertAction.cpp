#include "core/Source/Model/BTDisplayAlertAction.h"

#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"

void BTDisplayAlertAction::setAlertSoundType(std::int64_t alertSoundType) {
  setValueForKey(tw::modelInt(alertSoundType), BTModelKey::kAlertSoundType);
}

void BTDisplayAlertAction::setAlertCustomMessage(
    const std::optional<std::string>& alertCustomMessage) {
  setValueForKey(tw::modelValue(alertCustomMessage), BTModelKey::kAlertCustomMessage);
}
