// The action executor against a real store, real controls and the virtual clock, with the
// platform services replaced by recording fakes in an activated test assembly: which method each
// kind of action reaches (stored, built for a test, or behind a proxy), what the notifications
// and messages carry, how links drive other time objects, how a repeat restarts its timer, and
// that deleted targets and deleted repeats do nothing.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Source/Actions/BTActionExecutorService.h"
#include "core/Source/Model/BTActionBuilder.h"
#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTAppOperationAction.h"
#include "core/Source/Model/BTCustomMessageAction.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTFileOperationAction.h"
#include "core/Source/Model/BTFlashScreenAction.h"
#include "core/Source/Model/BTLinkTimeObjectAction.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTRepeatAction.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTSystemEventAction.h"
#include "core/Source/Model/BTTestActionObject.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimeTrigger.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/PlatformServices/BTAlertPresenter.h"
#include "core/Source/PlatformServices/BTNotificationService.h"
#include "core/Source/PlatformServices/BTSpeechService.h"
#include "core/Source/Services/BTCoreDataService.h"
#include "core/Source/Timing/BTTimingController.h"
#include "core/Source/Timing/BTUpdater.h"
#include "core/testsupport/CoreStoreTest.h"
#include "core/testsupport/TestTimeObjects.h"
#include "platform/desktop/UserNotification.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/inject/TyphoonAssembly.h"
#include "platform/inject/TyphoonComponentFactory.h"
#include "platform/testsupport/TestSupport.h"

namespace {

using tw::test::makeTimer;

// A signal over an object's key path leaves one inert registration on it for the object's life
// (its dealloc watch); an observation that has ended counts only that.
constexpr std::size_t kDeallocSentinel = 1;

// What the speech service and the alert presenter were asked, in order.
using Journal = std::vector<std::string>;

class FakeNotificationService : public tw::Object, public BTNotificationService {
 public:
  void deliverNotification(const std::shared_ptr<BTNotification>& n) override {
    delivered.push_back(n);
  }
  void scheduleNotification(const std::shared_ptr<BTNotification>&) override {}
  void removeScheduledNotification(const std::shared_ptr<BTNotification>&) override {}
  std::shared_ptr<tw::UserNotification> scheduledNotificationWithIdentifier(
      const std::string&) const override {
    return nullptr;
  }
  std::vector<std::shared_ptr<tw::UserNotification>> deliveredNotifications() const override {
    return {};
  }
  std::vector<std::shared_ptr<tw::UserNotification>> schedulesNotifications() const override {
    return {};
  }
  std::vector<std::shared_ptr<BTNotification>> delivered;
};

class FakeSpeechService : public tw::Object, public BTSpeechService {
 public:
  explicit FakeSpeechService(std::shared_ptr<Journal> journal) : journal_(std::move(journal)) {}
  BFTaskPtr startSpeakingText(const std::string& text) override {
    journal_->push_back("speak " + text);
    return BFTask::voidTask();
  }
  void stopSpeakingAtBoundary(unsigned) override {}
  bool isSpeaking() const override { return false; }

 private:
  std::shared_ptr<Journal> journal_;
};

class FakeAlertPresenter : public tw::Object, public BTAlertPresenter {
 public:
  explicit FakeAlertPresenter(std::shared_ptr<Journal> journal) : journal_(std::move(journal)) {}
  void presentAlert(const std::shared_ptr<BTAlert>& alert) override {
    journal_->push_back("alert " + alert->title().value_or("(null)") + ": " +
                        alert->message().value_or("(null)"));
    presented.push_back(alert);
  }
  void presentActionSheet(const std::shared_ptr<BTAlert>&, const tw::ui::WindowRef&) override {}
  std::vector<std::shared_ptr<BTAlert>> presented;

 private:
  std::shared_ptr<Journal> journal_;
};

// Hands out the fakes and the test's timing controller; a service left null has no definition.
class ExecutorTestAssembly : public TyphoonAssembly {
 public:
  std::shared_ptr<FakeNotificationService> notifications;
  std::shared_ptr<FakeSpeechService> speech;
  std::shared_ptr<FakeAlertPresenter> alerts;
  std::shared_ptr<BTTimingController> controller;

  virtual std::shared_ptr<TyphoonDefinition> notificationService() {
    return define(__func__, [this] { return handOut(notifications); });
  }
  virtual std::shared_ptr<TyphoonDefinition> speechService() {
    return define(__func__, [this] { return handOut(speech); });
  }
  virtual std::shared_ptr<TyphoonDefinition> alertPresenter() {
    return define(__func__, [this] { return handOut(alerts); });
  }
  virtual std::shared_ptr<TyphoonDefinition> timingController() {
    return define(__func__, [this] { return handOut(controller); });
  }

 protected:
  void collectDefinitions() override {
    notificationService();
    speechService();
    alertPresenter();
    timingController();
  }

 private:
  template <class C>
  static std::shared_ptr<TyphoonDefinition> handOut(const std::shared_ptr<C>& component) {
    if (!component) return nullptr;
    return TyphoonDefinition::withFactory<C>(
        [component](const TyphoonDefinition::Arguments&) { return component; });
  }
};

// The service under test, keeping every task it handed out so the test can wait for the hops.
class TestExecutor : public BTActionExecutorService {
 public:
  BFTaskPtr executeAction(const std::shared_ptr<BTActionObjectProtocol>& action) override {
    auto task = BTActionExecutorService::executeAction(action);
    tasks.push_back(task);
    return task;
  }
  bool allQueued() const {
    for (const auto& t : tasks)
      if (!t->isCompleted()) return false;
    return true;
  }
  std::vector<BFTaskPtr> tasks;
};

// Names the method each action reaches.
class KindRecorder : public BTActionExecutorService {
 public:
  void executeDisplayAlertAction(const std::shared_ptr<BTDisplayAlertActionProtocol>&) override {
    kinds.push_back("alert");
  }
  void executeCustomMessageAction(const std::shared_ptr<BTCustomMessageActionProtocol>&) override {
    kinds.push_back("message");
  }
  void executeFlashScreenAction(const std::shared_ptr<BTFlashScreenActionProtocol>&) override {
    kinds.push_back("flash");
  }
  void executeLinkTimeObjectAction(
      const std::shared_ptr<BTLinkTimeObjectActionProtocol>&) override {
    kinds.push_back("link");
  }
  void executeRepeatAction(const std::shared_ptr<BTRepeatActionProtocol>&) override {
    kinds.push_back("repeat");
  }
  void executeSystemEventAction(const std::shared_ptr<BTSystemEventActionProtocol>&) override {
    kinds.push_back("system");
  }
  void executeFileOperationAction(const std::shared_ptr<BTFileOperationActionProtocol>&) override {
    kinds.push_back("file");
  }
  void executeAppOperationAction(const std::shared_ptr<BTAppOperationActionProtocol>&) override {
    kinds.push_back("app");
  }
  std::vector<std::string> kinds;
};

// The editor's builder, and the unstored action of one kind it hands to Test.
std::shared_ptr<BTActionBuilder> makeBuilder() {
  return BTActionBuilder::builderWithTimeObject(nullptr);
}
std::shared_ptr<BTActionObjectProtocol> proxyOf(const std::shared_ptr<BTActionBuilder>& builder,
                                                const char* type) {
  return builder->buildGenericActionObjectOfType(type);
}

class ActionExecutorTest : public tw::test::CoreStoreTest {
 protected:
  static constexpr double kStart = 1'700'000'000.0;

  void SetUp() override {
    tw::RunLoop::main().drain();
    TyphoonComponentFactory::clearDefaultFactory();
    CoreStoreTest::SetUp();
    updater_ = std::make_shared<BTUpdater>();
    controller_ = std::make_shared<BTTimingController>(updater_, executor_);
    activate(/*withSpeech=*/true);
  }
  void TearDown() override {
    settle();
    clock_.advance(5.0);
    tw::RunLoop::main().drain();
    TyphoonComponentFactory::clearDefaultFactory();
    controller_.reset();
    updater_.reset();
    CoreStoreTest::TearDown();
  }

  void activate(bool withSpeech) {
    auto assembly = TyphoonAssembly::assembly<ExecutorTestAssembly>();
    assembly->notifications = notifications_;
    if (withSpeech) assembly->speech = std::make_shared<FakeSpeechService>(journal_);
    assembly->alerts = alerts_;
    assembly->controller = controller_;
    assembly->activated();
  }

  // Lets every queued action hop onto the main queue and run there.
  void settle() {
    ASSERT_TRUE(tw::test::pumpMainUntil([&] { return executor_->allQueued(); }));
    tw::RunLoop::main().drain();
  }
  void run(const std::shared_ptr<BTActionObjectProtocol>& action) {
    executor_->executeAction(action);
    settle();
  }
  // Moves the clock, lets the tick scheduler serve what came due, then runs the updates and the
  // actions they fired.
  void step(double seconds) {
    clock_.advance(seconds);
    ASSERT_TRUE(tw::test::pumpMainUntil(
        [&] { return updater_->servedTicks() == updater_->updateTicks(); }));
    tw::RunLoop::main().drain();
    settle();
  }
  void stepFor(double seconds) {
    for (double done = 0; done < seconds; done += 0.25) step(0.25);
  }

  template <class A>
  std::shared_ptr<A> addAction(const std::shared_ptr<BTTimeObject>& owner,
                               std::int64_t from = tw::kTimingStateRunning,
                               std::int64_t to = tw::kTimingStateFinished) {
    auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
    trigger->setStateFrom(from);
    trigger->setStateTo(to);
    auto action = BTActionObject::actionObject<A>();
    action->setEnabled(true);
    action->setTrigger(trigger);
    action->setTimeObject(owner);
    return action;
  }
  std::shared_ptr<BTTimeObjectControlViewModel> controlFor(const std::shared_ptr<BTTimer>& t) {
    return controller_->timingControlForTimingObject(t);
  }
  const std::vector<std::shared_ptr<BTNotification>>& delivered() const {
    return notifications_->delivered;
  }

  tw::VirtualClock clock_{kStart};
  std::shared_ptr<Journal> journal_ = std::make_shared<Journal>();
  std::shared_ptr<FakeNotificationService> notifications_ =
      std::make_shared<FakeNotificationService>();
  std::shared_ptr<FakeAlertPresenter> alerts_ = std::make_shared<FakeAlertPresenter>(journal_);
  std::shared_ptr<TestExecutor> executor_ = std::make_shared<TestExecutor>();
  std::shared_ptr<BTUpdater> updater_;
  std::shared_ptr<BTTimingController> controller_;
};

// ----- dispatch by interface

TEST_F(ActionExecutorTest, EachKindReachesItsOwnMethodByInterface) {
  auto timer = makeTimer(60, "Tea");
  const std::vector<std::pair<std::shared_ptr<BTActionObjectProtocol>, std::string>> cases = {
      {addAction<BTDisplayAlertAction>(timer), "alert"},
      {addAction<BTCustomMessageAction>(timer), "message"},
      {addAction<BTFlashScreenAction>(timer), "flash"},
      {addAction<BTLinkTimeObjectAction>(timer), "link"},
      {addAction<BTRepeatAction>(timer), "repeat"},
      {addAction<BTSystemEventAction>(timer), "system"},
      {addAction<BTFileOperationAction>(timer), "file"},
      {addAction<BTAppOperationAction>(timer), "app"},
  };
  auto builder = makeBuilder();
  const std::vector<std::pair<std::shared_ptr<BTActionObjectProtocol>, std::string>> proxied = {
      // A builder adopts every kind: the first in the order wins.
      {builder, "alert"},
      {proxyOf(builder, "BTDisplayAlertAction"), "alert"},
      {proxyOf(builder, "BTCustomMessageAction"), "message"},
      {proxyOf(builder, "BTFlashScreenAction"), "flash"},
      {proxyOf(builder, "BTLinkTimeObjectAction"), "link"},
      {proxyOf(builder, "BTRepeatAction"), "repeat"},
      {proxyOf(builder, "BTSystemEventAction"), "system"},
      {proxyOf(builder, "BTFileOperationAction"), "file"},
      {proxyOf(builder, "BTAppOperationAction"), "app"},
  };

  auto recorder = std::make_shared<KindRecorder>();
  for (const auto& group : {cases, proxied}) {
    for (const auto& [action, kind] : group) {
      recorder->kinds.clear();
      recorder->executeAction(action)->waitUntilFinished();
      tw::RunLoop::main().drain();
      EXPECT_EQ(recorder->kinds,
                kind.empty() ? std::vector<std::string>{} : std::vector<std::string>{kind})
          << "expected " << kind;
    }
  }
  recorder->kinds.clear();
  recorder->executeAction(nullptr)->waitUntilFinished();
  tw::RunLoop::main().drain();
  EXPECT_TRUE(recorder->kinds.empty());
}

TEST_F(ActionExecutorTest, TheTaskCompletesWithNullOnceQueuedBeforeTheEffectShows) {
  auto timer = makeTimer(60, "Tea");
  auto action = addAction<BTDisplayAlertAction>(timer);

  auto task = executor_->executeAction(action);
  // The main queue is not pumped here, so the action cannot have run yet.
  task->waitUntilFinished();
  EXPECT_TRUE(task->isCompleted());
  EXPECT_FALSE(task->isFaulted());
  EXPECT_FALSE(task->isCancelled());
  EXPECT_TRUE(task->result().isNull());
  EXPECT_TRUE(delivered().empty());

  tw::RunLoop::main().drain();
  EXPECT_EQ(delivered().size(), 1u);
}

// ----- alerts

TEST_F(ActionExecutorTest, AnAlertNotificationCarriesTitleTriggerMessageIdentifierAndSound) {
  auto timer = makeTimer(60, "Tea");
  auto action = addAction<BTDisplayAlertAction>(timer);
  action->setAlertSoundType(0);
  action->setAlertCustomMessage(" \n Steep it now\t\n");
  run(action);

  ASSERT_EQ(delivered().size(), 1u);
  const auto& n = *delivered()[0];
  EXPECT_EQ(n.title(), "Tea");
  EXPECT_EQ(n.subtitle(), "this timer has finished");
  EXPECT_EQ(n.message(), "Steep it now");
  EXPECT_EQ(n.identifier(), timer->uuid());
  EXPECT_EQ(n.soundName(), std::string(NSUserNotificationDefaultSoundName));
  EXPECT_FALSE(n.deliveryDate());
  EXPECT_FALSE(n.userInfo());

  // A remains-trigger names the time left; no message stays no message.
  auto remains = BTActionTrigger::actionTrigger<BTTimeTrigger>();
  remains->setTimeCondition(BTTimeTriggerProtocol::kTimeConditionRemains);
  remains->setTimeInterval(60);
  auto second = BTActionObject::actionObject<BTDisplayAlertAction>();
  second->setTrigger(remains);
  second->setTimeObject(timer);
  second->setAlertCustomMessage(std::nullopt);
  run(second);
  ASSERT_EQ(delivered().size(), 2u);
  EXPECT_EQ(delivered()[1]->subtitle(), "1 minute remains");
  EXPECT_EQ(delivered()[1]->message(), std::nullopt);
}

TEST_F(ActionExecutorTest, OnlySoundZeroAsksForTheDefaultSound) {
  auto timer = makeTimer(60, "Tea");
  auto action = addAction<BTDisplayAlertAction>(timer);
  for (std::int64_t sound : {-1, 1, 2, 3, 42}) {
    action->setAlertSoundType(sound);
    run(action);
    ASSERT_FALSE(delivered().empty());
    EXPECT_EQ(delivered().back()->soundName(), std::nullopt) << "sound " << sound;
  }
  action->setAlertSoundType(0);
  run(action);
  EXPECT_EQ(delivered().back()->soundName(), std::string(NSUserNotificationDefaultSoundName));
}

TEST_F(ActionExecutorTest, ATestedActionKeepsItsMarkerThroughTheProxyAndGetsNoIdentifier) {
  auto timer = makeTimer(60, "Tea");
  auto builder = makeBuilder();
  builder->setTimeObject(timer);
  builder->setAlertSoundType(-1);
  builder->setAlertCustomMessage("Try");

  auto proxy = proxyOf(builder, "BTDisplayAlertAction");
  // The proxy itself lets only the alert kind through, the marker not included.
  EXPECT_FALSE(dynamic_cast<const BTTestActionObject*>(proxy.get()));
  EXPECT_TRUE(BTActionExecutorService::isTestActionObject(proxy.get()));
  run(proxy);
  run(builder);

  ASSERT_EQ(delivered().size(), 2u);
  for (const auto& n : delivered()) {
    EXPECT_EQ(n->title(), "Tea");
    EXPECT_EQ(n->message(), "Try");
    EXPECT_EQ(n->identifier(), std::nullopt);
  }
  // The stored action of the same object does carry the identifier.
  run(addAction<BTDisplayAlertAction>(timer));
  ASSERT_EQ(delivered().size(), 3u);
  EXPECT_EQ(delivered()[2]->identifier(), timer->uuid());
}

// ----- custom messages

TEST_F(ActionExecutorTest, CustomMessageModesSpeakThenShow) {
  auto timer = makeTimer(60, "Tea");
  auto action = addAction<BTCustomMessageAction>(timer);
  action->setCustomMessageValue("\n  Hello there \n");

  action->setCustomMessageMode(3);
  run(action);
  EXPECT_EQ(*journal_, (Journal{"speak Hello there", "alert Tea: Hello there"}));
  ASSERT_EQ(alerts_->presented.size(), 1u);
  const auto& alert = *alerts_->presented[0];
  EXPECT_EQ(alert.style(), BTAlert::kStyleInformational);
  ASSERT_EQ(alert.actions().size(), 1u);
  EXPECT_EQ(alert.actions()[0]->title(), "OK");
  EXPECT_EQ(alert.actions()[0]->style(), BTAlertAction::kStyleDefault);
  EXPECT_FALSE(alert.actions()[0]->handlerBlock());

  journal_->clear();
  action->setCustomMessageMode(2);
  run(action);
  EXPECT_EQ(*journal_, Journal{"speak Hello there"});

  journal_->clear();
  action->setCustomMessageMode(1);
  run(action);
  EXPECT_EQ(*journal_, Journal{"alert Tea: Hello there"});
  EXPECT_TRUE(delivered().empty());
}

TEST_F(ActionExecutorTest, ABlankCustomMessageNeitherSpeaksNorShows) {
  auto timer = makeTimer(60, "Tea");
  auto action = addAction<BTCustomMessageAction>(timer);
  action->setCustomMessageMode(3);
  for (const char* blank : {"", "  \n\t \r\n", "\u00a0\u2028 "}) {
    action->setCustomMessageValue(blank);
    run(action);
  }
  action->setCustomMessageValue(std::nullopt);
  run(action);
  EXPECT_TRUE(journal_->empty());
}

TEST_F(ActionExecutorTest, TrimmingCutsOnlyTheEndsAndNeverInsideACodePoint) {
  using S = BTActionExecutorService;
  EXPECT_EQ(S::trimmedText(std::nullopt), std::nullopt);
  EXPECT_EQ(S::trimmedText(" a  b "), "a  b");
  EXPECT_EQ(S::trimmedText("\u3000caf\u00e9\u00a0\n"), "caf\u00e9");
  EXPECT_EQ(S::trimmedText("\u00e9"), "\u00e9");
  // A broken sequence is not white space and stays.
  EXPECT_EQ(S::trimmedText(" \xC3 "), "\xC3");
}

TEST_F(ActionExecutorTest, AMissingServiceSkipsOnlyItsOwnEffect) {
  TyphoonComponentFactory::clearDefaultFactory();
  activate(/*withSpeech=*/false);
  auto timer = makeTimer(60, "Tea");
  auto action = addAction<BTCustomMessageAction>(timer);
  action->setCustomMessageValue("Hello");
  action->setCustomMessageMode(3);

  tw::LogCapture log;
  run(action);
  EXPECT_EQ(*journal_, Journal{"alert Tea: Hello"});
  EXPECT_TRUE(log.contains("speech service"));

  // No factory at all: nothing shows and nothing breaks.
  TyphoonComponentFactory::clearDefaultFactory();
  journal_->clear();
  log.clear();
  run(action);
  run(addAction<BTDisplayAlertAction>(timer));
  EXPECT_TRUE(journal_->empty());
  EXPECT_TRUE(delivered().empty());
  EXPECT_TRUE(log.contains("No component factory"));

  // Nor do a link and a repeat, which need the timing controller to drive their time object.
  auto target = makeTimer(120, "Target");
  auto link = addAction<BTLinkTimeObjectAction>(timer);
  link->setTargetTimeObject(target);
  link->setTargetAction(1);
  auto repeat = makeBuilder();
  repeat->setTimeObject(target);
  log.clear();
  run(link);
  run(proxyOf(repeat, "BTRepeatAction"));
  tw::RunLoop::main().drain();
  EXPECT_EQ(target->timingState(), tw::kTimingStateReset);
  EXPECT_TRUE(log.contains("No component factory to find the timing controller in"));
}

// ----- links

TEST_F(ActionExecutorTest, ALinkStartsPausesAndResetsItsTarget) {
  auto owner = makeTimer(60, "Owner");
  auto target = makeTimer(120, "Target");
  auto link = addAction<BTLinkTimeObjectAction>(owner);
  link->setTargetTimeObject(target);

  link->setTargetAction(1);
  run(link);
  EXPECT_EQ(target->timingState(), tw::kTimingStateRunning);
  link->setTargetAction(2);
  run(link);
  EXPECT_EQ(target->timingState(), tw::kTimingStatePaused);
  link->setTargetAction(7);
  run(link);
  EXPECT_EQ(target->timingState(), tw::kTimingStatePaused);
  link->setTargetAction(3);
  run(link);
  EXPECT_EQ(target->timingState(), tw::kTimingStateReset);
  EXPECT_EQ(owner->timingState(), tw::kTimingStateReset);
}

TEST_F(ActionExecutorTest, ALinkWhoseTargetIsGoneDoesNothing) {
  auto owner = makeTimer(60, "Owner");
  auto target = makeTimer(120, "Target");
  auto link = addAction<BTLinkTimeObjectAction>(owner);
  link->setTargetAction(1);
  link->setTargetTimeObject(target);
  // A builder still holding the deleted object, and the stored link the deletion nullified.
  auto builder = makeBuilder();
  builder->setTimeObject(owner);
  builder->setTargetTimeObject(target);
  builder->setTargetAction(1);

  service_->objectContext()->deleteObject(target);
  ASSERT_FALSE(link->targetTimeObject());
  const auto controls = controller_->controlCount();
  run(link);
  run(proxyOf(builder, "BTLinkTimeObjectAction"));
  EXPECT_EQ(target->timingState(), tw::kTimingStateReset);
  EXPECT_EQ(controller_->controlCount(), controls);
  EXPECT_TRUE(updater_->updateableObjects().empty());
}

// ----- repeats

TEST_F(ActionExecutorTest, ARepeatRestartsAThreeSecondTimerAfterEachReset) {
  auto timer = makeTimer(3, "Eggs");
  addAction<BTRepeatAction>(timer, tw::kTimingStateRunning, tw::kTimingStateFinished);
  std::vector<std::pair<std::int64_t, double>> heard;  // state, seconds since the start
  auto observation =
      timer->observeScoped("timingState", tw::KVONew, [&](const tw::KeyValueChange& c) {
        heard.emplace_back(c.newValue.integerValue(), clock_.wall() - kStart);
      });

  controlFor(timer)->start();
  stepFor(9);

  // Finish on the first tick at or after 3 s, reset a second later, started again at once;
  // and the second round the same.
  ASSERT_GE(heard.size(), 7u);
  EXPECT_EQ(heard[0].first, tw::kTimingStateRunning);
  EXPECT_EQ(heard[1].first, tw::kTimingStateFinished);
  EXPECT_GE(heard[1].second, 3.0);
  EXPECT_LT(heard[1].second, 3.5);
  EXPECT_EQ(heard[2],
            (std::pair<std::int64_t, double>(tw::kTimingStateReset, heard[1].second + 1.0)));
  EXPECT_EQ(heard[3], (std::pair<std::int64_t, double>(tw::kTimingStateRunning, heard[2].second)));
  EXPECT_EQ(heard[4].first, tw::kTimingStateFinished);
  EXPECT_GE(heard[4].second, heard[3].second + 3.0);
  EXPECT_EQ(heard[5].first, tw::kTimingStateReset);
  EXPECT_EQ(heard[6].first, tw::kTimingStateRunning);
  // Each round restarted the timer exactly once.
  EXPECT_EQ(std::count_if(heard.begin(), heard.end(),
                          [](const auto& h) { return h.first == tw::kTimingStateRunning; }),
            std::count_if(heard.begin(), heard.end(), [](const auto& h) {
              return h.first == tw::kTimingStateFinished;
            }) + 1);
}

TEST_F(ActionExecutorTest, ARepeatOfAResetTimeObjectStartsItAtOnce) {
  auto timer = makeTimer(30, "Eggs");
  auto builder = makeBuilder();
  builder->setTimeObject(timer);
  run(proxyOf(builder, "BTRepeatAction"));
  tw::RunLoop::main().drain();
  EXPECT_EQ(timer->timingState(), tw::kTimingStateRunning);
}

TEST_F(ActionExecutorTest, ARepeatWhoseActionIsDeletedInTheFinishedSecondEndsWithoutRestart) {
  auto timer = makeTimer(3, "Eggs");
  auto repeat = addAction<BTRepeatAction>(timer, tw::kTimingStateRunning, tw::kTimingStateFinished);
  controlFor(timer)->start();
  const auto unwatched = repeat->observationCount();  // the control's own, while it runs
  while (timer->timingState() != tw::kTimingStateFinished) step(0.25);
  EXPECT_GT(repeat->observationCount(), unwatched);  // the repeat is watching

  service_->objectContext()->deleteObject(repeat);
  EXPECT_EQ(repeat->observationCount(), unwatched + kDeallocSentinel);
  stepFor(3);
  EXPECT_EQ(timer->timingState(), tw::kTimingStateReset);
  EXPECT_TRUE(updater_->updateableObjects().empty());
}

TEST_F(ActionExecutorTest, ARepeatWhoseTimeObjectIsDeletedInTheFinishedSecondEndsWithoutRestart) {
  // Deleted directly, and deleted the way the data services do it (the control reset first).
  for (bool resetFirst : {false, true}) {
    SCOPED_TRACE(resetFirst ? "reset first" : "deleted directly");
    auto timer = makeTimer(3, "Eggs");
    auto repeat =
        addAction<BTRepeatAction>(timer, tw::kTimingStateRunning, tw::kTimingStateFinished);
    controlFor(timer)->start();
    const auto unwatched = repeat->observationCount();
    while (timer->timingState() != tw::kTimingStateFinished) step(0.25);
    ASSERT_GT(repeat->observationCount(), unwatched);

    tw::LogCapture log;
    if (resetFirst) controller_->timeObjectWillBeDeleted(timer);
    service_->objectContext()->deleteObject(timer);
    stepFor(3);
    EXPECT_EQ(repeat->observationCount(), unwatched + kDeallocSentinel);
    EXPECT_NE(timer->timingState(), tw::kTimingStateRunning);
    EXPECT_TRUE(updater_->updateableObjects().empty());
    EXPECT_EQ(controller_->controlCount(), 0u);
  }
}

}  // namespace
