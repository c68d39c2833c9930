#pragma once
// BTAllTimeObjectsDataProvider: the lists of all three kinds of time objects together, for the
// screens that offer every time object (the target menu of the link-action editor). Implemented
// by BTAllTimeObjectsDataService, the assembly's component "anyTimeObjectDataProvider".
// Main thread only.

#include <memory>
#include <vector>

#include "core/Source/Model/BTTimeObject.h"
#include "platform/tasks/BFTask.h"

class BTAllTimeObjectsDataProvider {
 public:
  virtual ~BTAllTimeObjectsDataProvider() = default;

  // Loads every list not loaded yet. A finished task with a null result when all are loaded.
  virtual BFTaskPtr loadAllTimeObjects() = 0;
  virtual std::vector<std::shared_ptr<BTTimeObject>> alarmObjects() const = 0;
  virtual std::vector<std::shared_ptr<BTTimeObject>> timerObjects() const = 0;
  virtual std::vector<std::shared_ptr<BTTimeObject>> stopwatchObjects() const = 0;
  // True only when all three lists are loaded.
  virtual bool isDataLoaded() const = 0;
};
