#pragma once
// MasterPlaceholderViewController: the left pane until the master list screen lands: the three
// view modes (alarms, timers, stopwatches) as buttons and the titles of that mode's time objects
// from the store. Changing the mode stores it and announces it (the detail pane tints itself);
// selecting a row reports it to the delegate with a fade. Owned by the split view controller;
// main thread only.

#include <QPointer>
#include <memory>
#include <vector>

#include "app/Source/MainWindow/MasterViewControllerDelegate.h"
#include "platform/ui/ViewController.h"

class QListWidget;
class QButtonGroup;

class MasterPlaceholderViewController : public tw::ui::ViewController, public MasterListController {
 public:
  void setDelegate(std::weak_ptr<MasterViewControllerDelegate> delegate) override {
    delegate_ = std::move(delegate);
  }
  long viewMode() const { return mode_; }
  // Shows the mode's objects, stores and announces the mode, and selects the first row.
  void setViewMode(long mode);
  // Re-reads the current mode's objects from the store.
  void reload();
  void selectRow(int row);
  const std::vector<std::shared_ptr<BTTimeObject>>& objects() const { return objects_; }

 protected:
  void loadView() override;
  void viewDidLoad() override;

 private:
  std::weak_ptr<MasterViewControllerDelegate> delegate_;
  long mode_ = 1;
  QPointer<QListWidget> list_;
  QButtonGroup* modes_ = nullptr;
  std::vector<std::shared_ptr<BTTimeObject>> objects_;
};
