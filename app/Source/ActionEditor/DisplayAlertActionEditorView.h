#pragma once
// DisplayAlertActionEditorView: the finish-alert kind: the alert's sound and an optional message
// of its own (an empty message is stored as none). Always complete enough to save.
// Made by the action editor; main thread only.

#include <QLineEdit>

#include "app/Source/ActionEditor/ActionObjectEditorView.h"
#include "app/Source/ActionEditor/PopUpButton.h"

class DisplayAlertActionEditorView : public ActionObjectEditorView {
 public:
  DisplayAlertActionEditorView();
  tw::app::PopUpButton* soundSelectButton() const { return soundSelectButton_; }
  QLineEdit* customMessageField() const { return customMessageField_; }

  void loadViewWithBuilder(const std::shared_ptr<BTActionBuilder>& builder) override;
  void setSoundSelectionMenu();
  void onSoundSelectionChange();

 private:
  tw::app::PopUpButton* soundSelectButton_;
  QLineEdit* customMessageField_;
};
