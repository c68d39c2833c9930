// When triggers fire: runs of timers and stopwatches are played here by hand, the way their
// control drives them (set the shown value or the state, then ask every trigger through the
// action's trigger accessor), so the firing rules are checked without the timing engine.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Source/Library/Proxying/BTProxy.h"
#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTActionTriggerUtil.h"
#include "core/Source/Model/BTAppOperationAction.h"
#include "core/Source/Model/BTCustomMessageAction.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTFileOperationAction.h"
#include "core/Source/Model/BTFlashScreenAction.h"
#include "core/Source/Model/BTLinkTimeObjectAction.h"
#include "core/Source/Model/BTRepeatAction.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTSystemEventAction.h"
#include "core/Source/Model/BTTimeTrigger.h"
#include "core/Source/Model/BTTimer.h"
#include "core/testsupport/CoreStoreTest.h"
#include "platform/foundation/Exception.h"
#include "platform/store/Context.h"

namespace {

class TriggerFiringTest : public tw::test::CoreStoreTest {
 protected:
  // Gives `trigger` an action of `owner`, as the builders leave a stored action.
  template <class T>
  std::shared_ptr<T> attach(const std::shared_ptr<BTTimeObject>& owner,
                            const std::shared_ptr<T>& trigger, bool enabled = true) {
    auto action = BTActionObject::actionObject<BTRepeatAction>();
    action->setEnabled(enabled);
    action->setTrigger(trigger);
    owner->addActionObject(action);
    return trigger;
  }

  std::shared_ptr<BTTimeTrigger> timeTrigger(std::int64_t condition, double interval) {
    auto trigger = BTActionTrigger::actionTrigger<BTTimeTrigger>();
    trigger->setTimeCondition(condition);
    trigger->setTimeInterval(interval);
    return trigger;
  }

  std::shared_ptr<BTStateTrigger> stateTrigger(std::int64_t from, std::int64_t to) {
    auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
    trigger->setStateFrom(from);
    trigger->setStateTo(to);
    return trigger;
  }

  // What the control does on a tick: ask the trigger of the action, through the protocol.
  static bool tick(const std::shared_ptr<BTActionTrigger>& trigger) {
    auto action = trigger->actionObject();
    if (!action) return trigger->tryActivate();
    auto asked = action->trigger();
    return asked && asked->tryActivate();
  }

  // Shows each value in turn and asks the trigger; the values at which it fired.
  static std::vector<double> play(const std::shared_ptr<BTTimeObject>& owner,
                                  const std::shared_ptr<BTActionTrigger>& trigger, double from,
                                  double to, double step) {
    std::vector<double> fired;
    const int count = static_cast<int>(std::floor(std::abs(to - from) / step + 1e-9));
    const double sign = to < from ? -1.0 : 1.0;
    for (int k = 0; k <= count; ++k) {
      const double value = from + sign * step * k;
      owner->setTimingValue(value);
      if (tick(trigger)) fired.push_back(value);
    }
    return fired;
  }
};

using Fired = std::vector<double>;

// ----- time triggers

TEST_F(TriggerFiringTest, RemainsTriggerFiresOnTheFirstTickAtOrBelowItsInterval) {
  auto timer = managedObject<BTTimer>();
  auto trigger = attach(timer, timeTrigger(10, 60));
  timer->setTimingState(tw::kTimingStateRunning);

  // A timer started at 90 s, ticking in steps that skip the exact interval.
  Fired fired = play(timer, trigger, 90, 0, 0.7);
  ASSERT_EQ(fired.size(), 1u) << "once per run";
  EXPECT_NEAR(fired[0], 59.9, 1e-9);
  EXPECT_TRUE(trigger->isTriggered());

  // The next run, ticking through the interval itself: the crossing is inclusive.
  trigger->reset();
  EXPECT_FALSE(trigger->isTriggered());
  EXPECT_FALSE(trigger->meetsTriggerPreCondition());
  EXPECT_EQ(play(timer, trigger, 90, 0, 0.5), Fired{60.0});
}

TEST_F(TriggerFiringTest, RemainsTriggerStaysSilentForARunStartedWithinItsInterval) {
  auto timer = managedObject<BTTimer>();
  auto trigger = attach(timer, timeTrigger(10, 60));
  timer->setTimingState(tw::kTimingStateRunning);

  EXPECT_TRUE(play(timer, trigger, 45, 0, 0.5).empty());
  EXPECT_TRUE(play(timer, trigger, 60, 0, 0.5).empty()) << "60 left is not the far side";
  EXPECT_FALSE(trigger->isTriggered());
  EXPECT_FALSE(trigger->meetsTriggerPreCondition());
}

TEST_F(TriggerFiringTest, ElapsedTriggerFiresOncePerRunOfAStopwatchAndAgainAfterReset) {
  auto stopwatch = managedObject<BTStopwatch>();
  auto trigger = attach(stopwatch, timeTrigger(0, 10));
  stopwatch->setTimingState(tw::kTimingStateRunning);

  EXPECT_EQ(play(stopwatch, trigger, 0, 30, 0.3), Fired{10.2});

  trigger->reset();
  EXPECT_EQ(play(stopwatch, trigger, 0, 30, 0.5), Fired{10.0}) << "the next run";

  // A stopwatch first evaluated past the interval (e.g. resumed after a launch) stays silent.
  trigger->reset();
  EXPECT_TRUE(play(stopwatch, trigger, 12, 30, 0.5).empty());
}

TEST_F(TriggerFiringTest, ATimeTriggerWithAnUnknownConditionNeverFiresAndHasNoKind) {
  auto timer = managedObject<BTTimer>();
  auto trigger = attach(timer, timeTrigger(5, 10));
  timer->setTimingState(tw::kTimingStateRunning);

  EXPECT_TRUE(play(timer, trigger, 0, 20, 0.5).empty());
  EXPECT_TRUE(play(timer, trigger, 20, 0, 0.5).empty());
  EXPECT_FALSE(trigger->meetsTriggerPreCondition()) << "the flag is left alone";
  EXPECT_EQ(BTActionTriggerUtil::actionTriggerKindFromActionTrigger(trigger), -1);
}

TEST_F(TriggerFiringTest, ATimeTriggerWithoutATimeObjectReadsZero) {
  // A fresh action of no time object: an elapsed trigger above 0 sees its far side at 0 and an
  // interval of 0 is reached at once: a missing time object reads as 0 seconds, never as a fault.
  auto trigger = timeTrigger(0, 0);
  auto action = BTActionObject::actionObject<BTRepeatAction>();
  action->setEnabled(true);
  action->setTrigger(trigger);
  EXPECT_FALSE(trigger->tryActivate()) << "0 is not below an interval of 0";
  trigger->setTimeInterval(5);
  EXPECT_FALSE(trigger->tryActivate());
  EXPECT_TRUE(trigger->meetsTriggerPreCondition());
}

// ----- what comes before every kind's rule

TEST_F(TriggerFiringTest, ADisabledActionsTriggerNeverFiresStaysArmedAndLearnsNothing) {
  auto timer = managedObject<BTTimer>();
  auto remains = attach(timer, timeTrigger(10, 60), /*enabled=*/false);
  auto starts = attach(timer, stateTrigger(0, 20), /*enabled=*/false);
  auto generic = attach(timer, BTActionTrigger::actionTrigger<BTActionTrigger>(), false);
  timer->setTimingState(tw::kTimingStateRunning);

  EXPECT_TRUE(play(timer, remains, 90, 0, 0.5).empty());
  EXPECT_FALSE(remains->isTriggered());
  EXPECT_FALSE(remains->meetsTriggerPreCondition()) << "the far side went unseen";
  EXPECT_FALSE(tick(starts));
  EXPECT_FALSE(starts->isTriggered());
  EXPECT_FALSE(tick(generic));
  EXPECT_FALSE(generic->isTriggered());

  // Enabled in mid-run, below the interval: the crossing happened while disabled.
  remains->storedActionObject()->setEnabled(true);
  EXPECT_TRUE(play(timer, remains, 30, 0, 0.5).empty());
  // The state trigger's pair was kept up all along, so it fires once its action is enabled.
  starts->storedActionObject()->setEnabled(true);
  EXPECT_TRUE(tick(starts));
  generic->storedActionObject()->setEnabled(true);
  EXPECT_TRUE(tick(generic)) << "the generic trigger fires on its first evaluation";
  EXPECT_FALSE(tick(generic)) << "and only then";
}

TEST_F(TriggerFiringTest, ASpentTriggerLearnsNothingUntilReset) {
  auto timer = managedObject<BTTimer>();
  auto trigger = attach(timer, timeTrigger(10, 60));
  timer->setTimingState(tw::kTimingStateRunning);

  trigger->setTriggered(true);
  timer->setTimingValue(90);
  EXPECT_FALSE(tick(trigger));
  EXPECT_FALSE(trigger->meetsTriggerPreCondition());

  // Armed again without a reset, below the interval: it never saw the far side.
  trigger->setTriggered(false);
  EXPECT_TRUE(play(timer, trigger, 60, 0, 0.5).empty());
}

TEST_F(TriggerFiringTest, ATriggerWithoutAnActionNeverFires) {
  auto generic = BTActionTrigger::actionTrigger<BTActionTrigger>();
  EXPECT_FALSE(generic->tryActivate());
  EXPECT_FALSE(generic->isTriggered());
}

// ----- state triggers

TEST_F(TriggerFiringTest, StartsTriggerFiresOnAStartFromResetNotOnAResume) {
  auto timer = managedObject<BTTimer>();
  auto starts = attach(timer, stateTrigger(0, 20));
  auto finishes = attach(timer, stateTrigger(20, 21));
  EXPECT_EQ(starts->previousState(), -1);
  EXPECT_EQ(starts->currentState(), tw::kTimingStateReset) << "the current state arrives at once";

  timer->setTimingState(tw::kTimingStateRunning);
  EXPECT_EQ(starts->previousState(), tw::kTimingStateReset);
  EXPECT_EQ(starts->currentState(), tw::kTimingStateRunning);
  EXPECT_TRUE(tick(starts));
  EXPECT_FALSE(tick(finishes));
  EXPECT_FALSE(tick(starts)) << "spent for the rest of the run";

  timer->setTimingState(tw::kTimingStatePaused);
  timer->setTimingState(tw::kTimingStateRunning);
  starts->reset();
  EXPECT_FALSE(tick(starts)) << "10 -> 20 is a resume";

  timer->setTimingState(tw::kTimingStateFinished);
  EXPECT_TRUE(tick(finishes));
  EXPECT_FALSE(tick(starts));
}

TEST_F(TriggerFiringTest, AStateTriggerFromPausedToRunningFiresOnResumeYetHasNoKind) {
  auto timer = managedObject<BTTimer>();
  auto resumes = attach(timer, stateTrigger(10, 20));
  EXPECT_EQ(BTActionTriggerUtil::actionTriggerKindFromActionTrigger(resumes), -1);
  timer->setTimingState(tw::kTimingStateRunning);
  EXPECT_FALSE(tick(resumes));
  timer->setTimingState(tw::kTimingStatePaused);
  timer->setTimingState(tw::kTimingStateRunning);
  EXPECT_TRUE(tick(resumes));
}

TEST_F(TriggerFiringTest, ThePairIgnoresRepeatsAndStillMatchesAfterAReset) {
  auto timer = managedObject<BTTimer>();
  auto starts = attach(timer, stateTrigger(0, 20));
  timer->setTimingState(tw::kTimingStateRunning);
  timer->setTimingState(tw::kTimingStateRunning);  // announced again, unchanged
  timer->willChangeValueForKey("timingState");
  timer->didChangeValueForKey("timingState");
  EXPECT_EQ(starts->previousState(), tw::kTimingStateReset);
  EXPECT_EQ(starts->currentState(), tw::kTimingStateRunning);

  EXPECT_TRUE(tick(starts));
  starts->reset();
  EXPECT_TRUE(tick(starts)) << "reset while the pair still matches";
}

TEST_F(TriggerFiringTest, ThePairFollowsTheTriggersActionToItsTimeObject) {
  auto running = managedObject<BTTimer>();
  running->setTimingState(tw::kTimingStateRunning);
  auto idle = managedObject<BTTimer>();

  // Built in the editor's order: the trigger first, then its action, then the owner.
  auto trigger = stateTrigger(20, 0);
  EXPECT_EQ(trigger->currentState(), -1) << "no action yet";
  auto action = BTActionObject::actionObject<BTRepeatAction>();
  action->setEnabled(true);
  action->setTrigger(trigger);
  EXPECT_EQ(trigger->currentState(), -1) << "no time object yet";
  running->addActionObject(action);
  EXPECT_EQ(trigger->currentState(), tw::kTimingStateRunning);

  idle->addActionObject(action);  // moves the action over
  EXPECT_EQ(trigger->previousState(), tw::kTimingStateRunning);
  EXPECT_EQ(trigger->currentState(), tw::kTimingStateReset);
  EXPECT_TRUE(tick(trigger));

  // Cut from its time object the path reads nothing, which changes nothing.
  idle->removeActionObject(action);
  EXPECT_EQ(trigger->previousState(), tw::kTimingStateRunning);
  EXPECT_EQ(trigger->currentState(), tw::kTimingStateReset);
  running->setTimingState(tw::kTimingStateFinished);
  EXPECT_EQ(trigger->currentState(), tw::kTimingStateReset);
}

// ----- lifetime

TEST_F(TriggerFiringTest, AfterReloadingEveryTriggerIsArmedAndPairsStartAfresh) {
  auto timer = managedObject<BTTimer>();
  auto starts = attach(timer, stateTrigger(0, 20));
  auto finishes = attach(timer, stateTrigger(20, 21));
  auto remains = attach(timer, timeTrigger(10, 60));
  auto orphan = stateTrigger(0, 20);
  timer->setTimingState(tw::kTimingStateRunning);
  EXPECT_TRUE(tick(starts));
  EXPECT_FALSE(play(timer, remains, 90, 50, 1).empty());
  ASSERT_TRUE(starts->isTriggered() && remains->isTriggered() &&
              remains->meetsTriggerPreCondition());
  ASSERT_TRUE(starts->isObservingTimingState());

  reopen();

  // The old instances left their context and stopped watching.
  EXPECT_FALSE(starts->isObservingTimingState());
  EXPECT_FALSE(orphan->isObservingTimingState());

  auto reloadedTimer = context().findAll<BTTimer>().front();
  EXPECT_EQ(reloadedTimer->timingState(), tw::kTimingStateRunning) << "a running timer runs on";
  for (auto& trigger : context().findAll<BTActionTrigger>()) EXPECT_FALSE(trigger->isTriggered());
  for (auto& trigger : context().findAll<BTTimeTrigger>())
    EXPECT_FALSE(trigger->meetsTriggerPreCondition());
  auto states = context().findAll<BTStateTrigger>();
  ASSERT_EQ(states.size(), 3u);
  std::shared_ptr<BTStateTrigger> reloadedStarts, reloadedFinishes, reloadedOrphan;
  for (auto& trigger : states) {
    EXPECT_TRUE(trigger->isObservingTimingState());
    EXPECT_EQ(trigger->previousState(), -1);
    if (!trigger->actionObject())
      reloadedOrphan = trigger;
    else if (trigger->stateFrom() == 0)
      reloadedStarts = trigger;
    else
      reloadedFinishes = trigger;
  }
  ASSERT_TRUE(reloadedStarts && reloadedFinishes && reloadedOrphan);
  EXPECT_EQ(reloadedOrphan->currentState(), -1);
  EXPECT_EQ(reloadedStarts->currentState(), tw::kTimingStateRunning);
  EXPECT_FALSE(tick(reloadedStarts)) << "the start happened before the launch";

  // The fresh watch hears the finish.
  reloadedTimer->setTimingState(tw::kTimingStateFinished);
  EXPECT_TRUE(tick(reloadedFinishes));
}

TEST_F(TriggerFiringTest, WatchingItsTimeObjectKeepsNoTriggerAliveAndEndsWithTheTrigger) {
  auto timer = managedObject<BTTimer>();
  auto trigger = attach(timer, stateTrigger(0, 20));
  std::weak_ptr<BTStateTrigger> weak = trigger;

  deleteObject(trigger->storedActionObject());  // takes its trigger with it
  service_->save();
  EXPECT_FALSE(trigger->isObservingTimingState()) << "a deleted trigger stops watching";
  timer->setTimingState(tw::kTimingStateRunning);
  EXPECT_EQ(trigger->currentState(), tw::kTimingStateReset);

  trigger.reset();
  EXPECT_TRUE(weak.expired());
  timer->setTimingState(tw::kTimingStatePaused);  // nobody left to hear it

  // A live trigger is kept only by its context, not by its own watch.
  auto kept = attach(timer, stateTrigger(0, 20));
  std::weak_ptr<BTStateTrigger> weakKept = kept;
  kept.reset();
  service_->cleanUp();
  EXPECT_TRUE(weakKept.expired());
  service_->setup();
}

// ----- kinds and their protocols

TEST_F(TriggerFiringTest, KindsWithoutAnEntityYieldNothing) {
  EXPECT_EQ(BTActionTriggerUtil::actionTriggerTypeFromActionTriggerKind(5), std::nullopt);
  EXPECT_EQ(BTActionTriggerUtil::actionTriggerTypeFromActionTriggerKind(-1), std::nullopt);
}

TEST_F(TriggerFiringTest, TriggerEntitiesNameTheirKindsProtocolForProxies) {
  using U = BTActionTriggerUtil;
  EXPECT_EQ(U::protocolForActionTriggerType("BTStateTrigger"),
            &tw::protocolOf<BTStateTriggerProtocol>());
  EXPECT_EQ(U::protocolForActionTriggerType("BTTimeTrigger"),
            &tw::protocolOf<BTTimeTriggerProtocol>());
  EXPECT_EQ(U::protocolForActionTriggerType("BTActionTrigger"), nullptr);
  EXPECT_EQ(U::protocolForActionTriggerType("BTTimer"), nullptr);

  // A proxy of the state protocol over a stored trigger lets its fields through, not the others.
  auto trigger = stateTrigger(0, 20);
  auto proxy = BTProxy::proxyWithTarget(
      trigger, U::protocolForActionTriggerType(*U::actionTriggerTypeFromActionTriggerKind(1)));
  EXPECT_TRUE(tw::conformsTo<BTActionTriggerProtocol>(proxy));
  EXPECT_TRUE(tw::conformsTo<BTStateTriggerProtocol>(proxy));
  EXPECT_FALSE(tw::conformsTo<BTTimeTriggerProtocol>(proxy));
  EXPECT_EQ(proxy->valueForKey("stateTo").integerValue(), 20);
  EXPECT_FALSE(proxy->valueForKey("triggered").boolValue());
  auto asState = tw::interfaceOf<BTStateTriggerProtocol>(proxy);
  ASSERT_TRUE(asState);
  EXPECT_EQ(U::actionTriggerKindFromActionTrigger(asState), 1);
  EXPECT_THROW(proxy->valueForKey("currentState"), tw::Exception);
}

TEST_F(TriggerFiringTest, EveryActionEntityNamesItsOwnKindsProtocol) {
  const struct {
    const char* type;
    std::shared_ptr<tw::Object> entity;
  } kinds[] = {
      {"BTDisplayAlertAction", BTActionObject::actionObject<BTDisplayAlertAction>()},
      {"BTCustomMessageAction", BTActionObject::actionObject<BTCustomMessageAction>()},
      {"BTFlashScreenAction", BTActionObject::actionObject<BTFlashScreenAction>()},
      {"BTLinkTimeObjectAction", BTActionObject::actionObject<BTLinkTimeObjectAction>()},
      {"BTRepeatAction", BTActionObject::actionObject<BTRepeatAction>()},
      {"BTSystemEventAction", BTActionObject::actionObject<BTSystemEventAction>()},
      {"BTFileOperationAction", BTActionObject::actionObject<BTFileOperationAction>()},
      {"BTAppOperationAction", BTActionObject::actionObject<BTAppOperationAction>()},
  };
  for (const auto& kind : kinds) {
    const tw::Protocol* protocol = BTActionObjectUtil::protocolForActionObjectType(kind.type);
    ASSERT_TRUE(protocol) << kind.type;
    EXPECT_TRUE(protocol->includes(tw::protocolOf<BTActionObjectProtocol>())) << kind.type;
    for (const auto& other : kinds)
      EXPECT_EQ(protocol->isImplementedBy(*other.entity), &other == &kind)
          << kind.type << " on " << other.type;
  }
  EXPECT_EQ(BTActionObjectUtil::protocolForActionObjectType("BTActionObject"), nullptr);
  EXPECT_EQ(BTActionObjectUtil::protocolForActionObjectType("BTStateTrigger"), nullptr);

  // The proxy a builder hands out for one kind passes that kind's keys only.
  auto alert = std::dynamic_pointer_cast<BTDisplayAlertAction>(kinds[0].entity);
  alert->setAlertSoundType(2);
  auto proxy = BTProxy::proxyWithTarget(
      alert, BTActionObjectUtil::protocolForActionObjectType("BTDisplayAlertAction"));
  EXPECT_EQ(proxy->valueForKey("alertSoundType").integerValue(), 2);
  proxy->setValueForKey(tw::Value(true), "enabled");
  EXPECT_TRUE(alert->enabled());
  EXPECT_FALSE(tw::conformsTo<BTRepeatActionProtocol>(proxy));
  EXPECT_THROW(proxy->valueForKey("uuid"), tw::Exception);
}

}  // namespace
