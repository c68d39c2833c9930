#pragma once
// FlashScreenActionEditorView: the flash-screen kind: the colour (with its opacity) the screen
// flashes in. Always complete enough to save. Made by the action editor; main thread only.

#include "app/Source/ActionEditor/ActionObjectEditorView.h"
#include "app/Source/ActionEditor/ColorWell.h"

class FlashScreenActionEditorView : public ActionObjectEditorView {
 public:
  FlashScreenActionEditorView();
  tw::app::ColorWell* colorSelectionView() const { return colorSelectionView_; }

  void loadViewWithBuilder(const std::shared_ptr<BTActionBuilder>& builder) override;
  void onColorSelectionChange();

 private:
  tw::app::ColorWell* colorSelectionView_;
};
