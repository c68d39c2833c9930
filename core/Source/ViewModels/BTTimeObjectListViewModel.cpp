#include "core/Source/ViewModels/BTTimeObjectListViewModel.h"

#include <algorithm>

#include "platform/inject/Injection.h"

BTTimeObjectListViewModel::BTTimeObjectListViewModel(
    std::shared_ptr<BTAllTimeObjectsDataProvider> provider)
    : provider_(std::move(provider)) {
  tw::injectFromDefaultFactory(*this);
}

BTTimeObjectListViewModel::TimeObjects BTTimeObjectListViewModel::removeExcludedObjectsFromArray(
    const TimeObjects& objects) const {
  if (excluded_.empty()) return objects;
  TimeObjects kept;
  for (const auto& object : objects) {
    const auto uuid = object ? object->uuid() : std::nullopt;
    if (uuid && std::find(excluded_.begin(), excluded_.end(), *uuid) != excluded_.end()) continue;
    kept.push_back(object);
  }
  return kept;
}

BTTimeObjectListViewModel::TimeObjects BTTimeObjectListViewModel::alarmObjects() const {
  return provider_ ? removeExcludedObjectsFromArray(provider_->alarmObjects()) : TimeObjects{};
}
BTTimeObjectListViewModel::TimeObjects BTTimeObjectListViewModel::timerObjects() const {
  return provider_ ? removeExcludedObjectsFromArray(provider_->timerObjects()) : TimeObjects{};
}
BTTimeObjectListViewModel::TimeObjects BTTimeObjectListViewModel::stopwatchObjects() const {
  return provider_ ? removeExcludedObjectsFromArray(provider_->stopwatchObjects()) : TimeObjects{};
}

void BTTimeObjectListViewModel::runOnMainQueue(std::function<void(const BFTaskPtr&)> callback) {
  if (!provider_) return;
  provider_->loadAllTimeObjects()->continueWithExecutorWithSuccessBlock(
      BFExecutor::mainThreadExecutor(), [callback = std::move(callback)](const BFTaskPtr& task) {
        if (callback) callback(task);
      });
}

std::vector<tw::MenuItem> BTTimeObjectListViewModel::timeObjectMenuItems() const {
  std::vector<tw::MenuItem> items;
  for (const auto& group : {alarmObjects(), timerObjects(), stopwatchObjects()}) {
    if (group.empty()) continue;
    for (const auto& object : group) {
      tw::MenuItem item;
      item.title = object->title();
      item.representedObject = tw::Value(object);
      items.push_back(std::move(item));
    }
    items.push_back(tw::MenuItem::separatorItem());
  }
  if (!items.empty() && items.back().separator) items.pop_back();
  return items;
}
