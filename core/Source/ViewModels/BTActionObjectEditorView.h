#pragma once
// BTActionObjectEditorView: the action editor window as its view model calls it: a detail view
// for an action kind (or none), showing that detail view or a blank one, and the outcome (saved
// with the new action, or discarded). Implemented by the application's editor controller (and
// test doubles); main thread only.

#include <memory>
#include <string_view>

#include "core/Source/ViewModels/BTActionObjectEditorDetailView.h"

class BTActionObject;

class BTActionObjectEditorView {
 public:
  virtual ~BTActionObjectEditorView() = default;
  // `type` is the action kind's entity name ("BTDisplayAlertAction"). May return null.
  virtual std::shared_ptr<BTActionObjectEditorDetailView> detailViewForActionType(
      std::string_view type) = 0;
  virtual void presentDetailView(const std::shared_ptr<BTActionObjectEditorDetailView>& view) = 0;
  virtual void presentBlankDetailView() = 0;
  virtual void actionObjectChangesSaved(const std::shared_ptr<BTActionObject>& action) = 0;
  virtual void actionObjectChangesDiscarded() = 0;
};
