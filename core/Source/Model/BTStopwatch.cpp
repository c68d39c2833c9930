#include "core/Source/Model/BTStopwatch.h"

#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"

void BTStopwatch::setStartDate(const std::optional<tw::Date>& startDate) {
  setValueForKey(tw::modelValue(startDate), BTModelKey::kStartDate);
}

void BTStopwatch::setPauseDate(const std::optional<tw::Date>& pauseDate) {
  setValueForKey(tw::modelValue(pauseDate), BTModelKey::kPauseDate);
}
