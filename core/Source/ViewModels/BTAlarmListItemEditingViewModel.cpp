#include "core/Source/ViewModels/BTAlarmListItemEditingViewModel.h"

#include "core/Source/Library/BTMeridiemUtil.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTWeekdaySetting.h"
#include "core/Source/Settings/BTSettingKeys.h"
#include "core/Source/Settings/BTSettingsNotification.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "platform/foundation/Format.h"
#include "platform/inject/Injection.h"
#include "platform/inject/PropertyInjector.h"

namespace {
constexpr const char* kWeekdaySettingKeys[7] = {
    "sundaySetting",   "mondaySetting", "tuesdaySetting", "wednesdaySetting",
    "thursdaySetting", "fridaySetting", "saturdaySetting"};
}  // namespace

BTAlarmListItemEditingViewModel::BTAlarmListItemEditingViewModel(
    ConstructionKey key, std::shared_ptr<BTTimeObject> timeObject)
    : BTTimeObjectListItemEditingViewModel(key, std::move(timeObject)) {
  tw::injectFromDefaultFactory(*this);
}

BTAlarmListItemEditingViewModel::~BTAlarmListItemEditingViewModel() = default;

void BTAlarmListItemEditingViewModel::injectProperties(tw::PropertyInjector& injector) {
  injector.inject(settingsProvider_);
}

void BTAlarmListItemEditingViewModel::bindViewModel() {
  BTTimeObjectListItemEditingViewModel::bindViewModel();
  std::weak_ptr<BTAlarmListItemEditingViewModel> weakSelf =
      std::static_pointer_cast<BTAlarmListItemEditingViewModel>(shared_from_this());
  settingsToken_ = tw::NotificationCenter::defaultCenter()->addObserver(
      BTSettingsChangedNotification, nullptr, tw::DispatchQueue::main(),
      [weakSelf](const tw::Notification& n) {
        if (auto self = weakSelf.lock()) self->settingsChanged(n);
      },
      weakSelf);
}

void BTAlarmListItemEditingViewModel::settingsChanged(const tw::Notification& notification) {
  if (!bt_settingKeyChanged(notification, tw::settingkeys::kUseMilitaryTime)) return;
  willChangeValueForKey("meridiemControlHidden");
  didChangeValueForKey("meridiemControlHidden");
}

bool BTAlarmListItemEditingViewModel::useMilitaryTime() const {
  auto provider = settingsProvider_.get();
  auto general = provider ? provider->generalBundle() : nullptr;
  return general && general->useMilitaryTime();
}

std::string BTAlarmListItemEditingViewModel::hourSetting() const {
  if (useMilitaryTime()) return BTTimeObjectListItemEditingViewModel::hourSetting();
  const auto hour = static_cast<unsigned long>(std::max<std::int64_t>(0, timeComponent("hour")));
  return tw::format("%ld", static_cast<long>(BTMeridiemUtil::standardHourFromMilitaryHour(hour)));
}

void BTAlarmListItemEditingViewModel::setHourSetting(std::string_view text) {
  if (useMilitaryTime()) return BTTimeObjectListItemEditingViewModel::setHourSetting(text);
  const std::int64_t typed = integerValueOfText(text);
  const auto standard = static_cast<unsigned long>(std::clamp<std::int64_t>(typed, 1, 12));
  const unsigned long hour = BTMeridiemUtil::militaryHourFromStandardHour(
      standard, static_cast<unsigned long>(meridiemSetting()));
  BTTimeObjectListItemEditingViewModel::setHourSetting(tw::format("%ld", static_cast<long>(hour)));
}

std::int64_t BTAlarmListItemEditingViewModel::meridiemSetting() const {
  const auto hour = static_cast<unsigned long>(std::max<std::int64_t>(0, timeComponent("hour")));
  return static_cast<std::int64_t>(BTMeridiemUtil::meridiemFromMilitaryHour(hour));
}

void BTAlarmListItemEditingViewModel::setMeridiemSetting(std::int64_t meridiem) {
  const auto hour = static_cast<unsigned long>(std::max<std::int64_t>(0, timeComponent("hour")));
  const auto moved = BTMeridiemUtil::militaryHourFromMilitaryHour(
      hour, static_cast<unsigned long>(std::max<std::int64_t>(0, meridiem)));
  setTimeComponent("hour", static_cast<std::int64_t>(moved), kHourLimit);
}

std::shared_ptr<BTWeekdaySetting> BTAlarmListItemEditingViewModel::weekdays() const {
  auto alarm = std::dynamic_pointer_cast<BTAlarm>(timeObject());
  return alarm ? alarm->weekdays() : nullptr;
}

bool BTAlarmListItemEditingViewModel::weekday(int index) const {
  auto days = weekdays();
  return days && days->flags()[static_cast<std::size_t>(index)];
}

void BTAlarmListItemEditingViewModel::setWeekday(int index, bool on) {
  auto days = weekdays();
  if (!days) return;
  const auto& object = timeObject();
  object->willChangeValueForKey("weekdays");
  days->setValueForKey(on, BTWeekdaySetting::weekdayKeys()[static_cast<std::size_t>(index)]);
  object->didChangeValueForKey("weekdays");
}

bool BTAlarmListItemEditingViewModel::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "meridiemControlHidden") return out = isMeridiemControlHidden(), true;
  if (key == "meridiemSetting") return out = meridiemSetting(), true;
  if (key == "hourSettingMinimum") return out = hourSettingMinimum(), true;
  if (key == "hourSettingMaximum") return out = hourSettingMaximum(), true;
  for (int i = 0; i < 7; ++i)
    if (key == kWeekdaySettingKeys[i]) return out = weekday(i), true;
  return BTTimeObjectListItemEditingViewModel::getValueForKey(key, out);
}

bool BTAlarmListItemEditingViewModel::setValueForKeyImpl(std::string_view key,
                                                         const tw::Value& value) {
  if (key == "meridiemSetting") return setMeridiemSetting(value.integerValue()), true;
  for (int i = 0; i < 7; ++i)
    if (key == kWeekdaySettingKeys[i]) return setWeekday(i, value.boolValue()), true;
  return BTTimeObjectListItemEditingViewModel::setValueForKeyImpl(key, value);
}

std::vector<std::string> BTAlarmListItemEditingViewModel::keyPathsForValuesAffectingKey(
    std::string_view key) const {
  if (key == "meridiemSetting") return {"timeObject.time.hour"};
  for (int i = 0; i < 7; ++i)
    if (key == kWeekdaySettingKeys[i])
      return {std::string("timeObject.weekdays.") +
              BTWeekdaySetting::weekdayKeys()[static_cast<std::size_t>(i)]};
  return BTTimeObjectListItemEditingViewModel::keyPathsForValuesAffectingKey(key);
}
