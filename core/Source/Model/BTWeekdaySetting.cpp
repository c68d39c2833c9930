#include "core/Source/Model/BTWeekdaySetting.h"

#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTModelKeys.h"

const std::array<const char*, 7>& BTWeekdaySetting::weekdayKeys() {
  static const std::array<const char*, 7> keys = {
      BTModelKey::kSunday,   BTModelKey::kMonday, BTModelKey::kTuesday, BTModelKey::kWednesday,
      BTModelKey::kThursday, BTModelKey::kFriday, BTModelKey::kSaturday};
  return keys;
}

void BTWeekdaySetting::setSunday(bool on) { setValueForKey(on, BTModelKey::kSunday); }
void BTWeekdaySetting::setMonday(bool on) { setValueForKey(on, BTModelKey::kMonday); }
void BTWeekdaySetting::setTuesday(bool on) { setValueForKey(on, BTModelKey::kTuesday); }
void BTWeekdaySetting::setWednesday(bool on) { setValueForKey(on, BTModelKey::kWednesday); }
void BTWeekdaySetting::setThursday(bool on) { setValueForKey(on, BTModelKey::kThursday); }
void BTWeekdaySetting::setFriday(bool on) { setValueForKey(on, BTModelKey::kFriday); }
void BTWeekdaySetting::setSaturday(bool on) { setValueForKey(on, BTModelKey::kSaturday); }

void BTWeekdaySetting::setAllWeekdays() { setAll(true); }
void BTWeekdaySetting::unsetAllWeekdays() { setAll(false); }

void BTWeekdaySetting::setAll(bool on) {
  for (const char* key : weekdayKeys()) setValueForKey(on, key);
}

std::array<bool, 7> BTWeekdaySetting::flags() const {
  std::array<bool, 7> out{};
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = boolForKey(weekdayKeys()[i]);
  return out;
}

std::shared_ptr<BTAlarm> BTWeekdaySetting::alarm() const {
  return objectForKey<BTAlarm>(BTModelKey::kAlarm);
}

int BTWeekdaySetting::weekdayMask() const {
  int mask = 0;
  for (std::size_t i = 0; i < weekdayKeys().size(); ++i)
    if (boolForKey(weekdayKeys()[i])) mask |= 1 << i;
  return mask;
}

bool BTWeekdaySetting::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "weekdayMask") {
    out = tw::Value(weekdayMask());
    return true;
  }
  return tw::store::ManagedObject::getValueForKey(key, out);
}

std::vector<std::string> BTWeekdaySetting::keyPathsForValuesAffectingKey(
    std::string_view key) const {
  if (key == "weekdayMask") return {weekdayKeys().begin(), weekdayKeys().end()};
  return tw::store::ManagedObject::keyPathsForValuesAffectingKey(key);
}
