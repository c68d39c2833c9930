#pragma once
// BTDataObjectListView: what a list screen hears from its view model: the whole list loaded, the
// list empty, and single rows inserted, deleted, updated or moved (signed indexes). The master
// list and the actions list adopt it; the last two are optional (empty defaults).
// BTMasterListView adds what only the master list needs: the selected object and its transition,
// restoring the table's selection, and opening the title and value editors.
//
// Implemented by the screens (and test doubles); called on the main thread. View models refer
// to their view without owning it: the view owns its view model.

#include <cstdint>
#include <memory>

#include "platform/foundation/Value.h"

class BTTimeObject;
class BTViewTransition;

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

class BTMasterListView : public BTDataObjectListView {
 public:
  // `transition` may be null (no animation).
  virtual void dataObjectSelectionChanged(const std::shared_ptr<BTTimeObject>& object,
                                          const std::shared_ptr<BTViewTransition>& transition) = 0;
  virtual void restoreDataObjectSelection(std::int64_t index) = 0;
  virtual void showObjectTitleEditor(const std::shared_ptr<BTTimeObject>& object) = 0;
  virtual void showObjectValueEditor(const std::shared_ptr<BTTimeObject>& object) = 0;
};
