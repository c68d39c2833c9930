#pragma once
// BTAlarmsDataService: the data service of alarms. A new alarm is called "New Alarm" (localized),
// is set to the current hour and minute and rings on every weekday.
// The assembly's component "alarmsDataProvider"; main thread only.

#include <memory>

#include "core/Source/Services/DataServiceBundle/BTTimeObjectDataService.h"

class BTAlarmsDataService : public BTTimeObjectDataService {
 public:
  explicit BTAlarmsDataService(std::shared_ptr<BTCoreDataProvider> coreDataProvider);

 protected:
  void initializeTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) override;
};
