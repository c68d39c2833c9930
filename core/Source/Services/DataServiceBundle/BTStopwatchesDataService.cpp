#include "core/Source/Services/DataServiceBundle/BTStopwatchesDataService.h"

#include "core/Source/Model/BTStopwatch.h"
#include "platform/foundation/Localization.h"

BTStopwatchesDataService::BTStopwatchesDataService(
    std::shared_ptr<BTCoreDataProvider> coreDataProvider)
    : BTTimeObjectDataService(std::move(coreDataProvider), TimeObjectClass::of<BTStopwatch>()) {}

void BTStopwatchesDataService::initializeTimeObject(
    const std::shared_ptr<BTTimeObject>& timeObject) {
  if (!timeObject) return;
  timeObject->setTitle(tw::localized("New Stopwatch"));
}
