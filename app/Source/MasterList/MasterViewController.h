#pragma once
// MasterViewController: the master pane of the main window: three tabs (alarms, timers,
// stopwatches) over the table of the current kind, add and remove buttons below, and a
// placeholder over the table while the kind has no objects. It is the view of the master list
// view model: every callback becomes a table update, every gesture goes back to the view model,
// and selections travel up to the delegate (the split view controller).
//
// MasterViewControllerWithContextMenu adds the rows' context menu (edit title, edit value,
// delete, start or pause, reset), acting on the row under the pointer when the menu opened.
//
// Owned by the split view controller; owns its view model and table source. Main thread only.

#include <QPointer>
#include <QPushButton>
#include <memory>

#include "app/Source/Controls/BTGradientView.h"
#include "app/Source/Controls/ListFooterView.h"
#include "app/Source/MainWindow/MasterViewControllerDelegate.h"
#include "app/Source/MasterList/MasterListTableView.h"
#include "core/Source/ViewModels/BTMasterListView.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/ViewController.h"

class BTMasterListViewModel;
class BTStaticPlaceholderView;
class MasterListTableSource;
class QAction;

class MasterViewController : public tw::ui::ViewController,
                             public BTMasterListView,
                             public MasterListController {
 public:
  MasterViewController();
  ~MasterViewController() override;

  void setDelegate(std::weak_ptr<MasterViewControllerDelegate> delegate) override {
    delegate_ = std::move(delegate);
  }
  const std::shared_ptr<BTMasterListViewModel>& viewModel() const { return viewModel_; }
  MasterListTableSource* tableSource() const { return tableSource_.get(); }

  BTGradientView* rootView() const { return root_; }
  MasterListTableView* tableView() const { return tableView_; }
  QPushButton* addButton() const { return addButton_; }
  QPushButton* removeButton() const { return removeButton_; }
  QPushButton* alarmTabButton() const { return alarmTabButton_; }
  QPushButton* timerTabButton() const { return timerTabButton_; }
  QPushButton* stopwatchTabButton() const { return stopwatchTabButton_; }
  QWidget* tabIndicatorView() const { return tabIndicatorView_; }
  BTStaticPlaceholderView* emptyContentView() const { return emptyContentView_; }
  // The placeholder's target opacity (0 hidden, 1 shown).
  double emptyContentViewAlpha() const { return emptyAlpha_; }

  // Actions (also reachable by name through the responder chain).
  void addTimeObject();
  void removeTimeObject();
  void editTimeObjectTitle();
  void editTimeObjectValue();
  void selectTab(QObject* sender);
  void selectNextTab();
  void selectPreviousTab();
  // Whether the named action may run now (menu items, shortcuts).
  bool validateAction(const std::string& action) const;

  // BTMasterListView
  void dataObjectsLoaded(const tw::Array& objects) override;
  void dataObjectListEmpty() override;
  void dataObjectInserted(std::int64_t index) override;
  void dataObjectDeleted(std::int64_t index) override;
  void dataObjectMovedFromIndex(std::int64_t from, std::int64_t to) override;
  void dataObjectSelectionChanged(const std::shared_ptr<BTTimeObject>& object,
                                  const std::shared_ptr<BTViewTransition>& transition) override;
  void restoreDataObjectSelection(std::int64_t index) override;
  void showObjectTitleEditor(const std::shared_ptr<BTTimeObject>& object) override;
  void showObjectValueEditor(const std::shared_ptr<BTTimeObject>& object) override;

  void setEmptyContentViewHidden(bool hidden, bool animated);

 protected:
  void loadView() override;
  void viewDidLoad() override;
  virtual void onTimeObjectSelected(const std::shared_ptr<BTTimeObject>& /*object*/) {}

 private:
  void masterListViewModeDidChange(const tw::Notification& notification);
  void updateEmptyContentView();
  void restoreTabSelection();
  // The list and its buttons say which kind of object they show, add and remove.
  void updateAccessibleNames();
  void selectTabButton(QPushButton* button);
  void positionTabIndicatorNextToView(QWidget* button, bool animated);
  QPushButton* tabButton(std::int64_t mode) const;

  std::weak_ptr<MasterViewControllerDelegate> delegate_;
  std::shared_ptr<BTMasterListViewModel> viewModel_;
  std::unique_ptr<MasterListTableSource> tableSource_;
  tw::ScopedNotificationToken modeObserver_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

  QPointer<BTGradientView> root_;
  BTGradientView* menuView_ = nullptr;
  // Goes with the view's widget tree, which its parents may delete before this controller.
  QPointer<MasterListTableView> tableView_;
  ListFooterView* footerView_ = nullptr;
  QPushButton* addButton_ = nullptr;
  QPushButton* removeButton_ = nullptr;
  QPushButton* alarmTabButton_ = nullptr;
  QPushButton* timerTabButton_ = nullptr;
  QPushButton* stopwatchTabButton_ = nullptr;
  QWidget* tabIndicatorView_ = nullptr;
  BTStaticPlaceholderView* emptyContentView_ = nullptr;
  double emptyAlpha_ = 1.0;
};
