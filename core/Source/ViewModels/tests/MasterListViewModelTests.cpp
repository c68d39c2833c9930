// The master list view model against a test double of its view: restoring the selection per
// mode, the transition table, the view-mode announcement's place, adding (and the value editor
// that follows), deleting with and without the prompt, moving, and late provider results.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Source/UserMessages/BTAlert.h"
#include "core/Source/UserMessages/BTAlertAction.h"
#include "core/Source/ViewModels/BTMasterListViewModel.h"
#include "core/testsupport/ViewModelTestSupport.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

using tw::test::ViewModelTest;

class MasterListViewDouble : public BTMasterListView {
 public:
  void dataObjectsLoaded(const tw::Array& objects) override {
    calls.push_back("loaded " + std::to_string(objects.size()));
  }
  void dataObjectListEmpty() override { calls.push_back("empty"); }
  void dataObjectInserted(std::int64_t i) override {
    calls.push_back("inserted " + std::to_string(i));
  }
  void dataObjectDeleted(std::int64_t i) override {
    calls.push_back("deleted " + std::to_string(i));
  }
  void dataObjectMovedFromIndex(std::int64_t from, std::int64_t to) override {
    calls.push_back("moved " + std::to_string(from) + " " + std::to_string(to));
  }
  void dataObjectSelectionChanged(const std::shared_ptr<BTTimeObject>& object,
                                  const std::shared_ptr<BTViewTransition>& transition) override {
    calls.push_back("selected " + object->title());
    lastTransition = transition;
  }
  void restoreDataObjectSelection(std::int64_t i) override {
    calls.push_back("restore " + std::to_string(i));
  }
  void showObjectTitleEditor(const std::shared_ptr<BTTimeObject>& o) override {
    calls.push_back("title editor " + o->title());
  }
  void showObjectValueEditor(const std::shared_ptr<BTTimeObject>& o) override {
    calls.push_back("value editor " + o->title());
  }
  std::vector<std::string> take() { return std::exchange(calls, {}); }

  std::vector<std::string> calls;
  std::shared_ptr<BTViewTransition> lastTransition;
};

using Calls = std::vector<std::string>;

class MasterListTest : public ViewModelTest {
 protected:
  std::shared_ptr<BTMasterListViewModel> open(std::int64_t mode, std::int64_t savedIndex) {
    auto bundle = settings_->masterDetailBundle();
    bundle->setViewMode(mode);
    if (mode == 0) bundle->setAlarmSelectionIndex(savedIndex);
    if (mode == 1) bundle->setTimerSelectionIndex(savedIndex);
    if (mode == 2) bundle->setStopwatchSelectionIndex(savedIndex);
    auto model = BTMasterListViewModel::create(view_);
    model->initialize();
    pump();
    return model;
  }
  void setPrompt(bool on) { settings_->timeObjectsBundle()->setPromptBeforeDelete(on); }

  std::shared_ptr<MasterListViewDouble> view_ = std::make_shared<MasterListViewDouble>();
};

TEST_F(MasterListTest, SavedSelectionIsRestoredWithinTheList) {
  makeObjects(1, 3);
  auto model = open(1, BTNotFound);
  EXPECT_EQ(view_->take(), (Calls{"loaded 3", "selected 0", "restore 0"}));
  EXPECT_EQ(model->selectionIndex(), 0);
  EXPECT_TRUE(model->isDeleteActionEnabled());
  EXPECT_EQ(settings_->masterDetailBundle()->timerSelectionIndex(), 0) << "saved";

  open(1, 7);
  EXPECT_EQ(view_->take(), (Calls{"loaded 3", "selected 2", "restore 2"}));

  auto empty = open(2, 4);
  EXPECT_EQ(view_->take(), (Calls{"loaded 0", "empty"}));
  EXPECT_EQ(empty->selectionIndex(), BTNotFound);
  EXPECT_FALSE(empty->isDeleteActionEnabled());
}

TEST_F(MasterListTest, ModeSwitchAnnouncesTheModeAfterLoadingAndBeforeTheViewHearsOfIt) {
  makeObjects(1, 2);
  makeObjects(2, 1);
  auto model = open(1, 1);
  view_->take();
  std::vector<long> modes;
  auto token = tw::ScopedNotificationToken(tw::NotificationCenter::defaultCenter()->addObserver(
      BTMasterListViewModeDidChangeNotification, model, nullptr, [&](const tw::Notification& n) {
        modes.push_back(BTMasterListViewGetValueFromNotification(n));
        view_->calls.push_back("announced");
      }));
  model->setViewMode(1);
  pump();
  EXPECT_TRUE(view_->take().empty()) << "the shown mode again changes nothing";

  model->setViewMode(2);
  pump();
  EXPECT_EQ(view_->take(), (Calls{"announced", "loaded 1", "selected 0", "restore 0"}));
  EXPECT_EQ(modes, std::vector<long>{2});
  ASSERT_TRUE(view_->lastTransition);
  EXPECT_EQ(view_->lastTransition->animation(), 3);
  EXPECT_EQ(view_->lastTransition->direction(), 4) << "the mode's transition, not the row's";
  EXPECT_EQ(settings_->masterDetailBundle()->timerSelectionIndex(), 1) << "each mode keeps its own";
}

TEST_F(MasterListTest, ALateLoadOfAModeLeftAgainIsIgnored) {
  auto model = BTMasterListViewModel::create(view_);
  settings_->masterDetailBundle()->setViewMode(2);
  model->initialize();    // stopwatches, loading
  model->setViewMode(0);  // alarms, loading
  model->setViewMode(2);  // back: a new load; the two before it are stale
  pump();
  EXPECT_EQ(view_->take(), (Calls{"loaded 0", "empty"}));
}

TEST_F(MasterListTest, TransitionsFollowTheTableAndTheAnimationsSetting) {
  auto model = BTMasterListViewModel::create(view_);
  struct Row {
    std::int64_t from, to, animation, direction;
  } rows[] = {
      {BTNotFound, 2, 1, 0}, {2, BTNotFound, 1, 0}, {2, 1, 3, 3}, {1, 2, 3, 1}, {1, 1, 3, 1}};
  for (const auto& r : rows) {
    auto t = model->transitionForSelectionChange(r.from, r.to);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->animation(), r.animation);
    EXPECT_EQ(t->direction(), r.direction) << r.from << " -> " << r.to;
  }
  EXPECT_EQ(model->transitionForViewModeChange(0, 2)->direction(), 4);
  EXPECT_EQ(model->transitionForViewModeChange(2, 1)->direction(), 2);
  EXPECT_FALSE(model->transitionForViewModeChange(1, 1));
  settings_->generalBundle()->setAnimationsDisabled(true);
  EXPECT_FALSE(model->transitionForSelectionChange(1, 2));
  EXPECT_FALSE(model->transitionForViewModeChange(0, 2));
}

TEST_F(MasterListTest, TableClicksSelectOrRestoreTheRow) {
  makeObjects(1, 3);
  auto model = open(1, 1);
  view_->take();
  model->selectObjectAtIndex(-1);  // empty space
  EXPECT_EQ(view_->take(), Calls{"restore 1"});
  model->selectObjectAtIndex(1);
  EXPECT_TRUE(view_->take().empty());
  model->selectObjectAtIndex(9);
  EXPECT_EQ(view_->take(), Calls{"restore 1"});
  model->selectObjectAtIndex(2);
  EXPECT_EQ(view_->take(), Calls{"selected 2"});
  EXPECT_EQ(view_->lastTransition->direction(), 1);
  model->editObjectTitleAtIndex(0);
  model->editObjectValueAtIndex(0);
  EXPECT_EQ(view_->take(), (Calls{"title editor 0", "value editor 0"}));
}

TEST_F(MasterListTest, AddingOpensTheValueEditorOfTheNewObjectAQuarterSecondLater) {
  makeObjects(1, 2);
  auto model = open(1, 0);
  view_->take();
  model->addNewObject();
  pump();
  EXPECT_EQ(view_->take(), Calls{"inserted 2"});
  advance(0.2);
  EXPECT_TRUE(view_->take().empty());
  // A reorder within the delay: the editor still opens for the new object.
  model->moveObjectAtIndex(2, 0);
  advance(0.1);
  auto calls = view_->take();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], "moved 2 0");
  EXPECT_EQ(calls[1].rfind("value editor", 0), 0u);
  EXPECT_EQ(model->objectAtIndex(0)->title(), calls[1].substr(13));

  // Switched away within the delay: no editor.
  model->addNewObject();
  pump();
  model->setViewMode(2);
  advance(0.5);
  for (const auto& c : view_->take()) EXPECT_EQ(c.find("value editor"), std::string::npos) << c;

  // Adding to an empty list selects the new row; stopwatches have no value editor.
  model->addNewObject();
  pump();
  advance(0.5);
  auto stopwatchCalls = view_->take();
  EXPECT_EQ(stopwatchCalls.front(), "inserted 0");
  EXPECT_EQ(model->selectionIndex(), 0);
  for (const auto& c : stopwatchCalls) EXPECT_EQ(c.find("value editor"), std::string::npos) << c;
}

TEST_F(MasterListTest, DeletingKeepsTheSelectionOnItsObject) {
  setPrompt(false);
  auto objects = makeObjects(1, 5);
  auto model = open(1, 2);
  view_->take();

  model->deleteObjectAtIndex(0);  // above the selection
  pump();
  EXPECT_EQ(view_->take(), Calls{"deleted 0"});
  EXPECT_EQ(model->selectionIndex(), 1);
  EXPECT_EQ(model->objectAtIndex(1), objects[2]);
  EXPECT_EQ(settings_->masterDetailBundle()->timerSelectionIndex(), 1);

  model->deleteObjectAtIndex(3);  // below it
  pump();
  EXPECT_EQ(view_->take(), Calls{"deleted 3"});
  EXPECT_EQ(model->selectionIndex(), 1);

  model->deleteObject();  // the selected one: its successor moves in
  pump();
  EXPECT_EQ(view_->take(), (Calls{"deleted 1", "selected 3", "restore 1"}));

  model->deleteObject();  // the last row: the new last row
  pump();
  EXPECT_EQ(view_->take(), (Calls{"deleted 1", "selected 1", "restore 0"}));
  model->deleteObject();
  pump();
  EXPECT_EQ(view_->take(), (Calls{"deleted 0", "empty"}));
  EXPECT_FALSE(model->isDeleteActionEnabled());
  model->deleteObject();
  pump();
  EXPECT_TRUE(view_->take().empty());
}

TEST_F(MasterListTest, ThePromptDeletesOnlyOnDelete) {
  setPrompt(true);
  makeObjects(1, 2);
  auto model = open(1, 0);
  view_->take();
  model->deleteObject();
  ASSERT_EQ(presenter().alerts.size(), 1u);
  auto alert = presenter().alerts[0];
  EXPECT_EQ(alert->title(), "Are you sure you want to delete this timer?");
  EXPECT_EQ(alert->message(), "`0` and all its actions will be deleted.");
  auto actions = alert->actions();
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_EQ(actions[0]->title(), "Delete");
  EXPECT_EQ(actions[0]->style(), 2);
  EXPECT_EQ(actions[1]->title(), "Cancel");
  EXPECT_EQ(actions[1]->style(), 1);

  actions[1]->handlerBlock()();
  pump();
  EXPECT_TRUE(view_->take().empty());
  EXPECT_EQ(provider(1)->timeObjects().size(), 2u);
  actions[0]->handlerBlock()();
  pump();
  EXPECT_EQ(view_->take(), (Calls{"deleted 0", "selected 1", "restore 0"}));
}

TEST_F(MasterListTest, MovingKeepsTheSelectedObjectSelected) {
  auto objects = makeObjects(1, 3);
  auto model = open(1, 0);
  view_->take();
  model->moveObjectAtIndex(0, 2);
  pump();
  EXPECT_EQ(view_->take(), Calls{"moved 0 2"});
  EXPECT_EQ(model->selectionIndex(), 2);
  model->moveObjectAtIndex(0, 1);  // another row passes the selection by
  pump();
  EXPECT_EQ(model->selectionIndex(), 2);
  EXPECT_EQ(model->objectAtIndex(2), objects[0]);
  model->moveObjectAtIndex(2, 0);
  pump();
  EXPECT_EQ(model->selectionIndex(), 0);
  EXPECT_EQ(settings_->masterDetailBundle()->timerSelectionIndex(), 0);
}

TEST_F(MasterListTest, TheViewIsNotKeptAliveByItsViewModel) {
  auto model = BTMasterListViewModel::create(view_);
  std::weak_ptr<MasterListViewDouble> weakView = view_;
  view_.reset();
  EXPECT_TRUE(weakView.expired());
  model->initialize();
  pump();
}

}  // namespace
