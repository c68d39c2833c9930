#pragma once
// BTActionObjectEditorDetailView: the per-kind detail view of the action editor: loaded with the
// editor's builder, it edits the builder in place and tells (observable key "shouldSave")
// whether its input is complete; it should be a tw::Object so that key can be observed.
// Implemented by the application's detail views (and test doubles); main thread only.

#include <memory>

class BTActionBuilder;

class BTActionObjectEditorDetailView {
 public:
  virtual ~BTActionObjectEditorDetailView() = default;
  virtual void loadViewWithBuilder(const std::shared_ptr<BTActionBuilder>& builder) = 0;
  virtual bool shouldSave() const = 0;
  virtual std::shared_ptr<BTActionBuilder> actionBuilder() const = 0;
};
