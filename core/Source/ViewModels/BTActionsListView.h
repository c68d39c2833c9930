#pragma once
// BTActionsListView: the actions list of a time object's detail pane, as its view model calls
// it: the list calls of BTDataObjectListView (all six), whether the list is empty or not, and
// opening the action editor for a new action of a time object or for an existing action.
// Implemented by the application's actions list (and test doubles); main thread only.

#include <memory>

#include "core/Source/ViewModels/BTDataObjectListView.h"

class BTActionObject;
class BTTimeObject;

class BTActionsListView : public BTDataObjectListView {
 public:
  virtual void dataObjectListNotEmpty() = 0;
  virtual void showObjectEditorWithTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) = 0;
  virtual void showObjectEditorWithAction(const std::shared_ptr<BTActionObject>& action) = 0;
};
