#include "core/Source/ViewModels/BTAlarmListItemViewModel.h"

#include <algorithm>

#include "core/Source/Library/BTDateUtility.h"
#include "core/Source/Library/BTMeridiemUtil.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Settings/BTSettingKeys.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Localization.h"
#include "platform/inject/Injection.h"
#include "platform/inject/PropertyInjector.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"
#include "platform/signals/RACSubscriptingAssignmentTrampoline.h"

const char* const BTWeekdayStringArray[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                             "Thursday", "Friday", "Saturday"};

namespace {

// Never re-arm sooner than this: a ringing moment that is due now must not spin the timer.
constexpr double kMinimumRefreshDelay = 1.0;

std::string weekdayText(tw::Date date) {
  if (BTDateUtility::isToday(date)) return tw::localized("Today");
  if (BTDateUtility::isTomorrow(date)) return tw::localized("Tomorrow");
  const long index = (((BTDateUtility::weekday(date) - 1) % 7) + 7) % 7;
  return tw::localized(BTWeekdayStringArray[index]);
}

}  // namespace

BTAlarmListItemViewModel::BTAlarmListItemViewModel(ConstructionKey key,
                                                   std::shared_ptr<BTTimeObject> timeObject)
    : BTTimeObjectListItemViewModel(key, std::move(timeObject)) {
  tw::injectFromDefaultFactory(*this);
}

BTAlarmListItemViewModel::~BTAlarmListItemViewModel() { dayChange_.cancel(); }

void BTAlarmListItemViewModel::injectProperties(tw::PropertyInjector& injector) {
  injector.inject(settingsProvider_);
}

void BTAlarmListItemViewModel::bindViewModel() {
  BTTimeObjectListItemViewModel::bindViewModel();
  std::weak_ptr<BTAlarmListItemViewModel> weakSelf =
      std::static_pointer_cast<BTAlarmListItemViewModel>(shared_from_this());
  weekdayDescriptionSignal()->subscribeNext([weakSelf](const tw::Value&) {
    if (auto self = weakSelf.lock()) self->refreshWeekdayDescription();
  });
}

std::shared_ptr<RACSignal> BTAlarmListItemViewModel::staticValueDescriptionSignal() {
  auto self = shared_from_this();
  auto timeSignal = timeObjectValues("time");
  auto provider = settingsProvider_.get();
  auto general = provider ? provider->generalBundle() : nullptr;
  auto militarySignal = general
                            ? rac_valuesForKeyPath(general, tw::settingkeys::kUseMilitaryTime, self)
                            : RACSignal::returnValue(false);
  return RACSignal::combineLatest({timeSignal, militarySignal}, [](const tw::Value& time,
                                                                   const tw::Value& military) {
    auto setting = time.objectAs<BTTimeSetting>();
    const long hour = setting ? static_cast<long>(setting->hour()) : 0;
    const long minute = setting ? static_cast<long>(setting->minute()) : 0;
    if (military.boolValue()) return tw::Value(tw::format("%02ld:%02ld", hour, minute));
    const auto h = static_cast<unsigned long>(std::max(0L, hour));
    return tw::Value(tw::format(
        "%ld:%02ld %@", static_cast<long>(BTMeridiemUtil::standardHourFromMilitaryHour(h)), minute,
        BTMeridiemUtil::meridiemDescription(BTMeridiemUtil::meridiemFromMilitaryHour(h))
            .value_or("")));
  });
}

std::shared_ptr<RACSignal> BTAlarmListItemViewModel::weekdayDescriptionSignal() {
  return timeObjectValues("computedFinishDate");
}

void BTAlarmListItemViewModel::refreshWeekdayDescription() {
  auto alarm = std::dynamic_pointer_cast<BTAlarm>(timeObject());
  if (!alarm) return;
  const tw::Date date = alarm->computedFinishDate();
  setAndNotify("weekdayDescription", weekdayDescription_, weekdayText(date));

  // The text changes at the next midnight ("Tomorrow" becomes "Today") and when the alarm's
  // moment passes (its next ringing moves on a day or more).
  dayChange_.cancel();
  const double now = tw::clock::wallNow();
  const double midnight =
      BTDateUtility::dateAtStartOfDay(BTDateUtility::dateByAddingDays(tw::Date{now}, 1))
          .secondsSince1970;
  double next = midnight;
  // Just past the moment, when the next ringing has moved on.
  if (date.secondsSince1970 > now) next = std::min(next, date.secondsSince1970 + 1.0);
  std::weak_ptr<BTAlarmListItemViewModel> weakSelf =
      std::static_pointer_cast<BTAlarmListItemViewModel>(shared_from_this());
  dayChange_ =
      tw::DispatchQueue::main()->after(std::max(kMinimumRefreshDelay, next - now), [weakSelf] {
        if (auto self = weakSelf.lock()) self->refreshWeekdayDescription();
      });
}

bool BTAlarmListItemViewModel::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "weekdayDescription") return out = weekdayDescription_, true;
  return BTTimeObjectListItemViewModel::getValueForKey(key, out);
}
