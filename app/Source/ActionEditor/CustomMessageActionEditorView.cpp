#include "app/Source/ActionEditor/CustomMessageActionEditorView.h"

#include "app/Source/Extensions/RACTextSignal.h"
#include "platform/signals/RACSignal.h"

CustomMessageActionEditorView::CustomMessageActionEditorView()
    : modeSelectButton_(new tw::app::PopUpButton), customMessageField_(new QLineEdit) {
  widget()->setObjectName("CustomMessageActionEditorView");
  tw::app::showWholeText(customMessageField_);
  addRow("Mode:", modeSelectButton_);
  addRow("Message:", customMessageField_);
}

void CustomMessageActionEditorView::loadViewWithBuilder(
    const std::shared_ptr<BTActionBuilder>& builder) {
  ActionObjectEditorView::loadViewWithBuilder(builder);
  auto weak = weakSelf<CustomMessageActionEditorView>();
  modeSelectButton_->setSelectionHandler([weak](tw::app::PopUpButton*) {
    if (auto self = weak.lock()) self->onModeSelectionChange();
  });
  setModeSelectionMenu();
  bindOptionalText(customMessageField_, "customMessageValue");
  builderValues("customMessageValue")->subscribeNext([weak](const tw::Value& v) {
    if (auto self = weak.lock()) self->setShouldSave(v.string() && !v.string()->empty());
  });
}

void CustomMessageActionEditorView::setModeSelectionMenu() {
  if (!fillTagMenu(modeSelectButton_, {{"Display", 1}, {"Speak", 2}, {"Display and Speak", 3}},
                   actionBuilder_->customMessageMode()))
    onModeSelectionChange();
}

void CustomMessageActionEditorView::onModeSelectionChange() {
  if (auto* item = modeSelectButton_->selectedItem())
    actionBuilder_->setCustomMessageMode(tw::app::PopUpButton::tagOf(item));
}
