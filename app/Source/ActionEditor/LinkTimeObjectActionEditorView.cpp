#include "app/Source/ActionEditor/LinkTimeObjectActionEditorView.h"

#include "app/Source/ActionEditor/DetailsMenuItem.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/ViewModels/BTTimeObjectListViewModel.h"
#include "platform/foundation/Localization.h"
#include "platform/inject/Injection.h"
#include "platform/signals/RACSignal.h"

namespace {

QString tr(const char* text) { return QString::fromStdString(tw::localized(text)); }

}  // namespace

LinkTimeObjectActionEditorView::LinkTimeObjectActionEditorView()
    : actionSelectButton_(new tw::app::PopUpButton), targetSelectButton_(new tw::app::PopUpButton) {
  widget()->setObjectName("LinkTimeObjectActionEditorView");
  addRow("Action:", actionSelectButton_);
  addRow("Target:", targetSelectButton_);
}

void LinkTimeObjectActionEditorView::loadViewWithBuilder(
    const std::shared_ptr<BTActionBuilder>& builder) {
  ActionObjectEditorView::loadViewWithBuilder(builder);
  auto weak = weakSelf<LinkTimeObjectActionEditorView>();
  actionSelectButton_->setSelectionHandler([weak](tw::app::PopUpButton*) {
    if (auto self = weak.lock()) self->onActionSelectionChange();
  });
  targetSelectButton_->setSelectionHandler([weak](tw::app::PopUpButton*) {
    if (auto self = weak.lock()) self->onTargetSelectionChange();
  });
  setActionSelectionMenu();
  setTargetSelectionMenu();
  builderValues("targetTimeObject")->subscribeNext([weak](const tw::Value& v) {
    if (auto self = weak.lock()) self->setShouldSave(v.objectAs<BTTimeObject>() != nullptr);
  });
}

void LinkTimeObjectActionEditorView::setActionSelectionMenu() {
  actionSelectButton_->removeAllItems();
  const auto add = [&](const char* title, const char* details, int tag) {
    auto* item = DetailsMenuItem::menuItemWithTitle(tr(title), tr(details));
    item->setProperty("tag", tag);
    actionSelectButton_->addItem(item);
  };
  add("Start", "Starts an alarm, timer, or stopwatch.", 1);
  const auto target = actionBuilder_->targetTimeObject();
  if (std::dynamic_pointer_cast<BTTimer>(target) || std::dynamic_pointer_cast<BTStopwatch>(target))
    add("Pause", "Pauses a timer or stopwatch.", 2);
  add("Reset", "Resets or stops an alarm, timer, or stopwatch.", 3);
  if (!actionSelectButton_->selectItemWithTag(static_cast<int>(actionBuilder_->targetAction()))) {
    actionSelectButton_->selectItem(actionSelectButton_->items().front());
    onActionSelectionChange();
  }
}

void LinkTimeObjectActionEditorView::onActionSelectionChange() {
  if (auto* item = actionSelectButton_->selectedItem())
    actionBuilder_->setTargetAction(tw::app::PopUpButton::tagOf(item));
}

void LinkTimeObjectActionEditorView::setTargetSelectionMenu() {
  auto provider = tw::defaultComponentForType<BTAllTimeObjectsDataProvider>();
  listViewModel_ = std::make_shared<BTTimeObjectListViewModel>(provider);
  if (auto own = actionBuilder_->timeObject(); own && own->uuid())
    listViewModel_->setExcludedTimeObjectUUIDs({*own->uuid()});
  auto weak = weakSelf<LinkTimeObjectActionEditorView>();
  listViewModel_->runOnMainQueue([weak](const BFTaskPtr&) {
    if (auto self = weak.lock()) self->targetsLoaded();
  });
}

void LinkTimeObjectActionEditorView::targetsLoaded() {
  targetSelectButton_->removeAllItems();
  targets_.clear();
  for (const auto& menuItem : listViewModel_->timeObjectMenuItems()) {
    if (menuItem.separator) {
      targetSelectButton_->addSeparator();
      continue;
    }
    auto* item = new QAction(QString::fromStdString(menuItem.title));
    item->setData(static_cast<int>(targets_.size()));
    targets_.push_back(menuItem.representedObject.objectAs<BTTimeObject>());
    targetSelectButton_->addItem(item);
  }
  const auto current = actionBuilder_->targetTimeObject();
  for (std::size_t i = 0; i < targets_.size(); ++i)
    if (current && targets_[i] == current) {
      targetSelectButton_->selectItemWithRepresentedObject(static_cast<int>(i));
      return;
    }
  const auto items = targetSelectButton_->items();
  targetSelectButton_->selectItem(items.empty() ? nullptr : items.front());
  onTargetSelectionChange();
}

void LinkTimeObjectActionEditorView::onTargetSelectionChange() {
  std::shared_ptr<BTTimeObject> target;
  if (auto* item = targetSelectButton_->selectedItem()) {
    const int index = item->data().toInt();
    if (index >= 0 && index < static_cast<int>(targets_.size()))
      target = targets_[static_cast<std::size_t>(index)];
  }
  actionBuilder_->setTargetTimeObject(target);
  // Pause comes and goes with the kind of target.
  setActionSelectionMenu();
}
