#include "core/Source/Model/BTFlashScreenAction.h"

#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"

void BTFlashScreenAction::setScreenColorArgbValue(std::int64_t screenColorArgbValue) {
  setValueForKey(tw::modelInt(screenColorArgbValue), BTModelKey::kScreenColorArgbValue);
}
