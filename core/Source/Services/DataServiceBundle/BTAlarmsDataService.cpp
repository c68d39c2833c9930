#include "core/Source/Services/DataServiceBundle/BTAlarmsDataService.h"

#include "core/Source/Library/BTDateUtility.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTWeekdaySetting.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Localization.h"
#include "platform/store/Context.h"

BTAlarmsDataService::BTAlarmsDataService(std::shared_ptr<BTCoreDataProvider> coreDataProvider)
    : BTTimeObjectDataService(std::move(coreDataProvider), TimeObjectClass::of<BTAlarm>()) {}

void BTAlarmsDataService::initializeTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) {
  auto alarm = std::dynamic_pointer_cast<BTAlarm>(timeObject);
  if (!alarm) return;
  alarm->setTitle(tw::localized("New Alarm"));

  // The settings go into the alarm's own context, so the two can never straddle stores.
  auto context = alarm->managedObjectContext();
  if (!context) return;
  const tw::Date now{tw::clock::wallNow()};
  auto time = context->insertNew<BTTimeSetting>();
  time->setHour(BTDateUtility::hour(now));
  time->setMinute(BTDateUtility::minute(now));
  alarm->setTime(time);

  auto weekdays = context->insertNew<BTWeekdaySetting>();
  weekdays->setAllWeekdays();
  alarm->setWeekdays(weekdays);
}
