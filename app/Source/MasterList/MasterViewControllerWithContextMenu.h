#pragma once
// MasterViewControllerWithContextMenu: the master list with a context menu on its rows: edit
// title, edit value, delete, start or pause, reset. Opening the menu over a row captures that
// row's running control; the items then act on its object wherever it stands in the list at the
// time of the choice. Opening it over no row clears the capture and disables the row items.
// Owned by the split view controller; main thread only.

#include <QMenu>

#include "app/Source/MasterList/MasterViewController.h"

class BTTimeObjectControlViewModel;
class BTTimingController;

class MasterViewControllerWithContextMenu : public MasterViewController {
 public:
  MasterViewControllerWithContextMenu();
  ~MasterViewControllerWithContextMenu() override;

  // Null: the default factory's timing controller.
  void setTimingController(std::weak_ptr<BTTimingController> controller) {
    timingController_ = std::move(controller);
  }
  QMenu* contextMenu() const { return menu_; }
  QAction* contextMenuItem(const char* identifier) const;
  std::shared_ptr<BTTimeObject> timeObjectForContextMenu() const;
  const std::shared_ptr<BTTimeObjectControlViewModel>& capturedControl() const { return control_; }

  void menuWillOpen(QMenu& menu);
  bool updateItem(QMenu& menu, QAction* item, int index, bool shouldCancel);

  void onContextMenuEditTitle();
  void onContextMenuEditValue();
  void onContextMenuDelete();
  void onContextMenuStart();
  void onContextMenuReset();

 protected:
  void viewDidLoad() override;

 private:
  void performOperation(const std::shared_ptr<BTTimeObject>& object,
                        const std::function<void(std::int64_t)>& handler);

  std::weak_ptr<BTTimingController> timingController_;
  std::shared_ptr<BTTimeObjectControlViewModel> control_;
  QPointer<QMenu> menu_;
};
