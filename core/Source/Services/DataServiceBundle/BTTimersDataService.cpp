#include "core/Source/Services/DataServiceBundle/BTTimersDataService.h"

#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "platform/foundation/Localization.h"
#include "platform/store/Context.h"

BTTimersDataService::BTTimersDataService(std::shared_ptr<BTCoreDataProvider> coreDataProvider)
    : BTTimeObjectDataService(std::move(coreDataProvider), TimeObjectClass::of<BTTimer>()) {}

void BTTimersDataService::initializeTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) {
  auto timer = std::dynamic_pointer_cast<BTTimer>(timeObject);
  if (!timer) return;
  timer->setTitle(tw::localized("New Timer"));
  // In the timer's own context, so the two can never straddle stores.
  if (auto context = timer->managedObjectContext())
    timer->setTime(context->insertNew<BTTimeSetting>());
}
