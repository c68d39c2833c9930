#include "app/Source/ActionEditor/DisplayAlertActionEditorView.h"

#include "app/Source/Extensions/RACTextSignal.h"
#include "platform/foundation/Localization.h"

DisplayAlertActionEditorView::DisplayAlertActionEditorView()
    : soundSelectButton_(new tw::app::PopUpButton), customMessageField_(new QLineEdit) {
  widget()->setObjectName("DisplayAlertActionEditorView");
  tw::app::showWholeText(customMessageField_);
  customMessageField_->setPlaceholderText(QString::fromStdString(tw::localized("Optional")));
  addRow("Sound:", soundSelectButton_);
  addRow("Message:", customMessageField_);
}

void DisplayAlertActionEditorView::loadViewWithBuilder(
    const std::shared_ptr<BTActionBuilder>& builder) {
  ActionObjectEditorView::loadViewWithBuilder(builder);
  auto weak = weakSelf<DisplayAlertActionEditorView>();
  soundSelectButton_->setSelectionHandler([weak](tw::app::PopUpButton*) {
    if (auto self = weak.lock()) self->onSoundSelectionChange();
  });
  setSoundSelectionMenu();
  bindOptionalText(customMessageField_, "alertCustomMessage");
}

void DisplayAlertActionEditorView::setSoundSelectionMenu() {
  // The last item only announces more sounds; it shares System's tag and is never chosen.
  if (!fillTagMenu(soundSelectButton_,
                   {{"None", -1}, {"System", 0}, {"(more coming soon)", 0, false}},
                   actionBuilder_->alertSoundType()))
    onSoundSelectionChange();
}

void DisplayAlertActionEditorView::onSoundSelectionChange() {
  if (auto* item = soundSelectButton_->selectedItem())
    actionBuilder_->setAlertSoundType(tw::app::PopUpButton::tagOf(item));
}
