#pragma once
// Shared set-up of the actions list and action editor tests: the view-model test assembly (an
// alert presenter and an action executor that only record, a virtual clock, a private store),
// Qt's offscreen platform, and quick ways to make actions, open the list and find the editor.
// Test-only; main thread.

#include <QApplication>
#include <QVBoxLayout>
#include <memory>
#include <string>

#include "app/Source/ActionEditor/ActionsEditorViewController.h"
#include "app/Source/ActionsList/ActionsListViewController.h"
#include "app/Source/Controls/ModalWindow.h"
#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/testsupport/ViewModelTestSupport.h"
#include "platform/ui/Application.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace tw::test {

class ActionsUiTest : public ViewModelTest {
 protected:
  void SetUp() override {
    tw::ui::test::application();
    ViewModelTest::SetUp();
  }
  void TearDown() override {
    list_.reset();
    window_.reset();
    settle();
    ViewModelTest::TearDown();
  }
  // Runs Qt's events and the main queue for a moment.
  void settle(double seconds = 0.02) {
    pump();
    tw::ui::Application::runEventsUntil([] { return false; }, seconds);
    pump();
  }
  // A stored action of kind T on `owner`, firing when it finishes.
  template <class T = BTDisplayAlertAction>
  std::shared_ptr<T> addAction(const std::shared_ptr<BTTimeObject>& owner, std::int64_t sortOrder,
                               bool enabled = true) {
    auto action = BTActionObject::actionObject<T>();
    BTActionObjectUtil::setDefaultValues(*action);
    action->setTimeObject(owner);
    action->setSortOrder(sortOrder);
    action->setEnabled(enabled);
    auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
    trigger->setStateFrom(20);
    trigger->setStateTo(21);
    action->setTrigger(trigger);
    owner->addActionObject(action);
    return action;
  }
  // The list showing `owner`, in a shown window of its own, loaded.
  std::shared_ptr<ActionsListViewController> openList(const std::shared_ptr<BTTimeObject>& owner) {
    list_ = std::make_shared<ActionsListViewController>();
    window_ = std::make_unique<QWidget>();
    window_->resize(500, 400);
    auto* layout = new QVBoxLayout(window_.get());
    layout->addWidget(list_->view());
    window_->show();
    list_->setTimeObject(owner);
    settle();
    return list_;
  }
  std::shared_ptr<ActionsEditorViewController> editor() const {
    return list_ ? list_->presentedEditor() : nullptr;
  }

  std::shared_ptr<ActionsListViewController> list_;
  std::unique_ptr<QWidget> window_;
};

}  // namespace tw::test
