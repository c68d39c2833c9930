#include "core/Source/Services/DataServiceBundle/BTAllTimeObjectsDataService.h"

namespace {

std::vector<std::shared_ptr<BTTimeObject>> objectsOf(
    const std::shared_ptr<BTTimeObjectDataProvider>& provider) {
  if (!provider) return {};
  return provider->timeObjects();
}

}  // namespace

BFTaskPtr BTAllTimeObjectsDataService::loadAllTimeObjects() {
  std::vector<BFTaskPtr> tasks;
  for (const auto* provider :
       {&alarmsDataProvider_, &timersDataProvider_, &stopwatchesDataProvider_}) {
    if (*provider && !(*provider)->isDataLoaded()) {
      if (auto task = (*provider)->loadTimeObjects()) tasks.push_back(std::move(task));
    }
  }
  if (tasks.empty()) return BFTask::taskWithResult(tw::Value());
  return BFTask::taskForCompletionOfAllTasks(tasks);
}

std::vector<std::shared_ptr<BTTimeObject>> BTAllTimeObjectsDataService::alarmObjects() const {
  return objectsOf(alarmsDataProvider_);
}

std::vector<std::shared_ptr<BTTimeObject>> BTAllTimeObjectsDataService::timerObjects() const {
  return objectsOf(timersDataProvider_);
}

std::vector<std::shared_ptr<BTTimeObject>> BTAllTimeObjectsDataService::stopwatchObjects() const {
  return objectsOf(stopwatchesDataProvider_);
}

bool BTAllTimeObjectsDataService::isDataLoaded() const {
  // Asked in this order, stopping at the first that is not loaded.
  for (const auto* provider :
       {&alarmsDataProvider_, &timersDataProvider_, &stopwatchesDataProvider_}) {
    if (!*provider || !(*provider)->isDataLoaded()) return false;
  }
  return true;
}
