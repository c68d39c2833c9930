// The application delegate's launch, quit and reopen rules with the real assembly, store and
// settings in private XDG folders, on Qt's offscreen platform. The quit warning is the real
// modal alert, answered by the test.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <map>
#include <string>

#include "app/Source/Application/AppDelegate.h"
#include "app/Source/Application/CoreAssembly_macOS.h"
#include "app/Source/Application/Interfaces.h"
#include "app/Source/Application/KitStartup.h"
#include "app/Source/Application/UpdaterDelegate.h"
#include "app/Source/MainWindow/RootWindowController.h"
#include "app/tests/SampleData.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Services/BTCoreDataProvider.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "core/Source/Timing/BTActionExecutor.h"
#include "core/Source/Timing/BTTimeObjectControlViewModel.h"
#include "core/Source/Timing/BTTimingController.h"
#include "platform/desktop/DesktopURL.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/inject/Injection.h"
#include "platform/inject/TyphoonComponentFactory.h"
#include "platform/testsupport/TestSupport.h"
#include "platform/ui/Application.h"
#include "platform/ui/SharedApplication.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

using tw::ui::SharedApplication;

void resetProcessState() {
  SharedApplication::shared().resetForTesting();
  tw::setDefaultCoreDataProvider(nullptr);
  BTActionExecutor::setDefaultExecutor(nullptr);
  TyphoonComponentFactory::clearDefaultFactory();
  tw::RunLoop::main().drain();
}

void settle(double seconds = 0.1) {
  tw::ui::Application::runEventsUntil([] { return false; }, seconds);
}

class AppDelegateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tw::ui::test::application();
    tw::app::registerInterfaces();
  }

  void TearDown() override {
    auto& app = SharedApplication::shared();
    if (delegate_ && !app.hasTerminated()) app.terminateWithoutAsking(0);
    delegate_.reset();
    resetProcessState();
  }

  // Fills the store before the launch, as an earlier run of the program would have.
  void beforeLaunch(const std::function<void(BTTimingController&)>& work) {
    auto assembly = TyphoonAssembly::assembly<CoreAssembly_macOS>();
    auto factory = assembly->activated();
    tw::defaultCoreDataProvider()->setup();
    work(*factory->componentForType<BTTimingController>());
    tw::defaultCoreDataProvider()->save();
    tw::defaultCoreDataProvider()->cleanUp();
    resetProcessState();
  }

  void launch() {
    delegate_ = std::make_shared<AppDelegate>();
    SharedApplication::shared().launchWithoutLoop(delegate_);
    tw::RunLoop::main().drain();  // the queued preload and clean-up
  }

  std::map<std::string, std::int64_t> states() {
    std::map<std::string, std::int64_t> result;
    auto context = delegate_->coreDataProvider()->objectContext();
    for (const auto& object : context->findAll<BTTimeObject>())
      result[object->title()] = object->timingState();
    return result;
  }

  tw::test::ScopedXdg xdg_;
  std::shared_ptr<AppDelegate> delegate_;
};

TEST_F(AppDelegateTest, LaunchResumesWhatWasRunningAndDeletesOrphanedActionsAndTriggers) {
  beforeLaunch([](BTTimingController& timing) {
    auto timer = [](const std::string& title, int minutes) {
      auto t = managedObject<BTTimer>();
      t->setTitle(title);
      auto time = managedObject<BTTimeSetting>();
      time->setMinute(minutes);
      t->setTime(time);
      return t;
    };
    auto running = timer("Running", 30);
    timing.timingControlForTimingObject(running)->start();
    auto finished = timer("Finished", 5);
    finished->setTimingStateValue(21);
    timer("Rest", 5);
    auto stopwatch = managedObject<BTStopwatch>();
    stopwatch->setTitle("Paused");
    auto watch = timing.timingControlForTimingObject(stopwatch);
    watch->start();
    watch->pause();

    auto owned = managedObject<BTDisplayAlertAction>();
    owned->setTimeObject(running);
    auto ownedTrigger = managedObject<BTStateTrigger>();
    ownedTrigger->setActionObject(owned);
    managedObject<BTDisplayAlertAction>();  // no time object
    managedObject<BTStateTrigger>();        // no action
  });

  launch();
  EXPECT_EQ(states(), (std::map<std::string, std::int64_t>{
                          {"Running", 20}, {"Finished", 0}, {"Rest", 0}, {"Paused", 10}}));
  auto updaterDelegate = tw::defaultComponentForType<UpdaterDelegate>();
  ASSERT_TRUE(updaterDelegate);
  EXPECT_TRUE(updaterDelegate->isHoldingActivity()) << "the running timer is back on the scheduler";

  auto context = delegate_->coreDataProvider()->objectContext();
  auto actions = context->findAll<BTActionObject>();
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(actions[0]->timeObject()->title(), "Running");
  EXPECT_EQ(context->findAll<BTActionTrigger>().size(), 1u);

  // The main window is up, and the crash default is registered (not stored).
  ASSERT_TRUE(delegate_->windowController());
  EXPECT_TRUE(delegate_->windowController()->window()->isVisible());
  EXPECT_TRUE(tw::UserDefaults::standard().boolForKey("NSApplicationCrashOnExceptions"));
}

TEST_F(AppDelegateTest, QuitWarnsWithTheCountOfEveryObjectNotAtRestAndCancelKeepsRunning) {
  launch();
  tw::app::sample::insert({{"A", 1, 10, true},
                           {"B", 1, 10, true},
                           {"C", 1, 10, true},
                           {"Idle", 1, 10, false},
                           {"Lap", 2, 0, true}});
  auto timing = tw::defaultComponentForType<BTTimingController>();
  auto context = delegate_->coreDataProvider()->objectContext();
  for (const auto& watch : context->findAll<BTStopwatch>())
    timing->timingControlForTimingObject(watch)->pause();

  // The preferences live in the process's own defaults: another test may have switched it off.
  delegate_->settingsProvider()->timeObjectsBundle()->setWarnIfActiveOnQuit(true);
  auto& app = SharedApplication::shared();
  QString title, text;
  tw::ui::test::whenMessageBoxShown([&](QMessageBox* box) {
    title = box->text();
    text = tw::ui::test::informativeText(box);
    tw::ui::test::buttonTitled(box, "Cancel")->click();
  });
  app.terminate();
  EXPECT_TRUE(app.isWaitingForTerminateReply()) << "terminate later while the user decides";
  ASSERT_TRUE(tw::ui::Application::runEventsUntil([&] { return !title.isEmpty(); }, 5.0));
  settle();
  EXPECT_EQ(title, "Are you sure you want to quit?");
  EXPECT_EQ(text, "There are 4 alarms, timers, or stopwatches running.");
  EXPECT_FALSE(app.isWaitingForTerminateReply());
  EXPECT_FALSE(app.hasTerminated());

  // Quit this time: settings and store are saved and the store is closed.
  tw::ui::test::whenMessageBoxShown(
      [](QMessageBox* box) { tw::ui::test::buttonTitled(box, "Quit")->click(); });
  app.terminate();
  ASSERT_TRUE(tw::ui::Application::runEventsUntil([&] { return app.hasTerminated(); }, 5.0));
  EXPECT_EQ(delegate_->coreDataProvider()->objectContext(), nullptr);
  // The standard defaults were made once for the process, in its private folders.
  const auto settingsFile = tw::UserDefaults::standard().filePath();
  EXPECT_TRUE(std::filesystem::exists(settingsFile)) << settingsFile << ": settings not saved";
}

TEST_F(AppDelegateTest, WithTheWarningOffQuitIsImmediateWhateverRuns) {
  launch();
  tw::app::sample::insert({{"A", 1, 10, true}});
  delegate_->settingsProvider()->timeObjectsBundle()->setWarnIfActiveOnQuit(false);
  bool shown = false;
  tw::ui::test::whenMessageBoxShown(
      [&](QMessageBox* box) {
        shown = true;
        box->reject();
      },
      0.3);
  SharedApplication::shared().terminate();
  EXPECT_TRUE(SharedApplication::shared().hasTerminated());
  settle(0.4);
  EXPECT_FALSE(shown);
}

TEST_F(AppDelegateTest, ReopenBringsTheMainWindowBackOnlyWhenNoneIsVisible) {
  launch();
  QWidget* window = delegate_->windowController()->window();
  ASSERT_TRUE(window->isVisible());
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(SharedApplication::shared().hasTerminated()) << "closing the window never quits";
  SharedApplication::shared().reopen();
  EXPECT_TRUE(window->isVisible());
  const QRect before = window->geometry();
  SharedApplication::shared().reopen();
  EXPECT_EQ(window->geometry(), before);
}

TEST_F(AppDelegateTest, KitsStartOnceAndSayItWhenAskedAgain) {
  launch();
  std::vector<std::string> lines;
  auto previous = tw::setLogHook(
      [&](tw::LogLevel, std::string_view message) { lines.emplace_back(message); }, true);
  tw::app::setupReportingAndAnalytics();
  tw::setLogHook(previous);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "[Tessaly] [Tessaly +with] called multiple times. Only the first call is honored, "
            "please pass all kits you wish to initialize");
}

TEST_F(AppDelegateTest, HelpAndFeedbackTheDesktopCannotOpenAreToldWithTheAddressToCopy) {
  launch();
  std::vector<std::string> asked;
  // A desktop with no handler for the address, as GIO says it.
  struct Restore {
    tw::URLOpener previous;
    ~Restore() { tw::setURLOpener(std::move(previous)); }
  } restore{tw::setURLOpener([&](const std::string& url, std::string& reason) {
    asked.push_back(url);
    reason = "Operation not supported";
    return false;
  })};
  QWidget* window = delegate_->windowController()->window();
  for (const char* command : {"showHelp", "showFeedbackDialog"}) {
    SCOPED_TRACE(command);
    auto* item = window->findChild<QAction*>(command);
    ASSERT_TRUE(item);
    QString title, text;
    Qt::TextInteractionFlags flags;
    tw::ui::test::whenMessageBoxShown([&](QMessageBox* box) {
      title = box->text();
      text = tw::ui::test::informativeText(box);
      if (auto* label = box->findChild<QLabel*>("qt_msgbox_informativelabel"))
        flags = label->textInteractionFlags();
      tw::ui::test::buttonTitled(box, "OK")->click();
    });
    tw::LogCapture log;
    item->trigger();
    ASSERT_TRUE(tw::ui::Application::runEventsUntil([&] { return !title.isEmpty(); }, 5.0));
    settle();
    ASSERT_FALSE(asked.empty());
    const QString address = QString::fromStdString(asked.back());
    EXPECT_TRUE(address.startsWith("https://")) << address.toStdString();
    EXPECT_EQ(title, std::string(command) == "showHelp" ? "Help could not be opened"
                                                        : "Feedback could not be opened");
    EXPECT_EQ(text, "Tickwell could not open " + address +
                        " (Operation not supported). You can copy the address and open it in "
                        "your web browser.");
    EXPECT_TRUE(flags & Qt::TextSelectableByMouse) << "the address can be copied";
    EXPECT_TRUE(log.contains("Operation not supported")) << "and it is logged";
  }
  EXPECT_EQ(asked.size(), 2u);
  EXPECT_TRUE(tw::ui::test::visibleMessageBoxes().empty());
}

}  // namespace
