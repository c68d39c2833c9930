// The whole program as a user meets it, on the desktop services of the tests' own (a
// notification server and the desktop portal's Inhibit on the private bus): the quit warning and
// a relaunch that finds the running timer still running, every preference changed in the
// settings window (saved to the defaults file, taking effect on sleep prevention), and a
// kill -9 while timers run, after which they resume and a finish missed meanwhile fires once.
//
// Skips when Xvfb, openbox, xdotool or xprop are missing.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "app/tests/e2e/TickwellEndToEndFixture.h"
#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Model/BTTiming.h"
#include "core/Source/Timing/BTTimeObjectControlViewModel.h"
#include "platform/desktop/tests/integration/FakeNotificationServer.h"
#include "platform/desktop/tests/integration/FakeSleepServices.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/UserDefaults.h"

namespace {

using tw::test::FakeNotificationServer;
using tw::test::FakeSleepServices;
using tw::test::e2e::eventually;
using tw::test::e2e::kToolPoll;
using tw::test::e2e::readFile;
using tw::test::e2e::staysAbsent;
using tw::test::e2e::TickwellEndToEndTest;
using tw::test::e2e::waitExit;
using tw::test::e2e::waitFor;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::shared_ptr<BTTimer> addTimer(const std::string& title, int seconds) {
  auto timer = managedObject<BTTimer>();
  timer->setTitle(title);
  auto time = managedObject<BTTimeSetting>();
  time->setSecond(seconds % 60);
  time->setMinute(seconds / 60 % 60);
  time->setHour(seconds / 3600);
  timer->setTime(time);
  return timer;
}

void alertOnFinish(const std::shared_ptr<BTTimeObject>& owner) {
  auto alert = BTActionObject::actionObject<BTDisplayAlertAction>();
  BTActionObjectUtil::setDefaultValues(*alert);
  auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
  trigger->setStateFrom(tw::kTimingStateRunning);
  trigger->setStateTo(tw::kTimingStateFinished);
  alert->setTrigger(trigger);
  alert->setTimeObject(owner);
}

class DesktopEndToEndTest : public TickwellEndToEndTest {
 protected:
  void SetUp() override {
    TickwellEndToEndTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    notifications_ = std::make_unique<FakeNotificationServer>();
    ASSERT_TRUE(notifications_->ok()) << "no notification server on the private bus";
    sleep_ = std::make_unique<FakeSleepServices>(
        bus_.address(), FakeSleepServices::Options{FakeSleepServices::Portal});
    ASSERT_TRUE(sleep_->ok()) << "no portal on the private bus";
  }
  void TearDown() override {
    TickwellEndToEndTest::TearDown();
    sleep_.reset();
    notifications_.reset();
  }

  fs::path defaultsFile() const {
    return fs::path(getenv("XDG_CONFIG_HOME")) / "Tickwell" / "com.velmora.Tickwell.plist";
  }
  // A value of the defaults file as the program last wrote it (null when absent).
  tw::Value storedDefault(const std::string& bundle, const std::string& key) const {
    if (!fs::exists(defaultsFile())) return {};
    tw::UserDefaults defaults(defaultsFile());
    if (bundle.empty()) return defaults.objectForKey(key);
    const auto dictionary = defaults.dictionaryForKey(bundle);
    if (!dictionary) return {};
    const auto found = dictionary->find(key);
    return found == dictionary->end() ? tw::Value() : found->second;
  }

  std::optional<tw::Date> storedFinishDate(const std::string& title) {
    std::optional<tw::Date> date;
    withStore([&](BTTimingController&) {
      for (const auto& timer : tw::defaultCoreDataProvider()->objectContext()->findAll<BTTimer>())
        if (timer->title() == title) date = timer->finishDate();
    });
    return date;
  }

  std::string launchAndWaitForWindow() {
    app_ = launch();
    EXPECT_GT(app_, 0);
    return waitForWindowOf(app_);
  }

  // Keys typed into whatever window has the focus, one after the other.
  void type(const std::string& keys) { xdotool("key --delay 120 --clearmodifiers " + keys); }

  std::string openSettings(const std::string& mainWindow) {
    xdotool("windowactivate --sync " + mainWindow);
    type("ctrl+comma");
    std::vector<std::string> found;
    eventually(
        [&] {
          // Titled after its selected pane.
          found = xdotool("search --onlyvisible --pid " + std::to_string(app_) +
                          " --all --name '^(General|Appearance|Updates)$'");
          return !found.empty();
        },
        15s, kToolPoll);
    if (found.empty()) return {};
    xdotool("windowactivate --sync " + found.front());
    if (!waitForActive(found.front())) return {};
    return found.front();
  }

  // The pixels of a window as the X server has them (xwd's dump).
  std::string windowPixels(const std::string& window) const {
    const std::string command = "DISPLAY=" + display_ + " xwd -silent -id " + window;
    std::string bytes;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
      char buffer[65536];
      size_t n = 0;
      while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) bytes.append(buffer, n);
      ::pclose(pipe);
    }
    return bytes;
  }

  // The list mode (0 alarms, 1 timers, 2 stopwatches) the next launch shows, its first row
  // selected.
  void showModeAtLaunch(int mode) {
    fs::create_directories(defaultsFile().parent_path());
    tw::UserDefaults defaults(defaultsFile());
    defaults.setObject(tw::Value(tw::Dictionary{{"viewMode", tw::Value(mode)},
                                                {"alarmSelectionIndex", tw::Value(0)},
                                                {"timerSelectionIndex", tw::Value(0)},
                                                {"stopwatchSelectionIndex", tw::Value(0)}}),
                       "MasterDetailsBundle");
    defaults.synchronize();
  }

  bool logHas(const std::string& text) const {
    return readFile(log()).find(text) != std::string::npos;
  }

  bool sleepCallSeen(const std::string& text) const {
    for (const auto& call : sleep_->calls())
      if (call.find(text) != std::string::npos) return true;
    return false;
  }

  std::unique_ptr<FakeNotificationServer> notifications_;
  std::unique_ptr<FakeSleepServices> sleep_;
};

TEST_F(DesktopEndToEndTest, QuitWarningThenRelaunchFindsTheTimerRunningAndTheSettingsKept) {
  std::optional<tw::Date> finish;
  withStore([](BTTimingController& timing) {
    timing.timingControlForTimingObject(addTimer("Long", 3600))->start();
    auto alarm = managedObject<BTAlarm>();
    alarm->setTitle("Evening");
    auto time = managedObject<BTTimeSetting>();
    time->setHour(19);
    time->setMinute(30);
    alarm->setTime(time);
  });
  finish = storedFinishDate("Long");
  ASSERT_TRUE(finish.has_value());
  showModeAtLaunch(0);

  const std::string window = launchAndWaitForWindow();
  ASSERT_FALSE(window.empty());
  // A preference changed in this run: the 24-hour clock (Appearance, second box). The settings
  // window is put beside the main window, so the list can be seen to change.
  xdotool("windowmove --sync " + window + " 0 0");
  const std::string settings = openSettings(window);
  ASSERT_FALSE(settings.empty()) << readFile(log());
  xdotool("windowmove --sync " + settings + " 840 0");
  type("ctrl+Tab");
  // The pane drawn once two pictures in a row agree; from then on it holds still for a second.
  std::string before;
  ASSERT_TRUE(eventually(
      [&] {
        const std::string now = windowPixels(window);
        const bool settled = !now.empty() && now == before;
        before = now;
        return settled;
      },
      10s, 250ms))
      << "xwd gave nothing, or the window never settled";
  ASSERT_TRUE(staysAbsent([&] { return windowPixels(window) != before; }, 1s, 250ms))
      << "the alarm list does not stand still";
  type("Tab space");
  ASSERT_TRUE(eventually(
      [&] { return storedDefault("GeneralBundle", "useMilitaryTime") == tw::Value(true); }, 10s,
      kToolPoll))
      << "the change never reached the defaults file";
  EXPECT_TRUE(eventually([&] { return windowPixels(window) != before; }, 5s, kToolPoll))
      << "the alarm list did not change to the 24-hour clock";

  // Quit: the warning names the one running timer; Return confirms it.
  xdotool("windowactivate --sync " + window);
  type("ctrl+q");
  ASSERT_TRUE(eventually(
      [&] {
        return readFile(log()).find("Asking before quitting: 1 alarms, timers, or stopwatches") !=
               std::string::npos;
      },
      10s, kToolPoll))
      << readFile(log());
  ASSERT_TRUE(eventually([&] { return visibleWindowsOf(app_).size() >= 2; }, 10s, kToolPoll));
  // Return must reach the warning, which takes the focus from the main window.
  ASSERT_TRUE(eventually(
      [&] {
        const std::string active = activeWindow();
        return !active.empty() && active != window;
      },
      10s, kToolPoll));
  type("Return");
  const auto status = waitAppExit(15s);
  ASSERT_TRUE(status.has_value()) << "Quit did not end the program; log:\n" << readFile(log());
  EXPECT_EQ(*status, 0);
  EXPECT_EQ(storedStates()["Long"], tw::kTimingStateRunning);
  EXPECT_EQ(storedFinishDate("Long"), finish) << "the remaining time is kept, not restarted";

  // Relaunch: the timer runs on towards the same finish; the preference is still there.
  ASSERT_FALSE(launchAndWaitForWindow().empty());
  EXPECT_TRUE(eventually([&] { return sleepCallSeen("Portal.Inhibit"); }, 15s, kToolPoll))
      << "the resumed timer keeps the machine awake";
  ASSERT_EQ(::kill(app_, SIGTERM), 0);
  ASSERT_TRUE(waitAppExit(15s).has_value());
  EXPECT_EQ(storedStates()["Long"], tw::kTimingStateRunning);
  const auto after = storedFinishDate("Long");
  ASSERT_TRUE(after.has_value());
  EXPECT_EQ(*after, *finish);
  const double remaining = after->secondsSince1970 - tw::clock::wallNow();
  EXPECT_GT(remaining, 3000);
  EXPECT_LT(remaining, 3600);
  EXPECT_EQ(storedDefault("GeneralBundle", "useMilitaryTime"), tw::Value(true));
}

TEST_F(DesktopEndToEndTest, HelpWithNoHandlerForItsAddressIsToldInAnAlert) {
  // No application anywhere handles https: the only data folder searched is an empty one.
  auto env = environment();
  env.push_back("XDG_DATA_DIRS=" + (xdg_.root() / "no-applications").string());
  app_ = tw::test::spawnProcess({TW_TICKWELL_BINARY}, log().string(), &env);
  ASSERT_GT(app_, 0);
  const std::string window = waitForWindowOf(app_);
  ASSERT_FALSE(window.empty());
  xdotool("windowactivate --sync " + window);
  ASSERT_TRUE(waitForActive(window));
  type("F1");
  ASSERT_TRUE(waitFor([&] { return logHas("Telling the user that https://"); }, 10s))
      << readFile(log());
  // The alert takes the focus from the main window; Return closes it.
  ASSERT_TRUE(waitFor(
      [&] {
        const std::string active = activeWindow();
        return !active.empty() && active != window;
      },
      10s))
      << "no alert on screen";
  EXPECT_EQ(visibleWindowsOf(app_).size(), 2u);
  type("Return");
  EXPECT_TRUE(waitFor([&] { return visibleWindowsOf(app_).size() == 1; }, 10s));
  ASSERT_EQ(::kill(app_, SIGTERM), 0);
  EXPECT_TRUE(waitAppExit(15s).has_value());
}

TEST_F(DesktopEndToEndTest, EveryPreferenceChangedInTheSettingsWindowIsSavedAndTakesEffect) {
  withStore([](BTTimingController& timing) {
    timing.timingControlForTimingObject(addTimer("Long", 3600))->start();
    auto stopwatch = managedObject<BTStopwatch>();
    stopwatch->setTitle("Lap");
    timing.timingControlForTimingObject(stopwatch)->start();
  });
  showModeAtLaunch(2);
  const std::string window = launchAndWaitForWindow();
  ASSERT_FALSE(window.empty());
  // Defaults: system sleep held off (the portal's suspend flag), the display may sleep.
  ASSERT_TRUE(eventually([&] { return sleepCallSeen("Portal.Inhibit flags=4 "); }, 10s, kToolPoll))
      << ::testing::PrintToString(sleep_->calls());

  ASSERT_FALSE(openSettings(window).empty()) << readFile(log());
  // General: the first box (system sleep) has the keyboard. Display sleep on: the activity is
  // replaced at once by one that also holds the display.
  type("Tab space");
  EXPECT_TRUE(eventually([&] { return sleepCallSeen("Portal.Inhibit flags=12 "); }, 10s, kToolPoll))
      << ::testing::PrintToString(sleep_->calls());
  // The three prompts off.
  type("Tab space Tab space Tab space");
  // System sleep off: display sleep goes off with it, and nothing is held off any more.
  type("shift+Tab shift+Tab shift+Tab shift+Tab space");
  EXPECT_TRUE(eventually(
      [&] {
        const auto calls = sleep_->calls();
        return !calls.empty() && calls.back().find("Request.Close") == 0;
      },
      10s, kToolPoll))
      << ::testing::PrintToString(sleep_->calls());

  // Appearance: animations off, 24-hour clock, centiseconds. The running stopwatch is shown in
  // tenths first, ticking the display at 20 Hz (twice its 10 Hz); in hundredths at 200 Hz.
  EXPECT_TRUE(logHas("<BTUpdater> New Interval : 0.050000")) << readFile(log());
  type("ctrl+Tab space Tab space Tab Down");
  EXPECT_TRUE(
      eventually([&] { return logHas("<BTUpdater> New Interval : 0.005000"); }, 10s, kToolPoll))
      << readFile(log());
  // Updates: automatic checks on.
  type("ctrl+Tab space");

  const std::vector<std::tuple<std::string, std::string, tw::Value>> expected = {
      {"GeneralBundle", "preventSystemSleep", tw::Value(false)},
      {"GeneralBundle", "preventDisplaySleep", tw::Value(false)},
      {"TimeObjectsBundle", "warnIfActiveOnQuit", tw::Value(false)},
      {"TimeObjectsBundle", "promptBeforeDelete", tw::Value(false)},
      {"ActionObjectsBundle", "promptBeforeDelete", tw::Value(false)},
      {"GeneralBundle", "animationsDisabled", tw::Value(true)},
      {"GeneralBundle", "useMilitaryTime", tw::Value(true)},
      {"TimeObjectsBundle", "stopwatchAccuracy", tw::Value(1)},
  };
  // Each announced change is saved at once, while the program runs.
  EXPECT_TRUE(eventually(
      [&] {
        return std::all_of(expected.begin(), expected.end(), [&](const auto& entry) {
          return storedDefault(std::get<0>(entry), std::get<1>(entry)) == std::get<2>(entry);
        });
      },
      10s, kToolPoll));
  for (const auto& [bundle, key, value] : expected)
    EXPECT_EQ(storedDefault(bundle, key), value) << bundle << "." << key;

  // With the quit warning off, Ctrl+Q quits at once although the timer runs.
  xdotool("windowactivate --sync " + window);
  type("ctrl+q");
  const auto status = waitAppExit(15s);
  ASSERT_TRUE(status.has_value()) << "the quit warning is still asked; log:\n" << readFile(log());
  EXPECT_EQ(*status, 0);
  EXPECT_EQ(storedDefault("", "UpdaterAutomaticallyChecks"), tw::Value(true));
  EXPECT_EQ(readFile(log()).find("Asking before quitting"), std::string::npos);
}

TEST_F(DesktopEndToEndTest, KilledWhileThreeTimersRunTheyResumeAndAMissedFinishFiresOnce) {
  withStore([](BTTimingController& timing) {
    timing.timingControlForTimingObject(addTimer("One", 3600))->start();
    timing.timingControlForTimingObject(addTimer("Two", 5400))->start();
    auto soon = addTimer("Soon", 30);
    alertOnFinish(soon);
    timing.timingControlForTimingObject(soon)->start();
  });
  const auto soonFinish = storedFinishDate("Soon");
  const auto oneFinish = storedFinishDate("One");
  ASSERT_TRUE(soonFinish && oneFinish);

  ASSERT_FALSE(launchAndWaitForWindow().empty());
  ASSERT_EQ(::kill(app_, SIGKILL), 0);
  ASSERT_TRUE(waitAppExit(10s).has_value());
  ASSERT_LT(tw::clock::wallNow(), soonFinish->secondsSince1970)
      << "the machine is too slow: Soon finished before the kill";
  EXPECT_TRUE(notifications_->calls().empty());

  // Dead while Soon's finish passes.
  while (tw::clock::wallNow() < soonFinish->secondsSince1970 + 1)
    std::this_thread::sleep_for(200ms);
  ASSERT_FALSE(launchAndWaitForWindow().empty());
  ASSERT_TRUE(notifications_->waitForCalls(1, 15.0)) << readFile(log());
  EXPECT_TRUE(staysAbsent([&] { return notifications_->calls().size() > 1; }, 3s))
      << "the missed finish notified again";
  const auto calls = notifications_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].summary, "Soon");
  // Desktops group the notification under the installed entry.
  EXPECT_EQ(calls[0].hints.at("desktop-entry"), "s:com.velmora.Tickwell");
  EXPECT_TRUE(sleepCallSeen("Portal.Inhibit"));

  ASSERT_EQ(::kill(app_, SIGTERM), 0);
  ASSERT_TRUE(waitAppExit(15s).has_value());
  auto states = storedStates();
  EXPECT_EQ(states["One"], tw::kTimingStateRunning);
  EXPECT_EQ(states["Two"], tw::kTimingStateRunning);
  EXPECT_EQ(states["Soon"], tw::kTimingStateReset);
  EXPECT_EQ(storedFinishDate("One"), oneFinish);
}

}  // namespace
