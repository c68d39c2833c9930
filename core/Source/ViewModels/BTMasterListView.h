#pragma once
// BTMasterListView: what only the master list hears besides the list calls of
// BTDataObjectListView: the selected object and its transition, restoring the table's selection,
// and opening the title and value editors. Adopted by the master view controller (and test
// doubles); called on the main thread.

#include <cstdint>
#include <memory>

#include "core/Source/ViewModels/BTDataObjectListView.h"

class BTTimeObject;
class BTViewTransition;

class BTMasterListView : public BTDataObjectListView {
 public:
  // `transition` may be null (no animation).
  virtual void dataObjectSelectionChanged(const std::shared_ptr<BTTimeObject>& object,
                                          const std::shared_ptr<BTViewTransition>& transition) = 0;
  virtual void restoreDataObjectSelection(std::int64_t index) = 0;
  virtual void showObjectTitleEditor(const std::shared_ptr<BTTimeObject>& object) = 0;
  virtual void showObjectValueEditor(const std::shared_ptr<BTTimeObject>& object) = 0;
};
