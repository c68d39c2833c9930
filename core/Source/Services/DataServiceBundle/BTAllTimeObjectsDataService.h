#pragma once
// BTAllTimeObjectsDataService: joins the three per-kind data services for screens that need all
// time objects. The assembly sets the three providers (its component
// "anyTimeObjectDataProvider"); a provider left unset counts as an empty list that is not
// loaded, and is never asked to load.
// Create with std::make_shared. Main thread only.

#include <memory>
#include <vector>

#include "core/Source/Services/DataServiceBundle/BTAllTimeObjectsDataProvider.h"
#include "core/Source/Services/DataServiceBundle/BTTimeObjectDataProvider.h"
#include "platform/foundation/Object.h"

class BTAllTimeObjectsDataService : public tw::Object, public virtual BTAllTimeObjectsDataProvider {
 public:
  BTAllTimeObjectsDataService() = default;

  const std::shared_ptr<BTTimeObjectDataProvider>& alarmsDataProvider() const {
    return alarmsDataProvider_;
  }
  void setAlarmsDataProvider(std::shared_ptr<BTTimeObjectDataProvider> provider) {
    alarmsDataProvider_ = std::move(provider);
  }
  const std::shared_ptr<BTTimeObjectDataProvider>& timersDataProvider() const {
    return timersDataProvider_;
  }
  void setTimersDataProvider(std::shared_ptr<BTTimeObjectDataProvider> provider) {
    timersDataProvider_ = std::move(provider);
  }
  const std::shared_ptr<BTTimeObjectDataProvider>& stopwatchesDataProvider() const {
    return stopwatchesDataProvider_;
  }
  void setStopwatchesDataProvider(std::shared_ptr<BTTimeObjectDataProvider> provider) {
    stopwatchesDataProvider_ = std::move(provider);
  }

  // BTAllTimeObjectsDataProvider
  // Starts the load of each list not loaded yet (alarms, timers, stopwatches) and finishes when
  // all have; a finished task with a null result when there is nothing to load.
  BFTaskPtr loadAllTimeObjects() override;
  std::vector<std::shared_ptr<BTTimeObject>> alarmObjects() const override;
  std::vector<std::shared_ptr<BTTimeObject>> timerObjects() const override;
  std::vector<std::shared_ptr<BTTimeObject>> stopwatchObjects() const override;
  bool isDataLoaded() const override;

 private:
  std::shared_ptr<BTTimeObjectDataProvider> alarmsDataProvider_;
  std::shared_ptr<BTTimeObjectDataProvider> timersDataProvider_;
  std::shared_ptr<BTTimeObjectDataProvider> stopwatchesDataProvider_;
};
