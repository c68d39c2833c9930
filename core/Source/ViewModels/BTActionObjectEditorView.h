#pragma once
// BTActionObjectEditorView: the action editor window as its view model calls it: a detail view
// for an action kind (or none), showing that detail view or a blank one, and the outcome (saved
// with the new action, or discarded). BTActionObjectEditorDetailView: the per-kind detail view:
// it is loaded with the editor's builder, edits it in place, and tells (observable key
// "shouldSave") whether its input is complete; it must be a tw::Object so that key can be
// observed.
//
// Implemented by the application's editor controller and detail views (and test doubles);
// main thread only.

#include <memory>
#include <string_view>

class BTActionBuilder;
class BTActionObject;

class BTActionObjectEditorDetailView {
 public:
  virtual ~BTActionObjectEditorDetailView() = default;
  virtual void loadViewWithBuilder(const std::shared_ptr<BTActionBuilder>& builder) = 0;
  virtual bool shouldSave() const = 0;
  virtual std::shared_ptr<BTActionBuilder> actionBuilder() const = 0;
};

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
