#include "core/Source/Model/BTAppOperationAction.h"

#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"

void BTAppOperationAction::setAppOperationType(std::int64_t appOperationType) {
  setValueForKey(tw::modelInt(appOperationType), BTModelKey::kAppOperationType);
}

void BTAppOperationAction::setAppFilepathValue(const std::optional<std::string>& appFilepathValue) {
  setValueForKey(tw::modelValue(appFilepathValue), BTModelKey::kAppFilepathValue);
}
