#include "app/Source/MasterList/MasterViewControllerWithContextMenu.h"

#include "app/Source/MasterList/MasterListTableView.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Timing/BTTimeObjectControlViewModel.h"
#include "core/Source/Timing/BTTimingController.h"
#include "core/Source/ViewModels/BTMasterListViewModel.h"
#include "platform/foundation/Localization.h"
#include "platform/inject/Injection.h"

namespace {
constexpr const char* kIdentifier = "identifier";
}

MasterViewControllerWithContextMenu::MasterViewControllerWithContextMenu() = default;
MasterViewControllerWithContextMenu::~MasterViewControllerWithContextMenu() {
  if (menu_) delete menu_;
}

void MasterViewControllerWithContextMenu::viewDidLoad() {
  MasterViewController::viewDidLoad();
  if (timingController_.expired())
    timingController_ = tw::defaultComponentForType<BTTimingController>();
  std::weak_ptr<MasterViewControllerWithContextMenu> weak =
      std::dynamic_pointer_cast<MasterViewControllerWithContextMenu>(selfResponder());
  menu_ = new QMenu;
  const auto add = [&](const char* title, const char* identifier, auto action) {
    QAction* item = menu_->addAction(QString::fromStdString(tw::localized(title)));
    item->setProperty(kIdentifier, identifier);
    QObject::connect(item, &QAction::triggered, item, [weak, action] {
      if (auto s = weak.lock()) ((*s).*action)();
    });
    return item;
  };
  add("Edit Title", "MenuItemEditTitle",
      &MasterViewControllerWithContextMenu::onContextMenuEditTitle);
  add("Edit Value", "MenuItemEditValue",
      &MasterViewControllerWithContextMenu::onContextMenuEditValue);
  add("Delete", "MenuItemDelete", &MasterViewControllerWithContextMenu::onContextMenuDelete);
  menu_->addSeparator();
  add("Start", "MenuItemStart", &MasterViewControllerWithContextMenu::onContextMenuStart);
  add("Reset", "MenuItemReset", &MasterViewControllerWithContextMenu::onContextMenuReset);
  tableView()->setMenu(menu_, [weak](QMenu& menu) {
    if (auto s = weak.lock()) s->menuWillOpen(menu);
  });
}

QAction* MasterViewControllerWithContextMenu::contextMenuItem(const char* identifier) const {
  if (!menu_) return nullptr;
  for (QAction* item : menu_->actions())
    if (item->property(kIdentifier).toString() == identifier) return item;
  return nullptr;
}

std::shared_ptr<BTTimeObject> MasterViewControllerWithContextMenu::timeObjectForContextMenu()
    const {
  return viewModel()->objectAtIndex(tableView()->clickedRow());
}

void MasterViewControllerWithContextMenu::menuWillOpen(QMenu& menu) {
  const auto object = timeObjectForContextMenu();
  if (!object) {
    // A menu over no row must not act on the row clicked before it.
    control_.reset();
    for (QAction* item : menu.actions())
      if (!item->isSeparator()) item->setEnabled(false);
    return;
  }
  auto controller = timingController_.lock();
  control_ = controller ? controller->timingControlForTimingObject(object) : nullptr;
  const auto items = menu.actions();
  for (int i = 0; i < items.size(); ++i) updateItem(menu, items[i], i, false);
}

bool MasterViewControllerWithContextMenu::updateItem(QMenu&, QAction* item, int, bool cancel) {
  if (cancel || item->isSeparator()) return true;
  if (!control_) {
    item->setEnabled(false);
    return true;
  }
  const QString identifier = item->property(kIdentifier).toString();
  const auto object = control_->timeObject();
  if (identifier == "MenuItemEditValue") {
    item->setEnabled(!(object && object->isStopwatchType()));
  } else if (identifier == "MenuItemStart") {
    item->setText(QString::fromStdString(control_->startText().value_or("")));
    item->setEnabled(control_->isStartEnabled());
  } else if (identifier == "MenuItemReset") {
    item->setText(QString::fromStdString(control_->resetText()));
    item->setEnabled(control_->isResetEnabled());
  } else {
    item->setEnabled(true);
  }
  return true;
}

void MasterViewControllerWithContextMenu::performOperation(
    const std::shared_ptr<BTTimeObject>& object, const std::function<void(std::int64_t)>& handler) {
  if (!object || !handler) return;
  const auto index = viewModel()->indexOfObject(object);
  if (viewModel()->isObjectIndexValid(index)) handler(index);
}

void MasterViewControllerWithContextMenu::onContextMenuEditTitle() {
  if (!control_) return;
  auto model = viewModel();
  performOperation(control_->timeObject(),
                   [model](std::int64_t i) { model->editObjectTitleAtIndex(i); });
}

void MasterViewControllerWithContextMenu::onContextMenuEditValue() {
  if (!control_) return;
  auto model = viewModel();
  performOperation(control_->timeObject(),
                   [model](std::int64_t i) { model->editObjectValueAtIndex(i); });
}

void MasterViewControllerWithContextMenu::onContextMenuDelete() {
  if (!control_) return;
  auto model = viewModel();
  performOperation(control_->timeObject(),
                   [model](std::int64_t i) { model->deleteObjectAtIndex(i); });
}

void MasterViewControllerWithContextMenu::onContextMenuStart() {
  if (control_) control_->startOrPause();
}

void MasterViewControllerWithContextMenu::onContextMenuReset() {
  if (control_) control_->reset();
}
