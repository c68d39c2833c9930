#pragma once
// ActionsEditorViewController: the action editor, a small modal window in which the user makes
// a new action for a time object or changes one: what the action does (its kind), when it fires
// (its trigger, with a duration in seconds for the two time triggers), the kind's own settings
// in a detail view below, and Save, Cancel and Test. It is the view of the editor view model,
// which holds the edited values in its builder and saves, discards and tests; this controller
// builds the two menus, shows the detail views it is asked for and keeps the window fitted to
// its content. Return saves (while Save is enabled), Escape cancels.
//
// ActionsEditorViewControllerWithTouchBar mirrors Save and Test on the touch bar model.
//
// Made by the actions list for one edit and presented in a modal window; the controller owns its
// view model (which holds it weakly) and is released by its presenter once it reports its
// changes saved or discarded. Main thread only.

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <functional>
#include <memory>

#include "core/Source/ViewModels/BTActionObjectEditorView.h"
#include "platform/ui/ViewController.h"

class ActionObjectEditorView;
class BTActionObject;
class BTActionObjectEditorViewModel;
class BTTimeObject;
namespace tw::app {
class PopUpButton;
}  // namespace tw::app

class ActionsEditorViewController : public tw::ui::ViewController, public BTActionObjectEditorView {
 public:
  // A new action for `timeObject` (initWithTimeObject:), or the edit of `action`
  // (initWithActionObject:, whose time object is the action's).
  explicit ActionsEditorViewController(std::shared_ptr<BTTimeObject> timeObject);
  explicit ActionsEditorViewController(std::shared_ptr<BTActionObject> action);
  ~ActionsEditorViewController() override;

  const std::shared_ptr<BTTimeObject>& timeObject() const { return timeObject_; }
  const std::shared_ptr<BTActionObject>& actionObject() const { return actionObject_; }
  bool isEditingExistingActionObject() const { return actionObject_ != nullptr; }
  const std::shared_ptr<BTActionObjectEditorViewModel>& viewModel() const { return viewModel_; }

  QLabel* windowTitleLabel() const { return windowTitleLabel_; }
  tw::app::PopUpButton* actionSelectButton() const { return actionSelectButton_; }
  QLabel* actionDescriptionLabel() const { return actionDescriptionLabel_; }
  QWidget* containerView() const { return containerView_; }
  tw::app::PopUpButton* triggerSelectButton() const { return triggerSelectButton_; }
  QWidget* triggerTimeDurationContainerView() const { return triggerTimeDurationContainerView_; }
  QLineEdit* triggerTimeDurationField() const { return triggerTimeDurationField_; }
  QPushButton* saveActionButton() const { return saveActionButton_; }
  QPushButton* cancelActionButton() const { return cancelActionButton_; }
  QPushButton* testActionButton() const { return testActionButton_; }
  // The widget the container shows (a kind's detail view or the blank view).
  QWidget* shownDetailWidget() const;

  void saveAction();
  void cancelAction();
  void testAction();
  void onActionSelectionChange();
  void onTriggerSelectionChange();
  void setActionSelectMenu();
  void setTriggerSelectionMenu();

  // Readies `window` (the modal window that shows this controller's view) before it is shown:
  // no title text, no close, minimise or resize buttons, fitted to the content.
  void prepareWindow(QWidget* window);
  // Who dismisses the editor once it is done; without one the editor closes its own window.
  void setDismissHandler(std::function<void(const ActionsEditorViewController*)> handler) {
    dismissHandler_ = std::move(handler);
  }

  // BTActionObjectEditorView
  std::shared_ptr<BTActionObjectEditorDetailView> detailViewForActionType(
      std::string_view type) override;
  void presentDetailView(const std::shared_ptr<BTActionObjectEditorDetailView>& view) override;
  void presentBlankDetailView() override;
  void actionObjectChangesSaved(const std::shared_ptr<BTActionObject>& action) override;
  void actionObjectChangesDiscarded() override;

 protected:
  void loadView() override;
  void viewDidLoad() override;
  virtual void setupView() {}
  virtual void setupTouchBar() {}
  virtual void bindViewModel();

 private:
  void setContainerContent(QWidget* content, bool animated);
  void resizeWindow(bool animated);
  void dismiss();

  std::shared_ptr<BTTimeObject> timeObject_;
  std::shared_ptr<BTActionObject> actionObject_;
  std::shared_ptr<BTActionObjectEditorViewModel> viewModel_;
  std::function<void(const ActionsEditorViewController*)> dismissHandler_;
  bool dismissed_ = false;

  QPointer<QWidget> root_;
  QLabel* windowTitleLabel_ = nullptr;
  tw::app::PopUpButton* actionSelectButton_ = nullptr;
  QLabel* actionDescriptionLabel_ = nullptr;
  QWidget* containerView_ = nullptr;
  tw::app::PopUpButton* triggerSelectButton_ = nullptr;
  QWidget* triggerTimeDurationContainerView_ = nullptr;
  QLineEdit* triggerTimeDurationField_ = nullptr;
  QPushButton* saveActionButton_ = nullptr;
  QPushButton* cancelActionButton_ = nullptr;
  QPushButton* testActionButton_ = nullptr;
};

class ActionsEditorViewControllerWithTouchBar : public ActionsEditorViewController {
 public:
  using ActionsEditorViewController::ActionsEditorViewController;

  static constexpr const char* kSaveItem = "com.velmora.Tickwell.touchbar.actionEditor.save";
  static constexpr const char* kTestItem = "com.velmora.Tickwell.touchbar.actionEditor.test";
  std::shared_ptr<tw::ui::TouchBarItem> touchBarSaveActionButton() const { return saveItem_; }
  std::shared_ptr<tw::ui::TouchBarItem> touchBarTestActionButton() const { return testItem_; }

 protected:
  void setupTouchBar() override;
  void bindViewModel() override;
  std::shared_ptr<tw::ui::TouchBar> makeTouchBar() override;

 private:
  std::shared_ptr<tw::ui::TouchBarItem> saveItem_;
  std::shared_ptr<tw::ui::TouchBarItem> testItem_;
};
