#include "core/Source/ViewModels/BTTimeObjectListItemEditingViewModel.h"

#include <algorithm>

#include "core/Source/Model/BTSettableTimeObject.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Format.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"
#include "platform/signals/RACSubscriptingAssignmentTrampoline.h"

BTTimeObjectListItemEditingViewModel::BTTimeObjectListItemEditingViewModel(
    ConstructionKey, std::shared_ptr<BTTimeObject> timeObject)
    : BTTimeObjectViewModel(std::move(timeObject)) {}

void BTTimeObjectListItemEditingViewModel::bindViewModel() {
  TW_MAIN_THREAD_ONLY("BTTimeObjectListItemEditingViewModel::bindViewModel");
  auto self = shared_from_this();
  RAC(self, "editingEnabled") = editingEnabledSignal();
}

std::shared_ptr<RACSignal> BTTimeObjectListItemEditingViewModel::editingEnabledSignal() {
  auto self = shared_from_this();
  return rac_valuesForKeyPath(self, "timeObject.timingState", self)->map([](const tw::Value& v) {
    return tw::Value(v.isNumber() && v.integerValue() == tw::kTimingStateReset);
  });
}

std::int64_t BTTimeObjectListItemEditingViewModel::integerValueOfText(std::string_view text) {
  return tw::Value(text).integerValue();
}

std::string BTTimeObjectListItemEditingViewModel::formatTimeUnit(std::int64_t value) {
  return tw::format("%02ld", value);
}

std::shared_ptr<BTTimeSetting> BTTimeObjectListItemEditingViewModel::timeSetting() const {
  auto settable = std::dynamic_pointer_cast<BTSettableTimeObject>(timeObject());
  return settable ? settable->time() : nullptr;
}

std::int64_t BTTimeObjectListItemEditingViewModel::timeComponent(std::string_view field) const {
  auto time = timeSetting();
  return time ? time->valueForKey(field).integerValue() : 0;
}

void BTTimeObjectListItemEditingViewModel::setTimeComponent(std::string_view field,
                                                            std::int64_t value,
                                                            std::int64_t limit) {
  TW_MAIN_THREAD_ONLY("BTTimeObjectListItemEditingViewModel::setTimeComponent");
  auto time = timeSetting();
  if (!time) return;
  const std::int64_t clamped = std::clamp<std::int64_t>(value, 0, limit);
  const auto& object = timeObject();
  object->willChangeValueForKey("time");
  time->setValueForKey(clamped, field);
  object->didChangeValueForKey("time");
}

std::string BTTimeObjectListItemEditingViewModel::daySetting() const {
  return formatTimeUnit(timeComponent("day"));
}
void BTTimeObjectListItemEditingViewModel::setDaySetting(std::string_view text) {
  setTimeComponent("day", integerValueOfText(text), kDayLimit);
}
std::string BTTimeObjectListItemEditingViewModel::hourSetting() const {
  return formatTimeUnit(timeComponent("hour"));
}
void BTTimeObjectListItemEditingViewModel::setHourSetting(std::string_view text) {
  setTimeComponent("hour", integerValueOfText(text), kHourLimit);
}
std::string BTTimeObjectListItemEditingViewModel::minuteSetting() const {
  return formatTimeUnit(timeComponent("minute"));
}
void BTTimeObjectListItemEditingViewModel::setMinuteSetting(std::string_view text) {
  setTimeComponent("minute", integerValueOfText(text), kMinuteLimit);
}
std::string BTTimeObjectListItemEditingViewModel::secondSetting() const {
  return formatTimeUnit(timeComponent("second"));
}
void BTTimeObjectListItemEditingViewModel::setSecondSetting(std::string_view text) {
  setTimeComponent("second", integerValueOfText(text), kSecondLimit);
}

bool BTTimeObjectListItemEditingViewModel::getValueForKey(std::string_view key,
                                                          tw::Value& out) const {
  if (key == "editingEnabled") return out = editingEnabled_, true;
  if (key == "daySetting") return out = daySetting(), true;
  if (key == "hourSetting") return out = hourSetting(), true;
  if (key == "minuteSetting") return out = minuteSetting(), true;
  if (key == "secondSetting") return out = secondSetting(), true;
  if (key == "dayControlHidden") return out = isDayControlHidden(), true;
  if (key == "hourControlHidden") return out = isHourControlHidden(), true;
  if (key == "minuteControlHidden") return out = isMinuteControlHidden(), true;
  if (key == "secondControlHidden") return out = isSecondControlHidden(), true;
  return BTTimeObjectViewModel::getValueForKey(key, out);
}

bool BTTimeObjectListItemEditingViewModel::setValueForKeyImpl(std::string_view key,
                                                              const tw::Value& value) {
  auto text = [&] { return value.string() ? *value.string() : value.description(); };
  if (key == "editingEnabled") return editingEnabled_ = value.boolValue(), true;
  // The setters announce "time" on the object; the dependent keys follow from that.
  if (key == "daySetting") return setDaySetting(text()), true;
  if (key == "hourSetting") return setHourSetting(text()), true;
  if (key == "minuteSetting") return setMinuteSetting(text()), true;
  if (key == "secondSetting") return setSecondSetting(text()), true;
  return BTTimeObjectViewModel::setValueForKeyImpl(key, value);
}

std::vector<std::string> BTTimeObjectListItemEditingViewModel::keyPathsForValuesAffectingKey(
    std::string_view key) const {
  if (key == "daySetting") return {"timeObject.time.day"};
  if (key == "hourSetting") return {"timeObject.time.hour"};
  if (key == "minuteSetting") return {"timeObject.time.minute"};
  if (key == "secondSetting") return {"timeObject.time.second"};
  return BTTimeObjectViewModel::keyPathsForValuesAffectingKey(key);
}
