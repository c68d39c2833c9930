// The core framework put together by its assembly, end to end: the data services make the time
// objects, the controls the timing controller hands out run them on the virtual clock, and the
// actions they fire go through the executor to the real services. User notifications travel
// over a private message bus to a notification server of the tests' own, which records every
// Notify call; speech goes to a synthesizer that only writes down what it was given, and the
// modal alert to a presenter that does the same (both are covered against their real peers
// elsewhere).
//
// Time objects run on the virtual clock; the bus is real, so its side is waited for with a
// bounded real-time pump.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/Source/Actions/BTActionExecutorService.h"
#include "core/Source/Assembly/BTCoreAssembly.h"
#include "core/Source/Library/BTDateUtility.h"
#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTCustomMessageAction.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTFlashScreenAction.h"
#include "core/Source/Model/BTLinkTimeObjectAction.h"
#include "core/Source/Model/BTRepeatAction.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimeTrigger.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Model/BTWeekdaySetting.h"
#include "core/Source/PlatformServices/BTAlertPresenter.h"
#include "core/Source/PlatformServices/BTSpeechService_macOS.h"
#include "core/Source/Services/BTCoreDataProvider.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Services/DataServiceBundle/BTAllTimeObjectsDataProvider.h"
#include "core/Source/Services/DataServiceBundle/BTTimeObjectDataProvider.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "core/Source/Settings/BTTimeObjectsBundleSettingsImpl.h"
#include "core/Source/Timing/BTStopwatchControlViewModel.h"
#include "core/Source/Timing/BTTimingController.h"
#include "core/Source/Timing/BTUpdater.h"
#include "core/Source/UserMessages/BTAlert.h"
#include "core/Source/UserMessages/BTAlertAction.h"
#include "platform/desktop/FreedesktopNotificationCenter.h"
#include "platform/desktop/SpeechSynthesizer.h"
#include "platform/desktop/UserNotificationCenter.h"
#include "platform/desktop/tests/integration/FakeNotificationServer.h"
#include "platform/desktop/tests/integration/PrivateSessionBus.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/inject/TyphoonComponentFactory.h"
#include "platform/testsupport/TestSupport.h"

namespace {

using tw::test::FakeNotificationServer;
using NotifyCall = FakeNotificationServer::NotifyCall;
using Hints = std::map<std::string, std::string>;

constexpr double kStart = 1'700'000'000.0;

// What the synthesizer was given and what the presenter showed, in order.
std::vector<std::string>& journal() {
  static std::vector<std::string> entries;
  return entries;
}

// Speaks nothing: notes the text and reports the utterance finished on a later main-queue turn,
// as a real synthesizer does.
class NotingSynthesizer : public tw::SpeechSynthesizer,
                          public std::enable_shared_from_this<NotingSynthesizer> {
 public:
  bool startSpeakingString(const std::string& text) override {
    journal().push_back("speak " + text);
    speaking_ = true;
    std::weak_ptr<NotingSynthesizer> weak = weak_from_this();
    tw::DispatchQueue::main()->async([weak] {
      auto self = weak.lock();
      if (!self || !self->speaking_) return;
      self->speaking_ = false;
      if (auto delegate = self->delegate())
        delegate->speechSynthesizerDidFinishSpeaking(*self, true);
    });
    return true;
  }
  void stopSpeakingAtBoundary(tw::SpeechBoundary) override { speaking_ = false; }
  bool isSpeaking() const override { return speaking_; }

 private:
  bool speaking_ = false;
};

class NotingAlertPresenter : public tw::Object, public BTAlertPresenter {
 public:
  void presentAlert(const std::shared_ptr<BTAlert>& alert) override {
    std::string buttons;
    for (const auto& action : alert->actions())
      buttons += (buttons.empty() ? "" : ", ") + action->title().value_or("(null)");
    journal().push_back("alert " + alert->title().value_or("(null)") + ": " +
                        alert->message().value_or("(null)") + " [" + buttons + "]");
  }
  void presentActionSheet(const std::shared_ptr<BTAlert>& alert,
                          const tw::ui::WindowRef&) override {
    presentAlert(alert);
  }
};

// The real executor; it only keeps the tasks it hands out, so a test can tell when every fired
// action has made its hop onto the main queue.
class TappedExecutor : public BTActionExecutorService {
 public:
  BFTaskPtr executeAction(const std::shared_ptr<BTActionObjectProtocol>& action) override {
    auto task = BTActionExecutorService::executeAction(action);
    tasks_.push_back(task);
    return task;
  }
  bool allQueued() const {
    return std::all_of(tasks_.begin(), tasks_.end(),
                       [](const auto& t) { return t->isCompleted(); });
  }
  std::size_t fired() const { return tasks_.size(); }

 private:
  std::vector<BFTaskPtr> tasks_;
};

// The core assembly with the tap on the executor, speech that only takes notes and a presenter
// that never opens a window; everything else as the application has it.
class IntegrationAssembly : public BTCoreAssembly {
 public:
  std::shared_ptr<TyphoonDefinition> actionExecutor() override {
    return define(__func__, [] {
      return TyphoonDefinition::withClass<TappedExecutor>(
          [](TyphoonDefinition& d) { d.setScope(tw::DefinitionScope::LazySingleton); });
    });
  }
  std::shared_ptr<TyphoonDefinition> speechService() override {
    return define(__func__, [] {
      return TyphoonDefinition::withFactory<BTSpeechService_macOS>(
          [](const TyphoonDefinition::Arguments&) {
            return std::make_shared<BTSpeechService_macOS>(
                [] { return std::make_shared<NotingSynthesizer>(); });
          },
          [](TyphoonDefinition& d) { d.setScope(tw::DefinitionScope::LazySingleton); });
    });
  }
  std::shared_ptr<TyphoonDefinition> alertPresenter() override {
    return define(__func__, [] {
      return TyphoonDefinition::withClass<NotingAlertPresenter>(
          [](TyphoonDefinition& d) { d.setScope(tw::DefinitionScope::LazySingleton); });
    });
  }
};

class AssemblyIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bus_.ok()) GTEST_SKIP() << "no private message bus: " << bus_.failure();
    server_ = std::make_unique<FakeNotificationServer>();
    ASSERT_TRUE(server_->ok());
    journal().clear();
    tw::RunLoop::main().drain();
    TyphoonComponentFactory::clearDefaultFactory();
    // The process's centre is made afresh on the first delivery, when our bus is the session bus.
    tw::UserNotificationCenter::setDefaultUserNotificationCenter(nullptr);

    assembly_ = TyphoonAssembly::assembly<IntegrationAssembly>();
    factory_ = assembly_->activated();
    tw::defaultCoreDataProvider()->setup();
    storeOpen_ = true;
    controller_ = factory_->componentForType<BTTimingController>();
    executor_ = factory_->componentForType<TappedExecutor>();
  }

  void TearDown() override {
    if (factory_) {
      settle();
      clock_.advance(5.0);  // the resets after the finishes
      tw::RunLoop::main().drain();
      settle();
      if (auto center = freedesktopCenter()) center->waitUntilIdle(5.0);
    }
    tw::UserNotificationCenter::setDefaultUserNotificationCenter(nullptr);
    if (storeOpen_) tw::defaultCoreDataProvider()->cleanUp();
    tw::setDefaultCoreDataProvider(nullptr);
    BTActionExecutor::setDefaultExecutor(nullptr);
    TyphoonComponentFactory::clearDefaultFactory();
    controller_.reset();
    executor_.reset();
    factory_.reset();
    assembly_.reset();
    tw::RunLoop::main().drain();
  }

  static std::shared_ptr<tw::FreedesktopNotificationCenter> freedesktopCenter() {
    return std::dynamic_pointer_cast<tw::FreedesktopNotificationCenter>(
        tw::UserNotificationCenter::defaultUserNotificationCenter());
  }

  // ----- driving

  // Lets every fired action hop onto the main queue and run there.
  void settle() {
    ASSERT_TRUE(tw::test::pumpMainUntil([&] { return executor_->allQueued(); }));
    tw::RunLoop::main().drain();
  }
  // Moves the clock, lets the tick scheduler serve what came due, runs the updates it queued and
  // then the actions they fired.
  void step(double seconds) {
    clock_.advance(seconds);
    const auto updater = controller_->updater();
    ASSERT_TRUE(
        tw::test::pumpMainUntil([&] { return updater->servedTicks() == updater->updateTicks(); }));
    tw::RunLoop::main().drain();
    settle();
  }
  void runFor(double seconds) {
    for (double done = 0; done < seconds - 1e-9; done += 0.25) step(0.25);
  }
  // Every Notify call the server has had once the centre has no delivery left in flight.
  std::vector<NotifyCall> notifyCalls() {
    settle();
    auto center = freedesktopCenter();
    EXPECT_TRUE(center) << "the default centre is the freedesktop one";
    if (center) {
      EXPECT_TRUE(center->waitUntilIdle(5.0));
    }
    return server_->calls();
  }

  // ----- building

  static BFTaskPtr await(BFTaskPtr task) {
    EXPECT_TRUE(tw::test::pumpMainUntil([&] { return task->isCompleted(); }));
    return task;
  }
  template <class T>
  std::shared_ptr<T> create(const std::shared_ptr<TyphoonDefinition>& definition) {
    auto service = assembly_->componentFor<BTTimeObjectDataProvider>(definition);
    const auto task = await(service->createTimeObject());
    EXPECT_FALSE(task->isFaulted());
    return task->result().template objectAs<T>();
  }
  std::shared_ptr<BTTimer> timer(const std::string& title, long seconds) {
    auto t = create<BTTimer>(assembly_->timersDataProvider());
    t->setTitle(title);
    t->time()->setMinute(seconds / 60);
    t->time()->setSecond(seconds % 60);
    return t;
  }
  // An action of kind A with the editor's defaults, fired by `trigger`.
  template <class A>
  std::shared_ptr<A> action(const std::shared_ptr<BTTimeObject>& owner,
                            const std::shared_ptr<BTActionTrigger>& trigger) {
    auto a = BTActionObject::actionObject<A>();
    BTActionObjectUtil::setDefaultValues(*a);
    a->setTrigger(trigger);
    a->setTimeObject(owner);
    return a;
  }
  static std::shared_ptr<BTActionTrigger> onFinish() {
    auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
    trigger->setStateFrom(tw::kTimingStateRunning);
    trigger->setStateTo(tw::kTimingStateFinished);
    return trigger;
  }
  static std::shared_ptr<BTActionTrigger> whenRemains(double seconds) {
    auto trigger = BTActionTrigger::actionTrigger<BTTimeTrigger>();
    trigger->setTimeCondition(BTTimeTriggerProtocol::kTimeConditionRemains);
    trigger->setTimeInterval(seconds);
    return trigger;
  }
  std::shared_ptr<BTTimeObjectControlViewModel> control(const std::shared_ptr<BTTimeObject>& o) {
    return controller_->timingControlForTimingObject(o);
  }

  // The hints every notification of ours carries, plus the sound's.
  static Hints hintsWith(const std::string& key, const std::string& value) {
    return {{"desktop-entry", "s:com.velmora.Tickwell"}, {key, value}};
  }
  static void expectNotify(const NotifyCall& call, std::uint32_t replacesId,
                           const std::string& summary, const std::string& body,
                           const Hints& hints) {
    EXPECT_EQ(call.appName, "Tickwell");
    EXPECT_EQ(call.replacesId, replacesId);
    EXPECT_EQ(call.appIcon, "");
    EXPECT_EQ(call.summary, summary);
    EXPECT_EQ(call.body, body);
    EXPECT_EQ(call.actions, (std::vector<std::string>{"default", "Show"}));
    EXPECT_EQ(call.hints, hints);
    EXPECT_EQ(call.expireTimeout, -1);
  }

  // Declared first: installed before anything reads the clock, gone after everything else.
  tw::VirtualClock clock_{kStart};
  tw::test::ScopedXdg xdg_;
  tw::test::PrivateSessionBus bus_;
  std::unique_ptr<FakeNotificationServer> server_;
  std::shared_ptr<IntegrationAssembly> assembly_;
  std::shared_ptr<TyphoonComponentFactory> factory_;
  std::shared_ptr<BTTimingController> controller_;
  std::shared_ptr<TappedExecutor> executor_;
  bool storeOpen_ = false;
};

// ----- the whole chain

TEST_F(AssemblyIntegrationTest, ServicesControlsAndTheExecutorWorkTogetherThroughTheAssembly) {
  // The data services, found through the assembly, make each kind with its defaults.
  auto all = factory_->componentForType<BTAllTimeObjectsDataProvider>();
  await(all->loadAllTimeObjects());
  ASSERT_TRUE(all->isDataLoaded());

  auto tea = create<BTTimer>(assembly_->timersDataProvider());
  auto alarm = create<BTAlarm>(assembly_->alarmsDataProvider());
  auto stopwatch = create<BTStopwatch>(assembly_->stopwatchesDataProvider());
  ASSERT_TRUE(tea && alarm && stopwatch);
  EXPECT_EQ(tea->title(), "New Timer");
  ASSERT_TRUE(tea->time());
  EXPECT_EQ(tea->time()->value(), 0.0);
  EXPECT_EQ(alarm->title(), "New Alarm");
  ASSERT_TRUE(alarm->time() && alarm->weekdays());
  EXPECT_EQ(alarm->time()->hour(), BTDateUtility::hour(tw::Date{kStart}));
  EXPECT_EQ(alarm->time()->minute(), BTDateUtility::minute(tw::Date{kStart}));
  EXPECT_EQ(alarm->weekdays()->weekdayMask(), 0x7F);
  EXPECT_EQ(stopwatch->title(), "New Stopwatch");
  EXPECT_EQ(all->timerObjects(), std::vector<std::shared_ptr<BTTimeObject>>{tea});
  EXPECT_EQ(all->alarmObjects(), std::vector<std::shared_ptr<BTTimeObject>>{alarm});
  EXPECT_EQ(all->stopwatchObjects(), std::vector<std::shared_ptr<BTTimeObject>>{stopwatch});

  // Tea's finish fires one action of each kind the core runs, and a flash the core leaves to
  // the application.
  tea->setTitle("Tea");
  tea->time()->setSecond(3);
  auto eggs = timer("Eggs", 60);
  auto loop = timer("Loop", 2);
  auto alert = action<BTDisplayAlertAction>(tea, onFinish());
  alert->setAlertCustomMessage(std::string("  Steep no longer\n"));
  auto message = action<BTCustomMessageAction>(tea, onFinish());
  message->setCustomMessageMode(BTActionExecutorService::kCustomMessageDisplay |
                                BTActionExecutorService::kCustomMessageSpeak);
  message->setCustomMessageValue(std::string("Tea is ready"));
  auto startStopwatch = action<BTLinkTimeObjectAction>(tea, onFinish());
  startStopwatch->setTargetTimeObject(stopwatch);
  startStopwatch->setTargetAction(BTActionExecutorService::kTargetActionStart);
  auto pauseEggs = action<BTLinkTimeObjectAction>(tea, onFinish());
  pauseEggs->setTargetTimeObject(eggs);
  pauseEggs->setTargetAction(BTActionExecutorService::kTargetActionPause);
  auto resetAlarm = action<BTLinkTimeObjectAction>(tea, onFinish());
  resetAlarm->setTargetTimeObject(alarm);
  resetAlarm->setTargetAction(BTActionExecutorService::kTargetActionReset);
  action<BTFlashScreenAction>(tea, onFinish());
  // And Loop starts itself again after every finish.
  action<BTRepeatAction>(loop, onFinish());

  // The stopwatch's control reads the accuracy from the settings provider injected into it.
  auto settings = factory_->componentForType<BTSettingsProvider>();
  settings->registerDefaults();
  settings->timeObjectsBundle()->setStopwatchAccuracy(1);
  auto stopwatchControl =
      std::dynamic_pointer_cast<BTStopwatchControlViewModel>(control(stopwatch));
  ASSERT_TRUE(stopwatchControl);
  EXPECT_EQ(stopwatchControl->settingsProvider(), settings);
  EXPECT_EQ(stopwatchControl->updateRate(), BTStopwatchControlViewModel::kRateHundredths);

  std::vector<std::int64_t> loopStates;
  auto observation = loop->observeScoped(
      "timingState", tw::KVONew,
      [&](const tw::KeyValueChange& c) { loopStates.push_back(c.newValue.integerValue()); });
  control(tea)->start();
  control(eggs)->start();
  control(alarm)->start();
  control(loop)->start();
  runFor(4.5);

  EXPECT_EQ(executor_->fired(), 7u) << "six on Tea's finish, one on Loop's";
  const auto calls = notifyCalls();
  ASSERT_EQ(calls.size(), 1u);
  expectNotify(calls[0], 0, "Tea", "this timer has finished\nSteep no longer",
               hintsWith("sound-name", "s:message-new-instant"));
  EXPECT_EQ(journal(),
            (std::vector<std::string>{"speak Tea is ready", "alert Tea: Tea is ready [OK]"}));

  EXPECT_EQ(stopwatch->timingState(), tw::kTimingStateRunning);
  EXPECT_EQ(eggs->timingState(), tw::kTimingStatePaused);
  EXPECT_EQ(alarm->timingState(), tw::kTimingStateReset);
  EXPECT_EQ(tea->timingState(), tw::kTimingStateReset) << "a second after its finish";
  EXPECT_EQ(loopStates,
            (std::vector<std::int64_t>{tw::kTimingStateRunning, tw::kTimingStateFinished,
                                       tw::kTimingStateReset, tw::kTimingStateRunning}));
  EXPECT_NEAR(stopwatch->timingValue(), 1.5, 0.25);

  // Deleting the running Loop through its data service takes its control off the scheduler
  // first, so its repeat never starts it again.
  auto timers = assembly_->componentFor<BTTimeObjectDataProvider>(assembly_->timersDataProvider());
  const auto deleted = await(timers->deleteTimeObject(loop));
  EXPECT_FALSE(deleted->isFaulted());
  runFor(3);
  const auto scheduled = controller_->updater()->updateableObjects();
  EXPECT_EQ(scheduled.size(), 1u) << "only the stopwatch still runs";
  EXPECT_EQ(loopStates.back(), tw::kTimingStateReset);
  EXPECT_EQ(std::count(loopStates.begin(), loopStates.end(), tw::kTimingStateRunning), 2);
}

// ----- what reaches the notification server

TEST_F(AssemblyIntegrationTest, AThreeSecondTimerSendsExactlyItsFinishAlertAndSpeaksItsMessage) {
  auto tea = timer("Tea", 3);
  action<BTDisplayAlertAction>(tea, onFinish());
  // Started with less than a minute left: this run never crosses the minute, so never fires.
  action<BTDisplayAlertAction>(tea, whenRemains(60));
  auto spoken = action<BTCustomMessageAction>(tea, onFinish());
  spoken->setCustomMessageMode(BTActionExecutorService::kCustomMessageSpeak);
  spoken->setCustomMessageValue(std::string("Your tea is ready"));

  control(tea)->start();
  runFor(3.0);
  EXPECT_EQ(tea->timingState(), tw::kTimingStateFinished);
  runFor(2.0);
  EXPECT_EQ(tea->timingState(), tw::kTimingStateReset);

  const auto calls = notifyCalls();
  ASSERT_EQ(calls.size(), 1u);
  expectNotify(calls[0], 0, "Tea", "this timer has finished",
               hintsWith("sound-name", "s:message-new-instant"));
  EXPECT_EQ(journal(), std::vector<std::string>{"speak Your tea is ready"});
}

TEST_F(AssemblyIntegrationTest, ASecondAlertOfTheSameTimerReplacesTheFirst) {
  // Started above a minute, Eggs crosses it on its first update after one second has gone.
  auto eggs = timer("Eggs", 61);
  auto minuteLeft = action<BTDisplayAlertAction>(eggs, whenRemains(60));
  minuteLeft->setAlertSoundType(1);  // a named sound, not played here: silent
  action<BTDisplayAlertAction>(eggs, onFinish());
  auto tea = timer("Tea", 3);
  action<BTDisplayAlertAction>(tea, onFinish());

  control(eggs)->start();
  control(tea)->start();
  runFor(1.5);
  auto calls = notifyCalls();
  ASSERT_EQ(calls.size(), 1u);
  expectNotify(calls[0], 0, "Eggs", "1 minute remains", hintsWith("suppress-sound", "b:true"));
  const std::uint32_t eggsId = calls[0].id;

  runFor(59.5);
  EXPECT_EQ(eggs->timingState(), tw::kTimingStateFinished);
  calls = notifyCalls();
  ASSERT_EQ(calls.size(), 3u);
  // Tea's own alert is a notification of its own; Eggs' finish takes the place of its minute.
  expectNotify(calls[1], 0, "Tea", "this timer has finished",
               hintsWith("sound-name", "s:message-new-instant"));
  EXPECT_NE(calls[1].id, eggsId);
  expectNotify(calls[2], eggsId, "Eggs", "this timer has finished",
               hintsWith("sound-name", "s:message-new-instant"));
  EXPECT_EQ(calls[2].id, eggsId);
}

}  // namespace
