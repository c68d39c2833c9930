#include "core/Source/Model/BTWeekdaySetting.h"

#include "core/Source/Model/BTAlarm.h"

const std::array<const char*, 7>& BTWeekdaySetting::weekdayKeys() {
  static const std::array<const char*, 7> keys = {"sunday",   "monday", "tuesday", "wednesday",
                                                  "thursday", "friday", "saturday"};
  return keys;
}

void BTWeekdaySetting::setSunday(bool on) { setValueForKey(on, "sunday"); }
void BTWeekdaySetting::setMonday(bool on) { setValueForKey(on, "monday"); }
void BTWeekdaySetting::setTuesday(bool on) { setValueForKey(on, "tuesday"); }
void BTWeekdaySetting::setWednesday(bool on) { setValueForKey(on, "wednesday"); }
void BTWeekdaySetting::setThursday(bool on) { setValueForKey(on, "thursday"); }
void BTWeekdaySetting::setFriday(bool on) { setValueForKey(on, "friday"); }
void BTWeekdaySetting::setSaturday(bool on) { setValueForKey(on, "saturday"); }

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

std::shared_ptr<BTAlarm> BTWeekdaySetting::alarm() const { return objectForKey<BTAlarm>("alarm"); }

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
