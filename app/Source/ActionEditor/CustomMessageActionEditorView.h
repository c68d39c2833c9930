#pragma once
// CustomMessageActionEditorView: the custom-message kind: how the message is given (displayed,
// spoken or both) and its text; complete only while the text is not empty (an empty text is
// stored as none). Made by the action editor; main thread only.

#include <QLineEdit>

#include "app/Source/ActionEditor/ActionObjectEditorView.h"
#include "app/Source/ActionEditor/PopUpButton.h"

class CustomMessageActionEditorView : public ActionObjectEditorView {
 public:
  CustomMessageActionEditorView();
  tw::app::PopUpButton* modeSelectButton() const { return modeSelectButton_; }
  QLineEdit* customMessageField() const { return customMessageField_; }

  void loadViewWithBuilder(const std::shared_ptr<BTActionBuilder>& builder) override;
  void setModeSelectionMenu();
  void onModeSelectionChange();

 private:
  tw::app::PopUpButton* modeSelectButton_;
  QLineEdit* customMessageField_;
};
