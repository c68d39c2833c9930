#pragma once
// BTStopwatchesDataService: the data service of stopwatches. A new stopwatch is called
// "New Stopwatch" (localized); it has nothing else to set.
// The assembly's component "stopwatchesDataProvider"; main thread only.

#include <memory>

#include "core/Source/Services/DataServiceBundle/BTTimeObjectDataService.h"

class BTStopwatchesDataService : public BTTimeObjectDataService {
 public:
  explicit BTStopwatchesDataService(std::shared_ptr<BTCoreDataProvider> coreDataProvider);

 protected:
  void initializeTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) override;
};
