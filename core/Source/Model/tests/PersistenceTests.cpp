// The stored model end to end: what a save writes comes back after the store is closed and
// opened again, relationships with it; what is transient does not.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>

#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTActionTriggerUtil.h"
#include "core/Source/Model/BTAlarm.h"
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
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimeTrigger.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Model/BTWeekdaySetting.h"
#include "core/testsupport/CoreStoreTest.h"
#include "platform/foundation/Exception.h"
#include "platform/store/Context.h"

namespace {

using tw::Date;

template <class T>
std::shared_ptr<T> only(tw::store::Context& context) {
  auto all = context.findAll<T>();
  EXPECT_EQ(all.size(), 1u) << "objects of the entity";
  return all.empty() ? nullptr : all.front();
}

std::shared_ptr<BTTimeSetting> setting(long d, long h, long m, long s) {
  auto time = managedObject<BTTimeSetting>();
  time->setDay(d);
  time->setHour(h);
  time->setMinute(m);
  time->setSecond(s);
  return time;
}

template <class A>
std::shared_ptr<A> addAction(const std::shared_ptr<BTTimeObject>& owner,
                             const std::shared_ptr<BTActionTrigger>& trigger, long order) {
  auto action = BTActionObject::actionObject<A>();
  action->setEnabled(true);
  action->setSortOrder(order);
  action->setTrigger(trigger);
  owner->addActionObject(action);
  return action;
}

std::shared_ptr<BTStateTrigger> stateTrigger(long from, long to) {
  auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
  trigger->setStateFrom(from);
  trigger->setStateTo(to);
  return trigger;
}

class PersistenceTest : public tw::test::CoreStoreTest {};

TEST_F(PersistenceTest, EveryEntityWithItsRelationshipsAndRunningStateSurvivesReopening) {
  auto timer = managedObject<BTTimer>();
  timer->setTitle("Tea");
  timer->setTime(setting(0, 0, 4, 30));
  timer->setTimingState(tw::kTimingStateRunning);
  timer->setFinishDate(Date{1'700'000'270.5});
  timer->setSortOrder(2);

  auto alarm = managedObject<BTAlarm>();
  alarm->setTitle("Wake");
  alarm->setTime(setting(0, 7, 30, 0));
  auto days = managedObject<BTWeekdaySetting>();
  days->setMonday(true);
  days->setFriday(true);
  alarm->setWeekdays(days);
  alarm->setTimingState(tw::kTimingStatePaused);

  auto stopwatch = managedObject<BTStopwatch>();
  stopwatch->setTitle("Run");
  stopwatch->setStartDate(Date{1'699'999'000.0});
  stopwatch->setPauseDate(Date{1'699'999'500.0});

  auto alert = addAction<BTDisplayAlertAction>(timer, stateTrigger(20, 21), 0);
  alert->setAlertSoundType(2);
  alert->setAlertCustomMessage("Ready");
  auto message = addAction<BTCustomMessageAction>(timer, stateTrigger(0, 20), 1);
  message->setCustomMessageMode(3);
  message->setCustomMessageValue("Steeping");
  auto timeTrigger = BTActionTrigger::actionTrigger<BTTimeTrigger>();
  timeTrigger->setTimeInterval(60.5);
  timeTrigger->setTimeCondition(10);
  auto flash = addAction<BTFlashScreenAction>(timer, timeTrigger, 2);
  flash->setScreenColorArgbValue(0xFF00FF00);
  auto link = addAction<BTLinkTimeObjectAction>(alarm, stateTrigger(20, 21), 0);
  link->setTargetTimeObject(stopwatch);
  link->setTargetAction(3);
  addAction<BTRepeatAction>(alarm, stateTrigger(20, 21), 1)->setEnabled(false);
  addAction<BTSystemEventAction>(alarm, stateTrigger(20, 21), 2)->setSystemEventType(4);
  addAction<BTFileOperationAction>(stopwatch, BTActionTrigger::actionTrigger<BTActionTrigger>(), 0)
      ->setFileFilepathValue("/tmp/ä report.pdf");
  auto app = addAction<BTAppOperationAction>(stopwatch, stateTrigger(0, 20), 1);
  app->setAppOperationType(2);
  app->setAppFilepathValue("/usr/share/applications/org.example.Editor.desktop");
  const std::string timerUuid = *timer->uuid();
  const Date timerCreated = *timer->creationDate();

  reopen();

  auto t = only<BTTimer>(context());
  ASSERT_TRUE(t);
  EXPECT_EQ(t->title(), "Tea");
  EXPECT_EQ(t->uuid(), timerUuid);
  EXPECT_EQ(t->creationDate(), timerCreated);
  EXPECT_EQ(t->timingState(), 20);
  EXPECT_TRUE(t->isRunning());
  EXPECT_EQ(t->finishDate(), Date{1'700'000'270.5});
  EXPECT_EQ(t->actualFinishDate(), Date{1'700'000'270.5});
  EXPECT_EQ(t->pauseDate(), std::nullopt);
  EXPECT_EQ(t->sortOrder(), 2);
  ASSERT_TRUE(t->time());
  EXPECT_EQ(t->time()->value(), 270.0);
  EXPECT_EQ(t->time()->timeObject(), t);
  ASSERT_EQ(t->actions().size(), 3u);
  auto ta = t->actions();
  std::sort(ta.begin(), ta.end(), [](auto& a, auto& b) { return a->sortOrder() < b->sortOrder(); });
  auto a0 = std::dynamic_pointer_cast<BTDisplayAlertAction>(ta[0]);
  ASSERT_TRUE(a0);
  EXPECT_EQ(a0->alertSoundType(), 2);
  EXPECT_EQ(a0->alertCustomMessage(), "Ready");
  EXPECT_TRUE(a0->enabled());
  EXPECT_EQ(a0->timeObject(), t);
  auto trig0 = std::dynamic_pointer_cast<BTStateTrigger>(a0->trigger());
  ASSERT_TRUE(trig0);
  EXPECT_EQ(trig0->stateFrom(), 20);
  EXPECT_EQ(trig0->stateTo(), 21);
  EXPECT_EQ(trig0->storedActionObject(), a0);
  auto a1 = std::dynamic_pointer_cast<BTCustomMessageAction>(ta[1]);
  ASSERT_TRUE(a1);
  EXPECT_EQ(a1->customMessageMode(), 3);
  EXPECT_EQ(a1->customMessageValue(), "Steeping");
  auto a2 = std::dynamic_pointer_cast<BTFlashScreenAction>(ta[2]);
  ASSERT_TRUE(a2);
  EXPECT_EQ(a2->screenColorArgbValue(), 0xFF00FF00LL);
  auto trig2 = std::dynamic_pointer_cast<BTTimeTrigger>(a2->trigger());
  ASSERT_TRUE(trig2);
  EXPECT_EQ(trig2->timeInterval(), 60.5);
  EXPECT_EQ(trig2->timeCondition(), 10);

  auto al = only<BTAlarm>(context());
  ASSERT_TRUE(al);
  EXPECT_EQ(al->timingState(), 10);
  EXPECT_EQ(al->time()->hour(), 7);
  EXPECT_EQ(al->time()->minute(), 30);
  ASSERT_TRUE(al->weekdays());
  EXPECT_EQ(al->weekdays()->flags(),
            (std::array<bool, 7>{false, true, false, false, false, true, false}));
  EXPECT_EQ(al->weekdays()->alarm(), al);
  EXPECT_EQ(al->actions().size(), 3u);

  auto sw = only<BTStopwatch>(context());
  ASSERT_TRUE(sw);
  EXPECT_EQ(sw->startDate(), Date{1'699'999'000.0});
  EXPECT_EQ(sw->pauseDate(), Date{1'699'999'500.0});
  ASSERT_EQ(sw->linkedActions().size(), 1u);
  auto l = sw->linkedActions().front();
  EXPECT_EQ(l->targetAction(), 3);
  EXPECT_EQ(l->targetTimeObject(), sw);
  EXPECT_EQ(l->timeObject(), al);

  auto file = only<BTFileOperationAction>(context());
  EXPECT_EQ(file->fileFilepathValue(), "/tmp/ä report.pdf");
  EXPECT_EQ(BTActionTriggerUtil::actionTriggerKindFromActionTrigger(file->trigger()), 0);
  auto appOp = only<BTAppOperationAction>(context());
  EXPECT_EQ(appOp->appOperationType(), 2);
  EXPECT_EQ(appOp->appFilepathValue(), "/usr/share/applications/org.example.Editor.desktop");
  EXPECT_EQ(only<BTSystemEventAction>(context())->systemEventType(), 4);
  EXPECT_FALSE(only<BTRepeatAction>(context())->enabled());
  EXPECT_EQ(context().findAll<BTActionObject>().size(), 8u);
  EXPECT_EQ(context().findAll<BTActionTrigger>().size(), 8u);
  EXPECT_FALSE(context().hasChanges());
}

TEST_F(PersistenceTest, TransientStateIsNotSavedAndIsNoChange) {
  auto alarm = managedObject<BTAlarm>();
  alarm->setTime(setting(0, 6, 0, 0));
  auto timer = managedObject<BTTimer>();
  auto trigger = stateTrigger(0, 20);
  auto timeTrigger = BTActionTrigger::actionTrigger<BTTimeTrigger>();
  addAction<BTRepeatAction>(timer, trigger, 0);
  addAction<BTRepeatAction>(timer, timeTrigger, 1);
  service_->save();
  ASSERT_FALSE(context().hasChanges());

  alarm->setFinishDate(Date{1'700'100'000.0});
  alarm->setTimingValue(42.0);
  trigger->setTriggered(true);
  trigger->setPreviousState(0);
  trigger->setCurrentState(20);
  timeTrigger->setMeetsTriggerPreCondition(true);
  EXPECT_FALSE(context().hasChanges());

  reopen();

  auto al = only<BTAlarm>(context());
  EXPECT_EQ(al->finishDate(), std::nullopt);
  EXPECT_EQ(al->timingValue(), 0.0);
  auto st = only<BTStateTrigger>(context());
  EXPECT_FALSE(st->isTriggered());
  // The reloaded trigger hears its time object's stored state at once; the pair starts afresh.
  EXPECT_EQ(st->previousState(), -1);
  EXPECT_EQ(st->currentState(), tw::kTimingStateReset);
  EXPECT_FALSE(only<BTTimeTrigger>(context())->meetsTriggerPreCondition());
}

TEST_F(PersistenceTest, FetchesHandOutTheSameInstanceForARow) {
  auto timer = managedObject<BTTimer>();
  timer->setTime(setting(0, 0, 1, 0));
  service_->save();
  auto fetched = context().findAll<BTTimeObject>();
  ASSERT_EQ(fetched.size(), 1u);
  EXPECT_EQ(fetched.front().get(), timer.get());
  EXPECT_EQ(context().findAll<BTTimer>().front(), timer);

  reopen();
  auto first = only<BTTimer>(context());
  auto again = context().findAllWithPredicate<BTTimeObject>(
      tw::store::Predicate::format("%K == %@", "uuid", *first->uuid()));
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again.front().get(), first.get());
  EXPECT_EQ(first->time()->timeObject().get(), first.get());
}

TEST_F(PersistenceTest, TypedSettersKeepBothSidesOfEveryRelationshipInStep) {
  auto a = managedObject<BTTimer>();
  auto b = managedObject<BTStopwatch>();
  auto action = BTActionObject::actionObject<BTLinkTimeObjectAction>();
  auto trigger = stateTrigger(20, 21);

  a->addActionObject(action);
  EXPECT_EQ(action->timeObject(), a);
  action->setTimeObject(b);  // moves it away from a
  EXPECT_TRUE(a->actions().empty());
  ASSERT_EQ(b->actions().size(), 1u);
  b->removeActionObject(action);
  EXPECT_EQ(action->timeObject(), nullptr);
  b->removeActionObject(action);  // absent: nothing happens
  EXPECT_TRUE(b->actions().empty());

  action->setTrigger(trigger);
  EXPECT_EQ(trigger->actionObject().get(), static_cast<BTActionObjectProtocol*>(action.get()));
  auto other = BTActionObject::actionObject<BTRepeatAction>();
  trigger->setActionObject(other);  // a trigger belongs to one action
  EXPECT_EQ(action->trigger(), nullptr);
  EXPECT_EQ(other->actionTrigger(), trigger);

  action->setTargetTimeObject(a);
  ASSERT_EQ(a->linkedActions().size(), 1u);
  action->setTargetTimeObject(b);
  EXPECT_TRUE(a->linkedActions().empty());
  EXPECT_EQ(b->linkedActions().size(), 1u);

  auto time = setting(0, 0, 0, 5);
  a->setTime(time);
  auto c = managedObject<BTTimer>();
  c->setTime(time);  // a setting belongs to one time object
  EXPECT_EQ(a->time(), nullptr);
  EXPECT_EQ(time->timeObject(), c);
}

TEST_F(PersistenceTest, DeleteRulesTakeOwnedObjectsAlongAndLetLinksGo) {
  auto alarm = managedObject<BTAlarm>();
  alarm->setTime(setting(0, 8, 0, 0));
  alarm->setWeekdays(managedObject<BTWeekdaySetting>());
  auto target = managedObject<BTTimer>();
  auto link = addAction<BTLinkTimeObjectAction>(alarm, stateTrigger(20, 21), 0);
  link->setTargetTimeObject(target);
  auto targetsOwn = addAction<BTRepeatAction>(target, stateTrigger(20, 21), 0);
  service_->save();

  deleteObject(target);
  EXPECT_EQ(link->targetTimeObject(), nullptr);
  EXPECT_FALSE(link->isDeleted());
  EXPECT_TRUE(targetsOwn->isDeleted());

  deleteObject(alarm);
  service_->save();
  EXPECT_TRUE(context().findAll<BTActionObject>().empty());
  EXPECT_TRUE(context().findAll<BTActionTrigger>().empty());
  EXPECT_TRUE(context().findAll<BTTimeSetting>().empty());
  EXPECT_TRUE(context().findAll<BTWeekdaySetting>().empty());
  reopen();
  EXPECT_TRUE(context().findAll<BTTimeObject>().empty());
  EXPECT_TRUE(context().findAll<BTActionTrigger>().empty());
}

TEST_F(PersistenceTest, ChangesAreCountedNet) {
  auto timer = managedObject<BTTimer>();
  timer->setTitle("Eggs");
  EXPECT_TRUE(context().hasChanges());
  service_->save();
  EXPECT_FALSE(context().hasChanges());

  timer->setTitle("Pasta");
  EXPECT_TRUE(context().hasChanges());
  timer->setTitle("Eggs");
  EXPECT_FALSE(context().hasChanges());

  timer->setTimingStateValue(20);  // silent, but still a change to save
  EXPECT_TRUE(context().hasChanges());
  timer->setTimingStateValue(0);
  EXPECT_FALSE(context().hasChanges());

  auto scratch = managedObject<BTStopwatch>();
  EXPECT_TRUE(context().hasChanges());
  deleteObject(scratch);
  EXPECT_FALSE(context().hasChanges());
}

TEST_F(PersistenceTest, FactoryWorksFromAWorkerThreadAndFailsClearlyWithoutAStore) {
  // The worker's result is read only after the flag says it is there: the main loop pumps while
  // the worker still writes it.
  std::shared_ptr<BTTimer> made;
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    made = managedObject<BTTimer>();
    finished.store(true, std::memory_order_release);
  });
  ASSERT_TRUE(tw::test::pumpMainUntil([&] { return finished.load(std::memory_order_acquire); }));
  worker.join();
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->managedObjectContext(), service_->objectContext());

  service_->cleanUp();
  try {
    managedObject<BTTimer>();
    FAIL() << "made an object without a store";
  } catch (const tw::Exception& e) {
    EXPECT_EQ(e.name(), tw::NSInternalInconsistencyException);
  }
  tw::setDefaultCoreDataProvider(nullptr);
  EXPECT_THROW(managedObject<BTTimer>(), tw::Exception);
  service_->setup();
}

}  // namespace
