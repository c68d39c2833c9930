// Store trouble the real program must tell the user of, at launch, in an alert over its window:
// a store it may read but not write (made so with file modes, which hold for root too inside a
// user namespace of its own), and a store it cannot read, which it moves aside. Neither may
// lose or change what the old file holds. A running timer whose finish moment is stored as
// text must not finish at launch and run its actions.

#include <gtest/gtest.h>

#include <functional>

#include "app/tests/e2e/TickwellEndToEndFixture.h"
#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTAppOperationAction.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Model/BTTiming.h"
#include "core/Source/Services/BTCoreDataService.h"
#include "core/Source/Timing/BTTimeObjectControlViewModel.h"
#include "platform/foundation/Clock.h"
#include "platform/store/PersistentStore.h"

namespace {

using namespace tw::test::e2e;

class StoreTroubleEndToEndTest : public TickwellEndToEndTest {
 protected:
  static fs::path storePath() {
    return tw::store::PersistentStore::defaultPath(BTCoreDataService::kStoreName);
  }
  // Every file of the store's folder with its size and a digest of its bytes, but the
  // shared-memory index, which readers rewrite, and an empty write-ahead log, which they open.
  static std::map<std::string, std::string> storeFiles() {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(storePath().parent_path()))
      if (!entry.path().string().ends_with("-shm")) {
        const std::string bytes = readFile(entry.path());
        if (bytes.empty() && entry.path().string().ends_with("-wal")) continue;
        files[entry.path().filename().string()] = std::to_string(bytes.size()) + " bytes, " +
                                                  std::to_string(std::hash<std::string>{}(bytes));
      }
    return files;
  }

  // Waits for the alert beside the main window, answers it and quits; false when none came.
  ::testing::AssertionResult alertShownThenQuit() {
    if (!eventually([&] { return visibleWindowsOf(app_).size() >= 2; }, 40s, kToolPoll))
      return ::testing::AssertionFailure() << "no alert beside the main window; log:\n"
                                           << readFile(log());
    xdotool("key --clearmodifiers Return");  // the alert has the focus
    if (!eventually([&] { return visibleWindowsOf(app_).size() == 1; }, 10s, kToolPoll))
      return ::testing::AssertionFailure() << "the alert did not close";
    ::kill(app_, SIGTERM);
    const auto status = waitAppExit(15s);
    if (status != std::optional<int>(0))
      return ::testing::AssertionFailure() << "quit with " << status.value_or(-1) << "; log:\n"
                                           << readFile(log());
    return ::testing::AssertionSuccess();
  }
};

TEST_F(StoreTroubleEndToEndTest, AStoreThatCannotBeWrittenIsToldAndLeftAsItWas) {
  // As root, file modes hold only in a user namespace; `unshare` makes one and runs the program.
  const bool root = ::geteuid() == 0;
  if (root && std::system("unshare --user true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no user namespace can be made here, so root would ignore file modes";
  withStore([](BTTimingController&) { managedObject<BTTimer>()->setTitle("Bread"); });
  const auto before = storeFiles();
  fs::permissions(storePath(), fs::perms::owner_read);

  app_ = launch(root ? std::vector<std::string>{"unshare", "--user"} : std::vector<std::string>{});
  ASSERT_GT(app_, 0);
  const bool shown = alertShownThenQuit();
  fs::permissions(storePath(), fs::perms::owner_write, fs::perm_options::add);
  ASSERT_TRUE(shown);
  const std::string text = readFile(log());
  EXPECT_NE(text.find("changes cannot be saved: " + storePath().string() + " is read-only"),
            std::string::npos)
      << text;
  EXPECT_EQ(storeFiles(), before) << "nothing written";
}

TEST_F(StoreTroubleEndToEndTest, AnUnreadableStoreIsKeptAsideAndTheUserToldWhere) {
  const std::string damaged = "not a store at all\n";
  fs::create_directories(storePath().parent_path());
  std::ofstream(storePath()) << damaged;

  app_ = launch();
  ASSERT_GT(app_, 0);
  ASSERT_TRUE(alertShownThenQuit());
  const std::string text = readFile(log());
  const std::string told = "the unreadable store was kept as ";
  const auto at = text.find(told);
  ASSERT_NE(at, std::string::npos) << text;
  const auto end = text.find('\n', at);
  const fs::path kept = text.substr(at + told.size(), end - at - told.size());
  EXPECT_EQ(readFile(kept), damaged) << kept;
  EXPECT_EQ(kept.parent_path(), storePath().parent_path());
}

TEST_F(StoreTroubleEndToEndTest, ARunningTimerWithATextFinishDateRunsNoFinishActionAtLaunch) {
  if (!onPath("sqlite3")) GTEST_SKIP() << "sqlite3 is not installed";
  // Each finish launches a program that leaves its own marker file.
  const fs::path markers = xdg_.root() / "markers";
  fs::create_directories(markers);
  auto entryFor = [&](const std::string& name) {
    const fs::path entry = markers / (name + ".desktop");
    std::ofstream(entry) << "[Desktop Entry]\nType=Application\nName=" << name << "\nExec=touch "
                         << (markers / (name + ".ran")).string() << "\n";
    return entry.string();
  };
  std::string damagedUuid;
  withStore([&](BTTimingController& timing) {
    for (const std::string title : {"Damaged", "Passed"}) {
      auto timer = managedObject<BTTimer>();
      timer->setTitle(title);
      auto time = managedObject<BTTimeSetting>();
      time->setHour(1);
      timer->setTime(time);
      auto launch = BTActionObject::actionObject<BTAppOperationAction>();
      launch->setEnabled(true);
      launch->setAppOperationType(1);
      launch->setAppFilepathValue(entryFor(title));
      auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
      trigger->setStateFrom(tw::kTimingStateRunning);
      trigger->setStateTo(tw::kTimingStateFinished);
      launch->setTrigger(trigger);
      launch->setTimeObject(timer);
      timing.timingControlForTimingObject(timer)->start();
      if (title == "Damaged") damagedUuid = timer->uuid().value_or("");
    }
  });
  // The other timer's finish passed while the program was away: it shows that finish actions
  // at launch do run, and when.
  const std::string update =
      "sqlite3 " + storePath().string() +
      " \"UPDATE BTManagedObject SET BTTimer_finishDate = 'tomorrow' WHERE BTTimeObject_title = "
      "'Damaged'; UPDATE BTManagedObject SET BTTimer_finishDate = " +
      std::to_string(tw::clock::wallNow() - 60) + " WHERE BTTimeObject_title = 'Passed'\"";
  ASSERT_EQ(std::system(update.c_str()), 0);

  app_ = launch();
  ASSERT_GT(app_, 0);
  ASSERT_TRUE(waitFor([&] { return fs::exists(markers / "Passed.ran"); }, 40s)) << readFile(log());
  std::this_thread::sleep_for(1s);
  EXPECT_FALSE(fs::exists(markers / "Damaged.ran"));
  const std::string text = readFile(log());
  EXPECT_NE(text.find(" of BTTimer holds text in finishDate, where a date belongs"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Timer " + damagedUuid + " was stored running without a finish date"),
            std::string::npos)
      << text;
  ::kill(app_, SIGTERM);
  ASSERT_TRUE(waitAppExit(15s).has_value());
}

}  // namespace
