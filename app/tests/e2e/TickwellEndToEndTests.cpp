// The real Tickwell program on a real (virtual) X display with a window manager: an Xvfb
// server, openbox, a private message bus without any desktop service, and private XDG folders.
// The store is filled before the launch; the program is then driven with xdotool and signals,
// and the store is read again after it has ended.
//
// Skips when Xvfb, openbox or xdotool are missing.

#include <gtest/gtest.h>

#include "app/tests/e2e/TickwellEndToEndFixture.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
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
  ASSERT_TRUE(waitFor([&] { return !visibleWindowsOf(app_).empty(); }, 40s))
      << "the main window never mapped (program "
      << (waitExit(app_, 0ms).has_value() ? "ended" : "still running")
      << ", windows: " << xdotool("search --pid " + std::to_string(app_)).size() << "); log:\n"
      << readFile(log()) << "\nwindow manager:\n"
      << readFile(xdg_.root() / "openbox.log");
  const std::string window = visibleWindowsOf(app_).front();

  // A second launch hands over to the running one and leaves at once.
  const pid_t second = launch();
  ASSERT_GT(second, 0);
  EXPECT_EQ(waitExit(second, 10s), std::optional<int>(0)) << readFile(log());

  // Let the short timer finish and reset (2 s, then 1 s) in the program.
  std::this_thread::sleep_for(5s);

  // Quit from the keyboard: the warning counts the long timer and the paused stopwatch.
  xdotool("windowactivate --sync " + window);
  xdotool("key --clearmodifiers ctrl+q");
  ASSERT_TRUE(waitFor([&] { return visibleWindowsOf(app_).size() >= 2; }, 10s))
      << "no quit warning appeared; log:\n"
      << readFile(log());
  EXPECT_NE(readFile(log()).find("Asking before quitting: 2 alarms, timers, or stopwatches"),
            std::string::npos)
      << readFile(log());

  // Cancel keeps the program running.
  xdotool("key Escape");
  EXPECT_TRUE(waitFor([&] { return visibleWindowsOf(app_).size() == 1; }, 10s));
  EXPECT_FALSE(waitExit(app_, 1s).has_value()) << "Cancel must not quit";

  // SIGTERM ends it cleanly, saving settings and store.
  ASSERT_EQ(::kill(app_, SIGTERM), 0);
  const auto status = waitExit(app_, 15s);
  app_ = -1;
  ASSERT_TRUE(status.has_value()) << "Tickwell did not end on SIGTERM";
  EXPECT_EQ(*status, 0) << readFile(log());

  auto after = storedStates();
  EXPECT_EQ(after["Long"], 20) << "a running timer stays running across the restart";
  EXPECT_EQ(after["Short"], 0) << "the resumed short timer finished and reset";
  EXPECT_EQ(after["Lap"], 10);
  EXPECT_EQ(after["Idle"], 0);
  EXPECT_TRUE(fs::exists(fs::path(getenv("XDG_CONFIG_HOME")) / "Tickwell"));
}

}  // namespace
