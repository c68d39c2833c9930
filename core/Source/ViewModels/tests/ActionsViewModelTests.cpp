// The actions list and the action editor, each against a test double of its view: loading,
// status text, reordering, deleting with confirmation, the rows' texts, the kinds and trigger
// kinds offered, validation, testing an unsaved action, and saving (new and edited) as the
// lists hear it.

#include <gtest/gtest.h>

#include "core/Source/Actions/BTActionExecutorService.h"
#include "core/Source/Model/BTActionTriggerUtil.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/UserMessages/BTAlert.h"
#include "core/Source/UserMessages/BTAlertAction.h"
#include "core/Source/ViewModels/BTActionObjectEditorViewModel.h"
#include "core/Source/ViewModels/BTActionObjectListItemViewModel.h"
#include "core/Source/ViewModels/BTActionsListViewModel.h"
#include "core/testsupport/ViewModelTestSupport.h"

namespace {

using Calls = std::vector<std::string>;

class ActionsListViewDouble : public BTActionsListView {
 public:
  void dataObjectsLoaded(const tw::Array& o) override { add("loaded " + std::to_string(o.size())); }
  void dataObjectListEmpty() override { add("empty"); }
  void dataObjectListNotEmpty() override { add("not empty"); }
  void dataObjectInserted(std::int64_t i) override { add("inserted " + std::to_string(i)); }
  void dataObjectDeleted(std::int64_t i) override { add("deleted " + std::to_string(i)); }
  void dataObjectUpdated(std::int64_t i) override { add("updated " + std::to_string(i)); }
  void dataObjectMovedFromIndex(std::int64_t f, std::int64_t t) override {
    add("moved " + std::to_string(f) + " " + std::to_string(t));
  }
  void showObjectEditorWithTimeObject(const std::shared_ptr<BTTimeObject>& o) override {
    add("new for " + o->title());
  }
  void showObjectEditorWithAction(const std::shared_ptr<BTActionObject>&) override { add("edit"); }
  void add(std::string c) { calls.push_back(std::move(c)); }
  Calls take() { return std::exchange(calls, {}); }
  Calls calls;
};

class DetailViewDouble : public tw::Object, public BTActionObjectEditorDetailView {
 public:
  void loadViewWithBuilder(const std::shared_ptr<BTActionBuilder>& b) override { builder_ = b; }
  bool shouldSave() const override { return shouldSave_; }
  std::shared_ptr<BTActionBuilder> actionBuilder() const override { return builder_; }
  void setShouldSave(bool v) { setValueForKey(v, "shouldSave"); }

 protected:
  bool getValueForKey(std::string_view key, tw::Value& out) const override {
    if (key == "shouldSave") return out = shouldSave_, true;
    return tw::Object::getValueForKey(key, out);
  }
  bool setValueForKeyImpl(std::string_view key, const tw::Value& v) override {
    if (key == "shouldSave") return shouldSave_ = v.boolValue(), true;
    return tw::Object::setValueForKeyImpl(key, v);
  }

 private:
  bool shouldSave_ = false;
  std::shared_ptr<BTActionBuilder> builder_;
};

class EditorViewDouble : public BTActionObjectEditorView {
 public:
  std::shared_ptr<BTActionObjectEditorDetailView> detailViewForActionType(
      std::string_view type) override {
    calls.push_back("detail for " + std::string(type));
    return detail;
  }
  void presentDetailView(const std::shared_ptr<BTActionObjectEditorDetailView>&) override {
    calls.push_back("present");
  }
  void presentBlankDetailView() override { calls.push_back("blank"); }
  void actionObjectChangesSaved(const std::shared_ptr<BTActionObject>& a) override {
    calls.push_back("saved");
    saved = a;
  }
  void actionObjectChangesDiscarded() override { calls.push_back("discarded"); }
  std::shared_ptr<DetailViewDouble> detail = std::make_shared<DetailViewDouble>();
  std::shared_ptr<BTActionObject> saved;
  Calls calls;
};

class ActionsTest : public tw::test::ViewModelTest {
 protected:
  std::shared_ptr<BTActionObject> addAlert(const std::shared_ptr<BTTimeObject>& owner,
                                           std::int64_t sortOrder, long kind = 2) {
    auto action = BTActionObject::actionObject<BTDisplayAlertAction>();
    action->setTimeObject(owner);
    action->setSortOrder(sortOrder);
    action->setEnabled(true);
    if (kind == 2) {
      auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
      trigger->setStateFrom(20);
      trigger->setStateTo(21);
      action->setTrigger(trigger);
    } else if (kind == 0) {
      action->setTrigger(BTActionTrigger::actionTrigger<BTActionTrigger>());
    }
    owner->addActionObject(action);
    return action;
  }
  std::shared_ptr<BTActionsListViewModel> openList(const std::shared_ptr<BTTimeObject>& owner) {
    auto list = BTActionsListViewModel::create(owner, listView_);
    list->initialize();
    EXPECT_TRUE(listView_->calls.empty()) << "the first load returns at once";
    pump();
    return list;
  }
  std::shared_ptr<BTTimeObject> tea() {
    auto timer = makeObjects(1, 1)[0];
    timer->setTitle("Tea");
    return timer;
  }

  std::shared_ptr<ActionsListViewDouble> listView_ = std::make_shared<ActionsListViewDouble>();
  std::shared_ptr<EditorViewDouble> editorView_ = std::make_shared<EditorViewDouble>();
};

// ----- the list

TEST_F(ActionsTest, ListLoadsInOrderWithStatusTextAndFollowsSelection) {
  auto owner = tea();
  auto list = openList(owner);
  EXPECT_EQ(listView_->take(), (Calls{"loaded 0", "empty"}));
  EXPECT_EQ(list->statusText(), "0 actions");

  auto owner2 = makeObjects(1, 2)[1];
  auto c = addAlert(owner2, 2), a = addAlert(owner2, 0), b = addAlert(owner2, 1);
  auto list2 = openList(owner2);
  EXPECT_EQ(listView_->take(), (Calls{"loaded 3", "not empty"}));
  EXPECT_EQ(list2->actionObjects(), (std::vector<std::shared_ptr<BTActionObject>>{a, b, c}));
  EXPECT_EQ(list2->statusText(), "3 actions");
  EXPECT_FALSE(list2->isDeleteActionEnabled());
  list2->deleteObject();
  EXPECT_TRUE(presenter().alerts.empty());
  list2->setSelectionIndex(1);
  EXPECT_TRUE(list2->isDeleteActionEnabled());
  list2->addNewObject();
  list2->editObjectAtIndex(2);
  list2->editObjectAtIndex(3);
  EXPECT_EQ(listView_->take(), (Calls{"new for 0", "edit"}));
}

TEST_F(ActionsTest, ListMovesRenumberAndDeletesAskFirst) {
  auto owner = tea();
  auto a = addAlert(owner, 0), b = addAlert(owner, 1), c = addAlert(owner, 2);
  auto list = openList(owner);
  listView_->take();
  list->moveObjectAtIndex(1, 1);
  list->moveObjectAtIndex(0, 5);
  EXPECT_TRUE(listView_->take().empty());
  list->moveObjectAtIndex(0, 2);
  EXPECT_EQ(listView_->take(), Calls{"moved 0 2"});
  EXPECT_EQ(list->actionObjects(), (std::vector<std::shared_ptr<BTActionObject>>{b, c, a}));
  EXPECT_EQ(b->sortOrder(), 0);
  EXPECT_EQ(c->sortOrder(), 1);
  EXPECT_EQ(a->sortOrder(), 2);

  settings_->actionObjectsBundle()->setPromptBeforeDelete(true);
  list->deleteObjectAtIndex(0);
  ASSERT_EQ(presenter().alerts.size(), 1u);
  auto alert = presenter().alerts[0];
  EXPECT_EQ(alert->title(), "Are you sure you want to delete this action?");
  EXPECT_EQ(alert->message(), "This action will be removed from `Tea`.");
  auto buttons = alert->actions();
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_EQ(buttons[0]->style(), 2);
  EXPECT_EQ(buttons[1]->style(), 1);
  buttons[1]->handlerBlock()();
  EXPECT_EQ(list->actionObjects().size(), 3u);
  buttons[0]->handlerBlock()();
  EXPECT_EQ(listView_->take(), (Calls{"deleted 0", "not empty"}));
  EXPECT_EQ(owner->actions().size(), 2u);
  EXPECT_TRUE(b->isDeleted());

  settings_->actionObjectsBundle()->setPromptBeforeDelete(false);
  list->deleteObjectAtIndex(1);
  list->deleteObjectAtIndex(0);
  EXPECT_EQ(listView_->take(), (Calls{"deleted 1", "not empty", "deleted 0", "empty"}));
  EXPECT_EQ(presenter().alerts.size(), 1u);
  EXPECT_EQ(list->statusText(), "0 actions");
}

TEST_F(ActionsTest, RowsDescribeTheActionAndItsTrigger) {
  auto owner = tea();
  auto fine = addAlert(owner, 0), generic = addAlert(owner, 1, 0), none = addAlert(owner, 2, -1);
  auto row = BTActionObjectViewModel::create<BTActionObjectListItemViewModel>(fine);
  EXPECT_EQ(row->actionName(), "");
  EXPECT_EQ(row->actionDescription(), "Show notification with the system sound");
  EXPECT_EQ(row->triggerDescription(), "When this timer finishes");
  EXPECT_TRUE(row->isEnabled());
  fine->setEnabled(false);
  EXPECT_FALSE(row->isEnabled());
  for (const auto& action : {generic, none})
    EXPECT_EQ(BTActionObjectViewModel::create<BTActionObjectListItemViewModel>(action)
                  ->triggerDescription(),
              "(error: no trigger specified)");
  EXPECT_THROW(BTActionObjectViewModel(), tw::Exception);
}

// ----- the editor

TEST_F(ActionsTest, NewTimerActionStartsAsAnAlertOnFinishingAndSavesOnceTheDetailAllows) {
  auto owner = tea();
  auto list = openList(owner);
  listView_->take();
  auto editor = BTActionObjectEditorViewModel::createWithTimeObject(owner, editorView_);
  editor->initialize();
  EXPECT_FALSE(editor->isEditingExistingActionObject());
  EXPECT_EQ(editor->selectedActionType(), "BTDisplayAlertAction");
  EXPECT_EQ(editor->selectedTriggerKind(), 2);
  EXPECT_EQ(editor->titleText(), "Action Editor | Tea");
  EXPECT_EQ(editor->selectionSummaryText(),
            "Shows a system alert notification with a message and sound.");
  EXPECT_EQ(editorView_->calls, (Calls{"detail for BTDisplayAlertAction", "present"}));
  EXPECT_EQ(editorView_->detail->actionBuilder(), editor->actionBuilder());
  EXPECT_TRUE(editor->isTriggerTimeDurationHidden());
  EXPECT_FALSE(editor->isSaveActionEnabled());
  editor->saveChanges();
  EXPECT_TRUE(owner->actions().empty()) << "an invalid action is never saved";

  editorView_->detail->setShouldSave(true);
  EXPECT_TRUE(editor->isSaveActionEnabled());
  EXPECT_TRUE(editor->isTestActionEnabled());
  editor->saveChanges();
  ASSERT_EQ(owner->actions().size(), 1u);
  EXPECT_EQ(editorView_->saved, owner->actions()[0]);
  EXPECT_EQ(BTActionTriggerUtil::actionTriggerKindFromActionTrigger(editorView_->saved->trigger()),
            2);
  pump();
  EXPECT_EQ(listView_->take(), (Calls{"inserted 0", "not empty"}));
  EXPECT_EQ(list->statusText(), "1 action");
}

TEST_F(ActionsTest, TimeKindsNeedADurationAndKeepItAcrossKinds) {
  auto editor = BTActionObjectEditorViewModel::createWithTimeObject(tea(), editorView_);
  editor->initialize();
  editorView_->detail->setShouldSave(true);
  editor->setSelectedTriggerKind(4);
  EXPECT_FALSE(editor->isTriggerTimeDurationHidden());
  EXPECT_FALSE(editor->isSaveActionEnabled());
  EXPECT_FALSE(editor->isTestActionEnabled());
  editor->setTriggerTimeDurationValue(5);
  EXPECT_TRUE(editor->isSaveActionEnabled());
  EXPECT_TRUE(editor->isTestActionEnabled());
  EXPECT_EQ(editor->actionBuilder()->triggerBuilder()->timeCondition(), 10);
  editor->setSelectedTriggerKind(3);
  EXPECT_EQ(editor->triggerTimeDurationValue(), 5);
  EXPECT_EQ(editor->actionBuilder()->triggerBuilder()->timeCondition(), 0);
  editor->actionBuilder()->triggerBuilder()->setTimeInterval(7.9);
  EXPECT_EQ(editor->triggerTimeDurationValue(), 7) << "whole seconds";
  editorView_->detail->setShouldSave(false);
  EXPECT_FALSE(editor->isSaveActionEnabled());
  editor->setSelectedTriggerKind(0);
  EXPECT_EQ(editor->selectedTriggerKind(), 3) << "kind 0 is never chosen";
}

TEST_F(ActionsTest, KindsOfferedFollowTheTimeObjectAndTheActionKind) {
  auto editor = BTActionObjectEditorViewModel::createWithTimeObject(tea(), editorView_);
  editor->initialize();
  EXPECT_EQ(editor->availableActionTriggerKinds(), (std::vector<std::int64_t>{1, 2, 4}));
  auto menu = editor->availableActionTypeMenuItemsUsingBuilder([](const std::string& type) {
    tw::MenuItem item;
    item.title = type;
    return item;
  });
  std::vector<std::string> titles;
  titles.reserve(menu.size());
  for (const auto& item : menu) titles.push_back(item.separator ? "-" : item.title);
  EXPECT_EQ(titles, (std::vector<std::string>{"BTDisplayAlertAction", "BTCustomMessageAction",
                                              "BTFlashScreenAction", "-", "BTLinkTimeObjectAction",
                                              "BTRepeatAction", "-", "BTSystemEventAction",
                                              "BTFileOperationAction", "BTAppOperationAction"}));
  EXPECT_EQ(menu[4].representedObject, tw::Value("BTLinkTimeObjectAction"));
  EXPECT_TRUE(editor->availableActionTriggerTypeMenuItemsUsingBuilder(nullptr).empty());

  editorView_->calls.clear();
  editorView_->detail->setShouldSave(true);
  editor->setSelectedActionType("BTRepeatAction");
  EXPECT_EQ(editorView_->calls, Calls{"blank"});
  EXPECT_FALSE(editor->detailView());
  EXPECT_EQ(editor->availableActionTriggerKinds(), std::vector<std::int64_t>{2});
  EXPECT_TRUE(editor->isSaveActionEnabled());
  EXPECT_FALSE(editor->isTestActionEnabled());

  auto stopwatch =
      BTActionObjectEditorViewModel::createWithTimeObject(makeObjects(2, 1)[0], editorView_);
  stopwatch->initialize();
  auto types = stopwatch->availableActionTypes();
  EXPECT_EQ(std::count(types.begin(), types.end(), "BTRepeatAction"), 0);
  EXPECT_EQ(types.size(), 7u);
  EXPECT_EQ(stopwatch->availableActionTriggerKinds(), (std::vector<std::int64_t>{1, 3}));
}

TEST_F(ActionsTest, SavingAnEditReplacesTheActionKeepingItsIdentityAndPlace) {
  auto owner = tea();
  auto first = addAlert(owner, 0);
  auto edited = addAlert(owner, 1);
  addAlert(owner, 2);
  auto list = openList(owner);
  listView_->take();
  auto editor = BTActionObjectEditorViewModel::createWithActionObject(edited, editorView_);
  editor->initialize();
  EXPECT_TRUE(editor->isEditingExistingActionObject());
  EXPECT_EQ(editor->selectedTriggerKind(), 2);
  editorView_->detail->setShouldSave(true);
  editor->setSelectedActionType("BTCustomMessageAction");
  editor->saveChanges();
  auto saved = editorView_->saved;
  ASSERT_TRUE(saved);
  EXPECT_NE(saved, edited);
  EXPECT_TRUE(edited->isDeleted());
  EXPECT_EQ(saved->uuid(), edited->uuid());
  EXPECT_EQ(saved->creationDate(), edited->creationDate());
  EXPECT_EQ(saved->className(), "BTCustomMessageAction");
  EXPECT_EQ(owner->actions().size(), 3u);
  pump();
  EXPECT_EQ(listView_->take(), Calls{"updated 1"});
  EXPECT_EQ(list->actionObjects()[1], saved);
  EXPECT_EQ(list->actionObjects()[0], first);

  editor->discardChanges();
  EXPECT_EQ(editorView_->calls.back(), "discarded");
}

TEST_F(ActionsTest, EditingAnActionWithoutAKindLeavesTheKindUnchosen) {
  auto owner = tea();
  for (long kind : {0L, -1L}) {
    auto action = addAlert(owner, 0, kind);
    auto editor = BTActionObjectEditorViewModel::createWithActionObject(action, editorView_);
    editor->initialize();
    editorView_->detail->setShouldSave(true);
    EXPECT_EQ(editor->selectedTriggerKind(), 0) << kind;
    EXPECT_TRUE(editor->isTriggerTimeDurationHidden());
    EXPECT_FALSE(editor->isSaveActionEnabled());
    EXPECT_EQ(editor->actionBuilder()->triggerBuilder()->stateFrom(), -1);
  }
}

TEST_F(ActionsTest, TestingRunsAnUnsavedProxyThatKeepsItsMarker) {
  auto owner = tea();
  auto editor = BTActionObjectEditorViewModel::createWithTimeObject(owner, editorView_);
  editor->initialize();
  editor->testAction();
  EXPECT_TRUE(executor().actions.empty()) << "not testable while save is disabled";
  editorView_->detail->setShouldSave(true);
  editor->testAction();
  ASSERT_EQ(executor().actions.size(), 1u);
  auto tested = executor().actions[0];
  EXPECT_TRUE(tw::conformsTo<BTDisplayAlertActionProtocol>(tested));
  EXPECT_TRUE(BTActionExecutorService::isTestActionObject(tested.get()));
  EXPECT_EQ(BTActionTriggerUtil::actionTriggerKindFromActionTrigger(tested->trigger()), 2);
  EXPECT_EQ(BTActionTriggerUtil::actionTriggerActivatedDescription(tested->trigger()),
            "this timer has finished");
  EXPECT_TRUE(owner->actions().empty());
  std::weak_ptr<BTActionObjectProtocol> weak = tested;
  tested.reset();
  executor().actions.clear();
  EXPECT_TRUE(weak.expired());

  // A system event (sleep, shut down) is never tried out, though it could be saved.
  editor->setSelectedActionType(std::string("BTSystemEventAction"));
  editorView_->detail->setShouldSave(true);
  EXPECT_TRUE(editor->isSaveActionEnabled());
  EXPECT_FALSE(editor->isTestActionEnabled());
  editor->testAction();
  EXPECT_TRUE(executor().actions.empty());
}

TEST_F(ActionsTest, ViewModelsDoNotKeepTheirViewsAliveNorListenAfterThem) {
  auto owner = tea();
  auto center = tw::NotificationCenter::defaultCenter();
  const auto before = center->observerCount();
  std::weak_ptr<BTActionsListViewModel> weakList;
  std::weak_ptr<BTActionObjectEditorViewModel> weakEditor;
  {
    // A screen owning its view model, which refers back to it.
    struct Screen {
      std::shared_ptr<ActionsListViewDouble> view = std::make_shared<ActionsListViewDouble>();
      std::shared_ptr<BTActionsListViewModel> model;
    };
    auto screen = std::make_shared<Screen>();
    screen->model = BTActionsListViewModel::create(owner, screen->view);
    weakList = screen->model;
    auto editorView = std::make_shared<EditorViewDouble>();
    auto editor = BTActionObjectEditorViewModel::createWithTimeObject(owner, editorView);
    editor->initialize();
    weakEditor = editor;
    EXPECT_EQ(center->observerCount(), before + 2);
  }
  EXPECT_TRUE(weakList.expired());
  EXPECT_TRUE(weakEditor.expired());
  EXPECT_EQ(center->observerCount(), before);
}

}  // namespace
