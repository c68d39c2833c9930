#pragma once
// BTTimeObjectListViewModel: every time object the link-action editor may target, by kind
// (alarms, timers, stopwatches), without the excluded ones (the edited action's own time
// object), and as a menu: one item per object (title, the object as represented object), a
// separator after each non-empty group, none at the end.
//
// Owned by the editor view that shows the menu; the data provider is kept (strong). Main thread
// only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Services/DataServiceBundle/BTAllTimeObjectsDataProvider.h"
#include "core/Source/ViewModels/BTMenuItem.h"
#include "platform/foundation/Object.h"
#include "platform/inject/Injectable.h"
#include "platform/tasks/BFTask.h"

class BTTimeObjectListViewModel : public tw::Object, public tw::Injectable {
 public:
  using TimeObjects = std::vector<std::shared_ptr<BTTimeObject>>;

  // initWithProvider: (init gives none).
  explicit BTTimeObjectListViewModel(
      std::shared_ptr<BTAllTimeObjectsDataProvider> provider = nullptr);

  std::vector<tw::MenuItem> timeObjectMenuItems() const;
  // Loads every list, then calls `callback` (when given) on the main thread with the finished
  // task. Nothing happens on a failed load.
  void runOnMainQueue(std::function<void(const BFTaskPtr&)> callback);
  TimeObjects alarmObjects() const;
  TimeObjects timerObjects() const;
  TimeObjects stopwatchObjects() const;
  TimeObjects removeExcludedObjectsFromArray(const TimeObjects& objects) const;

  const std::vector<std::string>& excludedTimeObjectUUIDs() const { return excluded_; }
  void setExcludedTimeObjectUUIDs(std::vector<std::string> uuids) { excluded_ = std::move(uuids); }
  const std::shared_ptr<BTAllTimeObjectsDataProvider>& dataProvider() const { return provider_; }

  // Nothing is injected today; kept so the factory's inject reaches it as every view model.
  void injectProperties(tw::PropertyInjector&) override {}

 private:
  std::shared_ptr<BTAllTimeObjectsDataProvider> provider_;
  std::vector<std::string> excluded_;
};
