#pragma once
// BTTimeObjectDataProvider: the ordered list of the stored time objects of one kind (alarms,
// timers or stopwatches) and every change to it: load, create, delete, move, save. Each change
// returns a task that completes on the main thread once the store work, done on the Core Data
// queue, is over and the list has been brought up to date. Implemented by the per-kind data
// services, shared components of the assembly.
//
// Implementations are tw::Objects: the list can be observed under the key "timeObjects", and
// every change to it is bracketed by will-change / did-change for that key.
//
// Main thread only.

#include <cstdint>
#include <memory>
#include <vector>

#include "core/Source/Model/BTTimeObject.h"
#include "platform/tasks/BFTask.h"

// The domain of the errors the data services fail their tasks with. Errors carry no user info.
inline constexpr const char* BFTimeObjectDataServiceErrorDomain =
    "BFTimeObjectDataServiceErrorDomain";

namespace tw {
// The object to delete is not in the service's list.
inline constexpr std::int64_t kTimeObjectNotInListError = 2;
// A move index is not a valid index of the list.
inline constexpr std::int64_t kTimeObjectInvalidIndexError = 4;
}  // namespace tw

class BTTimeObjectDataProvider {
 public:
  virtual ~BTTimeObjectDataProvider() = default;

  // Replaces the list with every stored object of the kind, by sort order then creation date.
  // Result: the loaded objects (a tw::Array of objects).
  virtual BFTaskPtr loadTimeObjects() = 0;
  // Fails at once (kTimeObjectNotInListError) when the object is not in the list. Null result.
  virtual BFTaskPtr deleteTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) = 0;
  // Inserts a new object with the kind's defaults and appends it to the list. Result: the object.
  virtual BFTaskPtr createTimeObject() = 0;
  // Moves one object within the list and renumbers the sort orders of all; does not save.
  // Fails (kTimeObjectInvalidIndexError) for an index outside the list; cancelled when the two
  // indices are equal. Null result.
  virtual BFTaskPtr moveTimeObjectAtIndex(std::int64_t fromIndex, std::int64_t toIndex) = 0;
  // Saves the store. Null result.
  virtual BFTaskPtr saveData() = 0;
  // A copy of the current list.
  virtual std::vector<std::shared_ptr<BTTimeObject>> timeObjects() const = 0;
  // False until the first load has finished.
  virtual bool isDataLoaded() const = 0;
};
