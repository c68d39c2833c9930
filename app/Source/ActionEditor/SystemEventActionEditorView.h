#pragma once
// SystemEventActionEditorView: the system-event kind: sleep, log out, restart or shut down.
// Always complete enough to save. Made by the action editor; main thread only.

#include "app/Source/ActionEditor/ActionObjectEditorView.h"
#include "app/Source/ActionEditor/PopUpButton.h"

class SystemEventActionEditorView : public ActionObjectEditorView {
 public:
  SystemEventActionEditorView();
  tw::app::PopUpButton* systemEventSelectionButton() const { return systemEventSelectionButton_; }

  void loadViewWithBuilder(const std::shared_ptr<BTActionBuilder>& builder) override;
  void setSystemEventSelectionMenu();
  void onSystemEventSelectionChange();

 private:
  tw::app::PopUpButton* systemEventSelectionButton_;
};
