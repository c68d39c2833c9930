// The actions of a time object, end to end: the real Tickwell program on a virtual X display
// with a window manager, a private message bus with a notification server of the test's own,
// and private XDG folders. A 3-second timer is stored before the launch; in the program the
// test adds a finish alert and a flash-screen action through the action editor (mouse and
// keyboard through xdotool), starts the timer with Space, and sees exactly one notification
// with the timer's title and the flash window map and unmap. The store is read after the
// program has ended. An action saved in the editor is in the store even when the program is
// killed a moment later.
//
// Skips when Xvfb, openbox or xdotool are missing.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/tests/e2e/TickwellEndToEndFixture.h"
#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTFlashScreenAction.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "platform/desktop/tests/integration/FakeNotificationServer.h"

namespace {

using namespace tw::test::e2e;

class ActionEditorEndToEndTest : public TickwellEndToEndTest {
 protected:
  std::vector<std::string> visibleWindows() const { return visibleWindowsOf(app_); }

  // The next launch opens on the timers tab.
  static void showTimersAtLaunch() {
    TyphoonComponentFactory::clearDefaultFactory();
    auto factory = TyphoonAssembly::assembly<CoreAssembly_macOS>()->activated();
    auto settings = factory->componentForType<BTSettingsProvider>();
    settings->registerDefaults();
    settings->load();
    settings->masterDetailBundle()->setViewMode(1);
    settings->save();
    TyphoonComponentFactory::clearDefaultFactory();
  }

  // "WIDTH" and "HEIGHT" (and X, Y) of a window.
  std::map<std::string, int> geometry(const std::string& window) const {
    std::map<std::string, int> values;
    for (const auto& line : xdotool("getwindowgeometry --shell " + window)) {
      const auto eq = line.find('=');
      if (eq != std::string::npos) values[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
    }
    return values;
  }

  void clickIn(const std::string& window, int x, int y) const {
    xdotool("mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
            " click 1");
  }

  // Opens the editor with the actions list's add button and returns the editor's window.
  std::string openEditor(const std::string& mainWindow) {
    const auto size = geometry(mainWindow);
    // The add button sits at the left end of the actions list's footer (8 points in, 28 wide,
    // 32 high), at the bottom of the detail pane (16-point side and 12-point bottom margins),
    // which starts right of the master list (280 points and a 1-point divider).
    std::string editor;
    const auto opened = [&] {
      for (const auto& w : visibleWindows())
        if (w != mainWindow) editor = w;
      return !editor.empty();
    };
    // A click that came before the pane was laid out opens nothing: it is given again. Once the
    // editor is up, a second click meets its modal window and does nothing.
    eventually(
        [&] {
          clickIn(mainWindow, 281 + 16 + 8 + 14, size.at("HEIGHT") - 12 - 16);
          return eventually(opened, 2s, kToolPoll);
        },
        12s, kToolPoll);
    return editor;
  }
};

TEST_F(ActionEditorEndToEndTest, AlertAndFlashAddedInTheEditorFireOnceWhenTheTimerFinishes) {
  // A 3-second timer, shown at launch (the timers tab).
  withStore([](BTTimingController&) {
    auto timer = managedObject<BTTimer>();
    timer->setTitle("Tea");
    auto time = managedObject<BTTimeSetting>();
    time->setSecond(3);
    timer->setTime(time);
  });
  showTimersAtLaunch();
  tw::test::FakeNotificationServer notifications;
  ASSERT_TRUE(notifications.ok());

  const auto env = environment();
  app_ = tw::test::spawnProcess({TW_TICKWELL_BINARY}, log().string(), &env);
  ASSERT_GT(app_, 0);
  const std::string window = waitForWindowOf(app_);
  ASSERT_FALSE(window.empty());
  xdotool("windowactivate --sync " + window);
  ASSERT_TRUE(waitForActive(window)) << "the main window never got the focus";

  // A finish alert: the editor opens on it; Return saves.
  std::string editor = openEditor(window);
  ASSERT_FALSE(editor.empty()) << "the editor did not open; log:\n" << readFile(log());
  xdotool("windowactivate --sync " + editor);
  xdotool("key --clearmodifiers Return");
  ASSERT_TRUE(eventually([&] { return visibleWindows().size() == 1; }, 10s, kToolPoll))
      << "Save did not close";

  // A flash: the action pop-up is the first control; Down twice reaches "Flash Screen".
  xdotool("windowactivate --sync " + window);
  editor = openEditor(window);
  ASSERT_FALSE(editor.empty());
  xdotool("windowactivate --sync " + editor);
  xdotool("key --clearmodifiers Tab Down Down");
  std::this_thread::sleep_for(300ms);
  xdotool("key --clearmodifiers Return");
  ASSERT_TRUE(eventually([&] { return visibleWindows().size() == 1; }, 10s, kToolPoll));

  // Space on the time display starts the timer.
  xdotool("windowactivate --sync " + window);
  const auto size = geometry(window);
  clickIn(window, 281 + (size.at("WIDTH") - 281) / 2, size.at("HEIGHT") * 2 / 5);
  xdotool("key --clearmodifiers space");

  bool flashShown = false;
  ASSERT_TRUE(eventually(
      [&] {
        flashShown = flashShown || visibleWindows().size() >= 2;
        return flashShown && !notifications.calls().empty();
      },
      12s, kToolPoll))
      << "notifications: " << notifications.calls().size() << ", flash seen: " << flashShown
      << "; log:\n"
      << readFile(log());
  EXPECT_TRUE(eventually([&] { return visibleWindows().size() == 1; }, 10s, kToolPoll))
      << "the flash window did not go";
  EXPECT_TRUE(staysAbsent([&] { return notifications.calls().size() > 1; }, 2.0))
      << "a second alert";
  const auto calls = notifications.calls();
  ASSERT_EQ(calls.size(), 1u) << "exactly one alert";
  EXPECT_NE((calls[0].summary + " " + calls[0].body).find("Tea"), std::string::npos)
      << calls[0].summary << " / " << calls[0].body;

  ASSERT_EQ(::kill(app_, SIGTERM), 0);
  int status = 0;
  ASSERT_TRUE(
      eventually([&] { return ::waitpid(app_, &status, WNOHANG) == app_; }, 15s, kToolPoll));
  app_ = -1;

  TyphoonComponentFactory::clearDefaultFactory();
  auto factory = TyphoonAssembly::assembly<CoreAssembly_macOS>()->activated();
  tw::defaultCoreDataProvider()->setup();
  int alerts = 0, flashes = 0;
  for (const auto& object : tw::defaultCoreDataProvider()->objectContext()->findAll<BTTimer>())
    for (const auto& action : object->actions()) {
      alerts += std::dynamic_pointer_cast<BTDisplayAlertAction>(action) != nullptr;
      flashes += std::dynamic_pointer_cast<BTFlashScreenAction>(action) != nullptr;
    }
  tw::defaultCoreDataProvider()->cleanUp();
  tw::setDefaultCoreDataProvider(nullptr);
  TyphoonComponentFactory::clearDefaultFactory();
  EXPECT_EQ(alerts, 1);
  EXPECT_EQ(flashes, 1);
}

TEST_F(ActionEditorEndToEndTest, AnActionSavedInTheEditorSurvivesAKillAMomentLater) {
  withStore([](BTTimingController&) {
    auto timer = managedObject<BTTimer>();
    timer->setTitle("Tea");
    auto time = managedObject<BTTimeSetting>();
    time->setMinute(3);
    timer->setTime(time);
  });
  // The timers tab, where the stored timer is selected at launch.
  showTimersAtLaunch();
  app_ = launch();
  ASSERT_GT(app_, 0);
  const std::string window = waitForWindowOf(app_);
  ASSERT_FALSE(window.empty());
  xdotool("windowactivate --sync " + window);
  ASSERT_TRUE(waitForActive(window)) << "the main window never got the focus";
  const std::string editor = openEditor(window);
  ASSERT_FALSE(editor.empty()) << "the editor did not open; log:\n" << readFile(log());
  xdotool("windowactivate --sync " + editor);
  xdotool("key --clearmodifiers Return");
  ASSERT_TRUE(eventually([&] { return visibleWindows().size() == 1; }, 10s, kToolPoll))
      << "Save did not close";
  // Killed as soon as the running program's store holds the action, not a moment later.
  auto savedActions = [&] {
    int actions = 0;
    peekStore([&](tw::store::Context& context) {
      for (const auto& timer : context.findAll<BTTimer>())
        actions += static_cast<int>(timer->actions().size());
    });
    return actions;
  };
  ASSERT_TRUE(eventually([&] { return savedActions() == 1; }, 10s, kToolPoll))
      << "the action never reached the store; log:\n"
      << readFile(log());
  ASSERT_EQ(::kill(app_, SIGKILL), 0);
  ASSERT_TRUE(waitAppExit(10s).has_value());

  int actions = 0;
  withStore([&](BTTimingController&) {
    for (const auto& timer : tw::defaultCoreDataProvider()->objectContext()->findAll<BTTimer>())
      actions += static_cast<int>(timer->actions().size());
  });
  EXPECT_EQ(actions, 1) << readFile(log());
}

}  // namespace
