#include "app/Source/ActionEditor/SystemEventActionEditorView.h"

SystemEventActionEditorView::SystemEventActionEditorView()
    : systemEventSelectionButton_(new tw::app::PopUpButton) {
  widget()->setObjectName("SystemEventActionEditorView");
  addRow("Event:", systemEventSelectionButton_);
}

void SystemEventActionEditorView::loadViewWithBuilder(
    const std::shared_ptr<BTActionBuilder>& builder) {
  ActionObjectEditorView::loadViewWithBuilder(builder);
  auto weak = weakSelf<SystemEventActionEditorView>();
  systemEventSelectionButton_->setSelectionHandler([weak](tw::app::PopUpButton*) {
    if (auto self = weak.lock()) self->onSystemEventSelectionChange();
  });
  setSystemEventSelectionMenu();
}

void SystemEventActionEditorView::setSystemEventSelectionMenu() {
  if (!fillTagMenu(systemEventSelectionButton_,
                   {{"Sleep", 1}, {"Log Out", 2}, {"Restart", 3}, {"Shutdown", 4}},
                   actionBuilder_->systemEventType()))
    onSystemEventSelectionChange();
}

void SystemEventActionEditorView::onSystemEventSelectionChange() {
  if (auto* item = systemEventSelectionButton_->selectedItem())
    actionBuilder_->setSystemEventType(tw::app::PopUpButton::tagOf(item));
}
