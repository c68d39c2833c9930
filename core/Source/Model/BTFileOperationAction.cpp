#include "core/Source/Model/BTFileOperationAction.h"

#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"

void BTFileOperationAction::setFileFilepathValue(
    const std::optional<std::string>& fileFilepathValue) {
  setValueForKey(tw::modelValue(fileFilepathValue), BTModelKey::kFileFilepathValue);
}
