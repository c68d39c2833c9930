#pragma once
// BTTimersDataService: the data service of timers. A new timer is called "New Timer"
// (localized) and gets a time setting with its defaults (zero).
// The assembly's component "timersDataProvider"; main thread only.

#include <memory>

#include "core/Source/Services/DataServiceBundle/BTTimeObjectDataService.h"

class BTTimersDataService : public BTTimeObjectDataService {
 public:
  explicit BTTimersDataService(std::shared_ptr<BTCoreDataProvider> coreDataProvider);

 protected:
  void initializeTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) override;
};
