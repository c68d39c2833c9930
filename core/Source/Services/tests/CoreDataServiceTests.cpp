// The store service: where the store lives, the Core Data queue's two run methods, saving by
// itself (right after the turn for changes a crash must not lose, after a burst of changes for
// the rest), and tearing down cleanly.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Services/BTCoreDataService.h"
#include "core/testsupport/CoreStoreTest.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testsupport/FileModes.h"
#include "platform/testsupport/TestSupport.h"

namespace {

constexpr const char* kAutoSaveLine = "<BTCoreDataService> Auto Saving Data";

class CoreDataServiceTest : public tw::test::CoreStoreTest {
 protected:
  std::size_t autoSaves() const {
    auto lines = log_.lines();
    return std::count_if(lines.begin(), lines.end(),
                         [](const std::string& l) { return l.find(kAutoSaveLine) != l.npos; });
  }
  // Lets the context announce the turn's changes.
  static void endTurn() { tw::RunLoop::main().drain(); }
  // Saves what is there and lets the auto-save its changes started run out (finding nothing).
  void settle() {
    endTurn();
    service_->save();
    clock_.advance(BTCoreDataService::kAutoSaveDelay + 1);
    ASSERT_FALSE(service_->hasPendingAutoSave());
    ASSERT_EQ(autoSaves(), 0u);
    log_.clear();
  }

  tw::VirtualClock clock_;
  tw::LogCapture log_;
};

TEST_F(CoreDataServiceTest, TheStoreLivesInTheUsersDataFolderAndKeepsWhatWasSaved) {
  const std::filesystem::path file = std::filesystem::path(std::getenv("XDG_DATA_HOME")) /
                                     "Tickwell" / "com.velmora.Tickwell.sqlite";
  EXPECT_EQ(file.string().rfind(xdg_.root().string(), 0), 0u) << "inside the private folders";
  auto timer = managedObject<BTTimer>();
  timer->setTitle("Bread");
  service_->save();
  ASSERT_TRUE(service_->storeCoordinator());
  EXPECT_EQ(std::filesystem::canonical(service_->storeCoordinator()->path()),
            std::filesystem::canonical(file));
  EXPECT_NE(service_->objectModel()->entity("BTTimer"), nullptr);

  service_->cleanUp();
  EXPECT_EQ(service_->objectContext(), nullptr);
  service_->setup();
  auto timers = service_->objectContext()->findAll<BTTimer>();
  ASSERT_EQ(timers.size(), 1u);
  EXPECT_EQ(timers.front()->title(), "Bread");
  // The timer held across the clean-up is a fault of the first session and still reads its title,
  // although the set-up brought a model of its own.
  EXPECT_TRUE(timer->isFault());
  EXPECT_EQ(timer->title(), "Bread");
}

TEST_F(CoreDataServiceTest, AReadOnlyStoreIsShownAndTheApplicationCanTellTheUser) {
  managedObject<BTTimer>()->setTitle("Bread");
  service_->save();
  const auto file = service_->storeCoordinator()->path();
  service_->cleanUp();
  std::filesystem::permissions(file, std::filesystem::perms::owner_read);

  auto run = tw::test::runWithFileModesEnforced([&] {
    bool told = false;
    auto token = tw::NotificationCenter::defaultCenter()->addObserver(
        BTCoreDataServiceStoreIsReadOnlyNotification, service_, nullptr,
        [&](const tw::Notification&) { told = true; });
    service_->setup();
    endTurn();
    std::string out = service_->isReadOnly() ? "read-only" : "writable";
    out += told ? ", told" : ", not told";
    auto timers = service_->objectContext()->findAll<BTTimer>();
    out += ", " + std::to_string(timers.size()) + " timer";
    // Changes stay in memory; no auto-save keeps failing behind the user's back.
    timers.front()->setTitle("Rye");
    endTurn();
    clock_.advance(BTCoreDataService::kAutoSaveDelay + 1);
    out += autoSaves() ? ", auto-saved" : ", no auto-save";
    service_->save();
    out += log_.contains("changes cannot be saved") ? ", save refused" : ", save not refused";
    out += ", " + service_->objectContext()->findAll<BTTimer>().front()->title();
    token.remove();
    return out;
  });
  std::filesystem::permissions(file, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  if (run.unavailable) GTEST_SKIP() << run.why;
  ASSERT_TRUE(run.ok) << run.why;
  EXPECT_EQ(run.output, "read-only, told, 1 timer, no auto-save, save refused, Rye");
  service_->setup();
  EXPECT_FALSE(service_->isReadOnly());
}

TEST_F(CoreDataServiceTest, SyncRunsInlineOnMainAndAsyncAfterTheCurrentTurn) {
  std::vector<std::string> order;
  service_->runOnCoreDataQueueAsync([&] { order.push_back("async"); });
  service_->runOnCoreDataQueueSync([&] { order.push_back("sync"); });
  order.push_back("returned");
  EXPECT_EQ(order, (std::vector<std::string>{"sync", "returned"}));
  tw::RunLoop::main().drain();
  EXPECT_EQ(order, (std::vector<std::string>{"sync", "returned", "async"}));
}

TEST_F(CoreDataServiceTest, SyncFromAWorkerRunsOnTheMainThreadAndWaits) {
  std::atomic<bool> ranOnMain{false}, returned{false};
  std::thread worker([&] {
    service_->runOnCoreDataQueueSync([&] { ranOnMain = tw::isMainThread(); });
    returned = true;
  });
  ASSERT_TRUE(tw::test::pumpMainUntil([&] { return returned.load(); }));
  worker.join();
  EXPECT_TRUE(ranOnMain);
}

TEST_F(CoreDataServiceTest, ABurstOfChangesIsSavedOnceTenSecondsAfterItsLastChange) {
  auto timer = managedObject<BTTimer>();
  settle();

  for (int i = 0; i < 30; ++i) {
    timer->setTitle("Round " + std::to_string(i));
    endTurn();
    clock_.advance(1.0);
  }
  EXPECT_EQ(autoSaves(), 0u) << "no save while changes keep coming";
  EXPECT_TRUE(service_->objectContext()->hasChanges());
  clock_.advance(8.9);  // 9.9 s after the last change
  EXPECT_EQ(autoSaves(), 0u);
  clock_.advance(0.2);
  EXPECT_EQ(autoSaves(), 1u);
  EXPECT_FALSE(service_->objectContext()->hasChanges());
  EXPECT_EQ(log_.lines().back(), kAutoSaveLine);
  clock_.advance(60);
  EXPECT_EQ(autoSaves(), 1u);

  service_->cleanUp();
  service_->setup();
  EXPECT_EQ(service_->objectContext()->findAll<BTTimer>().front()->title(), "Round 29");
}

TEST_F(CoreDataServiceTest, RunningStateInsertsDeletesAndReordersAreSavedRightAfterTheirTurn) {
  auto timer = managedObject<BTTimer>();
  auto other = managedObject<BTTimer>();
  settle();
  auto& context = *service_->objectContext();
  timer->setTitle("Typed");
  endTurn();
  EXPECT_TRUE(context.hasChanges()) << "typed text waits for the auto-save";
  EXPECT_TRUE(service_->hasPendingAutoSave());

  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"state", [&] { timer->setTimingState(tw::kTimingStateRunning); }},
      {"moment", [&] { timer->setPauseDate(tw::Date{1000.0}); }},
      {"order", [&] { other->setSortOrder(5); }},
      {"insert", [&] { managedObject<BTTimer>()->setTitle("Inserted"); }},
      {"delete", [&] { deleteObject(other); }},
  };
  for (const auto& [what, change] : changes) {
    SCOPED_TRACE(what);
    change();
    EXPECT_TRUE(context.hasChanges()) << "nothing is written inside the turn";
    endTurn();
    EXPECT_FALSE(context.hasChanges());
    EXPECT_FALSE(service_->hasPendingAutoSave()) << "nothing is left for the auto-save";
  }
  // Many changes of the state in one turn, and requests to save, write nothing until the turn
  // is over, and then all at once.
  for (int i = 0; i < 200; ++i) {
    timer->setTimingState(i % 2 ? tw::kTimingStatePaused : tw::kTimingStateRunning);
    service_->requestSave();
  }
  EXPECT_TRUE(context.hasChanges());
  endTurn();
  EXPECT_FALSE(context.hasChanges());
  EXPECT_EQ(autoSaves(), 0u);

  service_->cleanUp();
  service_->setup();
  auto stored = service_->objectContext()->findAll<BTTimer>("title");
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0]->title(), "Inserted");
  EXPECT_EQ(stored[1]->title(), "Typed");
  EXPECT_EQ(stored[1]->timingState(), tw::kTimingStatePaused);
}

TEST_F(CoreDataServiceTest, ChangesUndoneWithinTheDelayCauseNoSave) {
  auto timer = managedObject<BTTimer>();
  timer->setTitle("Soup");
  settle();

  timer->setTitle("Stew");
  endTurn();
  clock_.advance(4);
  timer->setTitle("Soup");
  endTurn();
  EXPECT_FALSE(service_->objectContext()->hasChanges());
  clock_.advance(30);
  EXPECT_EQ(autoSaves(), 0u);
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(CoreDataServiceTest, TransientChangesNeverStartAnAutoSave) {
  auto timer = managedObject<BTTimer>();
  settle();
  timer->setTimingValue(12.5);
  endTurn();
  EXPECT_FALSE(service_->hasPendingAutoSave());
}

TEST_F(CoreDataServiceTest, CleanUpCancelsThePendingAutoSaveAndStopsListening) {
  auto timer = managedObject<BTTimer>();
  settle();
  timer->setTitle("Unsaved");
  endTurn();
  ASSERT_TRUE(service_->hasPendingAutoSave());
  service_->cleanUp();
  EXPECT_FALSE(service_->hasPendingAutoSave());
  clock_.advance(30);
  EXPECT_EQ(autoSaves(), 0u);

  // A second set-up listens to the new context once, not to the old one as well.
  service_->setup();
  auto stored = service_->objectContext()->findAll<BTTimer>();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_NE(stored.front()->title(), "Unsaved") << "the unsaved title is gone";
  stored.front()->setTitle("Saved");
  endTurn();
  clock_.advance(11);
  EXPECT_EQ(autoSaves(), 1u);
}

}  // namespace
