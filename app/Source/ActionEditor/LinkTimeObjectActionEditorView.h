#pragma once
// LinkTimeObjectActionEditorView: the link kind: what to do (start, pause, reset) to which other
// time object. The targets are every time object but the action's own, loaded in the
// background; the target menu stays empty until they are. "Pause" is offered only for a timer or
// stopwatch target. Complete only while a target is chosen. Made by the action editor; main
// thread only.

#include <memory>
#include <vector>

#include "app/Source/ActionEditor/ActionObjectEditorView.h"
#include "app/Source/ActionEditor/PopUpButton.h"

class BTTimeObject;
class BTTimeObjectListViewModel;

class LinkTimeObjectActionEditorView : public ActionObjectEditorView {
 public:
  LinkTimeObjectActionEditorView();
  tw::app::PopUpButton* actionSelectButton() const { return actionSelectButton_; }
  tw::app::PopUpButton* targetSelectButton() const { return targetSelectButton_; }

  void loadViewWithBuilder(const std::shared_ptr<BTActionBuilder>& builder) override;
  void setActionSelectionMenu();
  void setTargetSelectionMenu();
  void onActionSelectionChange();
  void onTargetSelectionChange();

 private:
  void targetsLoaded();

  tw::app::PopUpButton* actionSelectButton_;
  tw::app::PopUpButton* targetSelectButton_;
  std::shared_ptr<BTTimeObjectListViewModel> listViewModel_;
  // The represented objects of the target items (an item's data is its index here).
  std::vector<std::shared_ptr<BTTimeObject>> targets_;
};
