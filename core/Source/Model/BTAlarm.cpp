#include "core/Source/Model/BTAlarm.h"

#include "core/Source/Library/BTAlarmSchedule.h"
#include "core/Source/Library/BTTime.h"
#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTWeekdaySetting.h"

std::shared_ptr<BTWeekdaySetting> BTAlarm::weekdays() const {
  return objectForKey<BTWeekdaySetting>(BTModelKey::kWeekdays);
}

void BTAlarm::setWeekdays(const std::shared_ptr<BTWeekdaySetting>& weekdays) {
  setValueForKey(tw::Value(weekdays), BTModelKey::kWeekdays);
}

void BTAlarm::setFinishDate(const std::optional<tw::Date>& finishDate) {
  setValueForKey(tw::modelValue(finishDate), BTModelKey::kFinishDate);
}

tw::Date BTAlarm::computedFinishDate() const {
  const auto setting = time();
  const auto days = weekdays();
  std::array<bool, 7> flags{};
  if (days) flags = days->flags();
  return BTAlarmNextRingDate(tw::Date{BTGetSecondsSince1970()},
                             setting ? static_cast<long>(setting->hour()) : 0,
                             setting ? static_cast<long>(setting->minute()) : 0,
                             setting ? static_cast<long>(setting->second()) : 0,
                             setting ? static_cast<long>(setting->day()) : 0, flags.data());
}

std::vector<std::string> BTAlarm::keyPathsForValuesAffectingKey(std::string_view key) const {
  // Paths into the settings: a new setting and an edit of the one in place are both heard,
  // each once.
  if (key == "computedFinishDate") return {"time.value", "weekdays.weekdayMask"};
  return BTSettableTimeObject::keyPathsForValuesAffectingKey(key);
}
