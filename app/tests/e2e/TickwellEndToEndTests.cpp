// The real Tickwell program on a real (virtual) X display with a window manager: an Xvfb
// server, openbox, a private message bus without any desktop service, and private XDG folders.
// The store is filled before the launch; the program is then driven with xdotool and signals,
// and the store is read again after it has ended.
//
// Skips when Xvfb, openbox or xdotool are missing.

#include <gtest/gtest.h>

#include <algorithm>
#include "app/tests/e2e/TickwellEndToEndFixture.h"

#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Model/BTTiming.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Timing/BTTimeObjectControlViewModel.h"

namespace {

using namespace tw::test::e2e;

TEST_F(TickwellEndToEndTest, ResumesRunningObjectsWarnsBeforeQuittingAndSavesOnSigterm) {
  // Before the launch: a long timer running, a 2-second timer running (it finishes and resets
  // only if the program resumes it), a paused stopwatch and a timer at rest.
  withStore([](BTTimingController& timing) {
    auto add = [](const std::string& title, int seconds) {
      auto timer = managedObject<BTTimer>();
      timer->setTitle(title);
      auto time = managedObject<BTTimeSetting>();
      time->setSecond(seconds % 60);
      time->setMinute(seconds / 60);
      timer->setTime(time);
      return timer;
    };
    auto longTimer = add("Long", 3600);
    auto shortTimer = add("Short", 2);
    add("Idle", 60);
    auto stopwatch = managedObject<BTStopwatch>();
    stopwatch->setTitle("Lap");
    timing.timingControlForTimingObject(longTimer)->start();
    timing.timingControlForTimingObject(shortTimer)->start();
    auto watch = timing.timingControlForTimingObject(stopwatch);
    watch->start();
    watch->pause();
  });
  auto before = storedStates();
  ASSERT_EQ(before["Long"], 20);
  ASSERT_EQ(before["Short"], 20);
  ASSERT_EQ(before["Lap"], 10);

  app_ = launch();
  ASSERT_GT(app_, 0);
  const std::string window = waitForWindowOf(app_);
  ASSERT_FALSE(window.empty());

  // A second launch hands over to the running one and leaves at once.
  const pid_t second = launch();
  ASSERT_GT(second, 0);
  EXPECT_EQ(waitExit(second, 10s), std::optional<int>(0)) << readFile(log());

  // The short timer finishes and resets (2 s, then 1 s) in the program, which saves it at once.
  ASSERT_TRUE(eventually([&] { return savedStates()["Short"] == 0; }, 20s, kToolPoll))
      << "the short timer did not finish and reset; log:\n"
      << readFile(log());

  // Quit from the keyboard: the warning counts the long timer and the paused stopwatch.
  xdotool("windowactivate --sync " + window);
  xdotool("key --clearmodifiers ctrl+q");
  ASSERT_TRUE(eventually([&] { return visibleWindowsOf(app_).size() >= 2; }, 10s, kToolPoll))
      << "no quit warning appeared; log:\n"
      << readFile(log());
  EXPECT_NE(readFile(log()).find("Asking before quitting: 2 alarms, timers, or stopwatches"),
            std::string::npos)
      << readFile(log());

  // Cancel keeps the program running.
  xdotool("key Escape");
  EXPECT_TRUE(eventually([&] { return visibleWindowsOf(app_).size() == 1; }, 10s, kToolPoll));
  EXPECT_FALSE(waitExit(app_, 1s).has_value()) << "Cancel must not quit";

  // SIGTERM ends it cleanly, saving settings and store.
  ASSERT_EQ(::kill(app_, SIGTERM), 0);
  const auto status = waitAppExit(15s);
  ASSERT_TRUE(status.has_value()) << "Tickwell did not end on SIGTERM";
  EXPECT_EQ(*status, 0) << readFile(log());

  auto after = storedStates();
  EXPECT_EQ(after["Long"], 20) << "a running timer stays running across the restart";
  EXPECT_EQ(after["Short"], 0) << "the resumed short timer finished and reset";
  EXPECT_EQ(after["Lap"], 10);
  EXPECT_EQ(after["Idle"], 0);
  EXPECT_TRUE(fs::exists(fs::path(getenv("XDG_CONFIG_HOME")) / "Tickwell"));
}

TEST_F(TickwellEndToEndTest, EachMissingDesktopServiceIsLoggedOnce) {
  // No notification server, no portal, no login1, no screen saver on the bus. Two short timers
  // finish (two notifications that cannot be shown) while a long one keeps sleep prevented.
  withStore([](BTTimingController& timing) {
    for (const auto& [title, seconds] :
         std::vector<std::pair<std::string, int>>{{"Long", 3600}, {"One", 2}, {"Two", 4}}) {
      auto timer = managedObject<BTTimer>();
      timer->setTitle(title);
      auto time = managedObject<BTTimeSetting>();
      time->setSecond(seconds % 60);
      time->setMinute(seconds / 60);
      timer->setTime(time);
      if (seconds < 60) {
        // Its finish shows a notification.
        auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
        trigger->setStateFrom(tw::kTimingStateRunning);
        trigger->setStateTo(tw::kTimingStateFinished);
        auto alert = BTActionObject::actionObject<BTDisplayAlertAction>();
        alert->setEnabled(true);
        alert->setTrigger(trigger);
        alert->setTimeObject(timer);
      }
      timing.timingControlForTimingObject(timer)->start();
    }
  });
  app_ = launch();
  ASSERT_GT(app_, 0);
  ASSERT_TRUE(eventually([&] { return !visibleWindowsOf(app_).empty(); }, 40s, kToolPoll))
      << readFile(log());
  // Both short timers finish and reset; the window keeps working.
  EXPECT_TRUE(eventually(
      [&] {
        auto states = savedStates();
        return states["One"] == 0 && states["Two"] == 0;
      },
      20s, kToolPoll))
      << readFile(log());
  EXPECT_FALSE(visibleWindowsOf(app_).empty());
  ASSERT_EQ(::kill(app_, SIGTERM), 0);
  const auto status = waitAppExit(15s);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);

  const std::string text = readFile(log());
  auto count = [&](const std::string& needle) {
    std::size_t n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("no notification server on the session bus"), 1u) << text;
  EXPECT_EQ(count("no desktop portal on the session bus"), 1u) << text;
  EXPECT_EQ(count("login1 did not inhibit idle sleep"), 1u) << text;
  EXPECT_LE(count("the screen saver service did not inhibit"), 1u) << text;
  auto after = storedStates();
  EXPECT_EQ(after["Long"], 20);
  EXPECT_EQ(after["One"], 0);
  EXPECT_EQ(after["Two"], 0);
}

// The master list in the real window: its timers tab starts at 78 px from the window's top, in
// rows 48 px high, with the titles from 30 px in.
TEST_F(TickwellEndToEndTest, DraggingARowAndRenamingInPlaceAreSavedAndSurviveARelaunch) {
  withStore([](BTTimingController&) {
    std::int64_t order = 0;
    for (const char* title : {"Alpha", "Bravo", "Charlie"}) {
      auto timer = managedObject<BTTimer>();
      timer->setTitle(title);
      timer->setSortOrder(order++);
      auto time = managedObject<BTTimeSetting>();
      time->setMinute(5);
      timer->setTime(time);
    }
  });
  auto titlesInOrder = [&] {
    std::vector<std::pair<std::int64_t, std::string>> rows;
    withStore([&](BTTimingController&) {
      for (const auto& object :
           tw::defaultCoreDataProvider()->objectContext()->findAll<BTTimeObject>())
        rows.emplace_back(object->sortOrder(), object->title());
    });
    std::sort(rows.begin(), rows.end());
    std::vector<std::string> titles;
    titles.reserve(rows.size());
    for (const auto& row : rows) titles.push_back(row.second);
    return titles;
  };
  auto quit = [&] {
    ASSERT_EQ(::kill(app_, SIGTERM), 0);
    const auto status = waitAppExit(15s);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0) << readFile(log());
  };
  auto start = [&]() -> std::string {
    app_ = launch();
    if (app_ <= 0) return {};
    std::string window = waitForWindowOf(app_);
    if (window.empty()) return {};
    xdotool("windowactivate --sync " + window);
    if (!waitForActive(window)) ADD_FAILURE() << "the main window never got the focus";
    return window;
  };
  auto rowY = [](int row) { return std::to_string(78 + 48 * row + 24); };

  std::string window = start();
  ASSERT_FALSE(window.empty());
  // Drag the third row above the first: press, move past the drag distance and on in steps to
  // the top quarter of the first row, and release there; one xdotool run, paced.
  std::string drag = "mousemove --window " + window + " 60 " + rowY(2) + " mousedown 1 sleep 0.3";
  for (int y = 78 + 48 * 2 + 16; y >= 82; y -= 12)
    drag += " mousemove --window " + window + " 62 " + std::to_string(y) + " sleep 0.1";
  drag += " mousemove --window " + window + " 60 82 sleep 0.5 mouseup 1";
  xdotool(drag);

  // The program takes its input in order: the right click below reaches it after the drop.
  const auto menuShown = [&](bool shown) {
    return eventually([&] { return (visibleWindowsOf(app_).size() >= 2) == shown; }, 10s,
                      kToolPoll);
  };

  // Rename the (new) second row through its context menu's first item, "Edit Title".
  xdotool("mousemove --window " + window + " 60 " + rowY(1) + " click 3");
  ASSERT_TRUE(menuShown(true)) << "no context menu";
  xdotool("key Down Return");
  ASSERT_TRUE(menuShown(false));
  xdotool("key ctrl+a");
  xdotool("type --delay 20 Renamed");
  xdotool("key Return");
  // Return ended the edit and nothing else: the renamed row takes the next right click.
  xdotool("mousemove --window " + window + " 60 " + rowY(1) + " click 3");
  EXPECT_TRUE(menuShown(true)) << "no context menu after the rename\n" << readFile(log());
  xdotool("key Escape");
  EXPECT_TRUE(menuShown(false));
  // The program saves the new order and title once changes have settled (a while after the
  // last), and only then may it be ended: a signal may overtake keys still queued.
  EXPECT_TRUE(eventually(
      [&] {
        std::vector<std::pair<std::int64_t, std::string>> rows;
        peekStore([&](tw::store::Context& context) {
          for (const auto& object : context.findAll<BTTimeObject>())
            rows.emplace_back(object->sortOrder(), object->title());
        });
        std::sort(rows.begin(), rows.end());
        return rows.size() == 3 && rows[0].second == "Charlie" && rows[1].second == "Renamed" &&
               rows[2].second == "Bravo";
      },
      30s, kToolPoll))
      << readFile(log());
  quit();
  EXPECT_EQ(titlesInOrder(), (std::vector<std::string>{"Charlie", "Renamed", "Bravo"}))
      << readFile(log());

  // The next launch shows the same order and title and saves them unchanged.
  window = start();
  ASSERT_FALSE(window.empty());
  quit();
  EXPECT_EQ(titlesInOrder(), (std::vector<std::string>{"Charlie", "Renamed", "Bravo"}));
}

}  // namespace
