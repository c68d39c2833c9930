#pragma once
// BTDataObjectListView: what a list screen hears from its view model: the whole list loaded, the
// list empty, and single rows inserted, deleted, updated or moved (signed indexes). The master
// list and the actions list adopt it; the last two are optional (empty defaults).
//
// Implemented by the screens (and test doubles); called on the main thread. View models refer
// to their view without owning it: the view owns its view model.

#include <cstdint>
#include <memory>

#include "platform/foundation/Value.h"

class BTDataObjectListView {
 public:
  virtual ~BTDataObjectListView() = default;

  // `objects` holds the list's objects in order.
  virtual void dataObjectsLoaded(const tw::Array& objects) = 0;
  virtual void dataObjectListEmpty() = 0;
  virtual void dataObjectInserted(std::int64_t index) = 0;
  virtual void dataObjectDeleted(std::int64_t index) = 0;
  virtual void dataObjectUpdated(std::int64_t /*index*/) {}
  virtual void dataObjectMovedFromIndex(std::int64_t /*from*/, std::int64_t /*to*/) {}
};
