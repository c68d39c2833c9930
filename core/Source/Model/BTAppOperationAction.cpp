#include "core/Source/Model/BTAppOperationAction.h"

#include "core/Source/Model/BTModelValue.h"

void BTAppOperationAction::setAppOperationType(std::int64_t appOperationType) {
  setValueForKey(tw::modelInt(appOperationType), "appOperationType");
}

void BTAppOperationAction::setAppFilepathValue(const std::optional<std::string>& appFilepathValue) {
  setValueForKey(tw::modelValue(appFilepathValue), "appFilepathValue");
}
