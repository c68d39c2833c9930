#pragma once
// ActionsListViewController: the actions of the detail pane's time object: a table of rows (an
// on/off switch, what the action does, when it fires, an edit button), a footer with add and
// remove buttons and a status line, and a placeholder while the object has no actions. It is the
// view of the actions list view model: every callback becomes a table update, every gesture goes
// back to the view model, and the view model's requests to edit open the action editor in a
// modal window over the main window.
//
// Each new time object gets a new view model and table source; the old ones are released with
// their bindings (the view model holds this controller weakly). An open editor is kept here
// until it reports its changes saved or discarded, and released a turn later.
//
// Made by the timing display (through its actions-list factory), which owns it as a child
// controller; main thread only. Observable key: "timeObject".

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <memory>

#include "app/Source/Controls/ListFooterView.h"
#include "app/Source/Controls/ModalWindow.h"
#include "app/Source/MainWindow/MasterViewControllerDelegate.h"
#include "core/Source/ViewModels/BTActionsListView.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

class ActionsEditorViewController;
class ActionsListTableSource;
class BTActionsListViewModel;
class BTStaticPlaceholderView;
class RACSubject;

class ActionsListViewController : public tw::ui::ViewController,
                                  public BTActionsListView,
                                  public TimeObjectDisplay {
 public:
  ActionsListViewController();
  ~ActionsListViewController() override;

  // The same object again does nothing; another one rebuilds the list.
  void setTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) override;
  const std::shared_ptr<BTTimeObject>& timeObject() const { return timeObject_; }
  const std::shared_ptr<BTActionsListViewModel>& viewModel() const { return viewModel_; }
  ActionsListTableSource* tableSource() const { return tableSource_.get(); }

  tw::ui::TableView* tableView() const { return tableView_; }
  QWidget* footerView() const { return footerView_; }
  QPushButton* addButton() const { return addButton_; }
  QPushButton* removeButton() const { return removeButton_; }
  QLabel* statusLabel() const { return statusLabel_; }
  BTStaticPlaceholderView* emptyContentView() const { return emptyContentView_; }
  // The placeholder's target opacity (0 hidden, 1 shown).
  double emptyContentViewAlpha() const { return emptyAlpha_; }

  void addActionObject();
  void removeActionObject();
  void setEmptyContentViewHidden(bool hidden, bool animated);

  // The editor on screen, and its window; null while none is.
  const std::shared_ptr<ActionsEditorViewController>& presentedEditor() const { return editor_; }
  ModalWindow* editorWindow() const { return editorWindow_; }
  // Closes the editor's window and releases the editor on a later turn (it is still on the
  // stack of its own save or cancel).
  void dismissEditor(const ActionsEditorViewController* editor);

  // BTDataObjectListView, BTActionsListView
  void dataObjectsLoaded(const tw::Array& objects) override;
  void dataObjectListEmpty() override;
  void dataObjectInserted(std::int64_t index) override;
  void dataObjectDeleted(std::int64_t index) override;
  void dataObjectUpdated(std::int64_t index) override;
  void dataObjectMovedFromIndex(std::int64_t from, std::int64_t to) override;
  void dataObjectListNotEmpty() override;
  void showObjectEditorWithTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) override;
  void showObjectEditorWithAction(const std::shared_ptr<BTActionObject>& action) override;

 protected:
  void loadView() override;
  void viewDidLoad() override;
  bool getValueForKey(std::string_view key, tw::Value& out) const override;

 private:
  void rebuildList();
  void presentEditor(const std::shared_ptr<ActionsEditorViewController>& editor);
  // The table's selection after a structural change, told to the view model (inserts and moves
  // shift the selected row without the table reporting it).
  void syncSelection();

  std::shared_ptr<BTTimeObject> timeObject_;
  std::shared_ptr<BTActionsListViewModel> viewModel_;
  std::unique_ptr<ActionsListTableSource> tableSource_;
  std::shared_ptr<RACSubject> rebuilt_;
  std::shared_ptr<ActionsEditorViewController> editor_;
  QPointer<ModalWindow> editorWindow_;

  QPointer<QWidget> root_;
  // The table is a child of the view, which Qt may delete before this controller.
  QPointer<tw::ui::TableView> tableView_;
  ListFooterView* footerView_ = nullptr;
  QPushButton* addButton_ = nullptr;
  QPushButton* removeButton_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  BTStaticPlaceholderView* emptyContentView_ = nullptr;
  double emptyAlpha_ = 1.0;
};
