#include "core/Source/Model/BTTimeSetting.h"

#include "core/Source/Library/BTTime.h"
#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"
#include "core/Source/Model/BTSettableTimeObject.h"
#include "core/Source/Model/BTStoredValueClamp.h"

namespace {
std::int64_t heldField(const BTTimeSetting& setting, const char* key) {
  return BTStoredValueClamp::field(setting, key, setting.int64ForKey(key), 0, kBTTimeLargestField);
}
}  // namespace

std::int64_t BTTimeSetting::day() const { return heldField(*this, BTModelKey::kDay); }
std::int64_t BTTimeSetting::hour() const { return heldField(*this, BTModelKey::kHour); }
std::int64_t BTTimeSetting::minute() const { return heldField(*this, BTModelKey::kMinute); }
std::int64_t BTTimeSetting::second() const { return heldField(*this, BTModelKey::kSecond); }

void BTTimeSetting::setDay(std::int64_t day) {
  setValueForKey(tw::modelInt(day), BTModelKey::kDay);
}
void BTTimeSetting::setHour(std::int64_t hour) {
  setValueForKey(tw::modelInt(hour), BTModelKey::kHour);
}
void BTTimeSetting::setMinute(std::int64_t minute) {
  setValueForKey(tw::modelInt(minute), BTModelKey::kMinute);
}
void BTTimeSetting::setSecond(std::int64_t second) {
  setValueForKey(tw::modelInt(second), BTModelKey::kSecond);
}

double BTTimeSetting::value() const {
  const BTTime time =
      BTTimeMake(static_cast<std::uint16_t>(day()), static_cast<std::uint16_t>(hour()),
                 static_cast<std::uint16_t>(minute()), static_cast<std::uint16_t>(second()), 0);
  return BTTimeToSeconds(&time);
}

std::shared_ptr<BTSettableTimeObject> BTTimeSetting::timeObject() const {
  return objectForKey<BTSettableTimeObject>(BTModelKey::kTimeObject);
}

bool BTTimeSetting::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "value") {
    out = tw::Value(value());
    return true;
  }
  return tw::store::ManagedObject::getValueForKey(key, out);
}

std::vector<std::string> BTTimeSetting::keyPathsForValuesAffectingKey(std::string_view key) const {
  if (key == "value")
    return {BTModelKey::kDay, BTModelKey::kHour, BTModelKey::kMinute, BTModelKey::kSecond};
  return tw::store::ManagedObject::keyPathsForValuesAffectingKey(key);
}
