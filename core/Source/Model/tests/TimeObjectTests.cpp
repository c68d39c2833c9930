// Time objects and their settings: what a new object holds, titles, running states, kinds,
// durations, ordering, and what observers hear when settings change.

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include "core/Source/Library/BTDateUtility.h"
#include "core/Source/Library/BTTime.h"
#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTRepeatAction.h"
#include "core/Source/Model/BTSortableUtil.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimeObjectUtil.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Model/BTWeekdaySetting.h"
#include "core/testsupport/CoreStoreTest.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"

namespace {

using tw::Date;

std::shared_ptr<BTTimeSetting> setting(long d, long h, long m, long s) {
  auto time = managedObject<BTTimeSetting>();
  time->setDay(d);
  time->setHour(h);
  time->setMinute(m);
  time->setSecond(s);
  return time;
}

class TimeObjectTest : public tw::test::CoreStoreTest {
 protected:
  tw::VirtualClock clock_{1'700'000'000.0};
};

TEST_F(TimeObjectTest, ANewObjectHasAFreshIdentityAndResetDefaults) {
  auto timer = managedObject<BTTimer>();
  auto other = managedObject<BTStopwatch>();
  ASSERT_TRUE(timer->uuid());
  const std::string uuid = timer->uuid().value_or("");
  ASSERT_EQ(uuid.size(), 36u);
  for (std::size_t i = 0; i < uuid.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23)
      EXPECT_EQ(uuid[i], '-') << uuid;
    else
      EXPECT_TRUE(std::isdigit(uuid[i]) || (uuid[i] >= 'A' && uuid[i] <= 'F')) << uuid;
  }
  EXPECT_NE(timer->uuid(), other->uuid());
  EXPECT_EQ(timer->creationDate(), Date{1'700'000'000.0});
  EXPECT_EQ(timer->timingState(), 0);
  EXPECT_EQ(timer->timingValue(), 0.0);
  EXPECT_EQ(timer->sortOrder(), LLONG_MAX);
  EXPECT_EQ(timer->title(), "Untitled");
  EXPECT_EQ(timer->stringForKey("title"), "Untitled");
}

TEST_F(TimeObjectTest, AnEmptyOrMissingTitleIsStoredAsUntitled) {
  auto alarm = managedObject<BTAlarm>();
  alarm->setTitle("Morning");
  EXPECT_EQ(alarm->title(), "Morning");
  alarm->setTitle("");
  EXPECT_EQ(alarm->title(), "Untitled");
  EXPECT_EQ(alarm->stringForKey("title"), "Untitled");
  alarm->setValueForKey("Gym", "title");
  EXPECT_EQ(alarm->valueForKey("title"), tw::Value("Gym"));
  alarm->setValueForKey(tw::Value(), "title");
  EXPECT_EQ(alarm->valueForKey("title"), tw::Value("Untitled"));
  EXPECT_THROW(alarm->setValueForKey(5, "title"), tw::Exception);
}

TEST_F(TimeObjectTest, RunningMeansRunningOrFinishedAndKindsFollowTheClass) {
  auto timer = managedObject<BTTimer>();
  const std::pair<long, bool> states[] = {{0, false}, {10, false}, {20, true}, {21, true}};
  for (auto [state, running] : states) {
    timer->setTimingState(state);
    EXPECT_EQ(timer->isRunning(), running) << "state " << state;
  }
  auto alarm = managedObject<BTAlarm>();
  auto stopwatch = managedObject<BTStopwatch>();
  EXPECT_TRUE(timer->isTimerType());
  EXPECT_FALSE(timer->isAlarmType() || timer->isStopwatchType());
  EXPECT_TRUE(alarm->isAlarmType());
  EXPECT_FALSE(alarm->isTimerType() || alarm->isStopwatchType());
  EXPECT_TRUE(stopwatch->isStopwatchType());
  EXPECT_FALSE(stopwatch->isTimerType() || stopwatch->isAlarmType());
}

TEST_F(TimeObjectTest, TimingStateSetterNotifiesAndTheValueSetterDoesNot) {
  auto timer = managedObject<BTTimer>();
  int heard = 0;
  auto observation = timer->observeScoped("timingState", tw::KVONew, [&](auto&) { ++heard; });
  timer->setTimingState(tw::kTimingStateRunning);
  EXPECT_EQ(heard, 1);
  timer->setTimingStateValue(10);
  EXPECT_EQ(heard, 1);
  EXPECT_EQ(timer->timingState(), 10);
}

TEST_F(TimeObjectTest, AddingAndRemovingActionsAreSetMutations) {
  auto timer = managedObject<BTTimer>();
  auto action = BTActionObject::actionObject<BTRepeatAction>();
  std::vector<tw::KeyValueChangeKind> kinds;
  auto observation = timer->observeScoped("actions", tw::KVONew, [&](const tw::KeyValueChange& c) {
    kinds.push_back(c.kind);
    ASSERT_EQ(c.changedObjects.size(), 1u);
    EXPECT_EQ(c.changedObjects[0].object().get(), static_cast<tw::Object*>(action.get()));
  });
  timer->addActionObject(action);
  timer->addActionObject(action);
  timer->removeActionObject(action);
  timer->removeActionObject(action);
  EXPECT_EQ(kinds, (std::vector<tw::KeyValueChangeKind>{tw::KeyValueChangeKind::Insertion,
                                                        tw::KeyValueChangeKind::Removal}));
}

TEST_F(TimeObjectTest, StoredNumbersBeyondWhatCanBeShownAreReadAtTheNearerEndAndLogged) {
  auto time = setting(1, 2, 3, 4);
  EXPECT_EQ(time->value(), 93784.0);
  EXPECT_EQ(time->valueForKey("value"), tw::Value(93784.0));

  tw::LogCapture log;
  int heard = 0;
  auto observation = time->observeScoped("value", tw::KVONew, [&](auto&) { ++heard; });
  time->setDay(std::numeric_limits<std::int64_t>::max());
  time->setHour(65536 + 1);
  time->setMinute(0);
  time->setSecond(std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(heard, 4);
  EXPECT_EQ(time->day(), 65535);
  EXPECT_EQ(time->hour(), 65535);
  EXPECT_EQ(time->second(), 0);
  EXPECT_EQ(time->value(), 65535.0 * 86400 + 65535.0 * 3600);
  EXPECT_EQ(time->int64ForKey("day"), std::numeric_limits<std::int64_t>::max()) << "kept stored";
  EXPECT_TRUE(log.contains("The stored hour of BTTimeSetting"));
  EXPECT_TRUE(log.contains("is 65537, beyond what can be shown: it is read as 65535"));

  auto timer = managedObject<BTTimer>();
  timer->setTimingValue(1e12);
  EXPECT_EQ(timer->timingValue(), kBTTimeLargestSeconds);
  timer->setTimingValue(std::nan(""));
  EXPECT_EQ(timer->timingValue(), 0.0);
  EXPECT_TRUE(log.contains("The stored timingValue of BTTimer"));
  const auto lines = log.lines().size();
  (void)time->day();
  EXPECT_EQ(log.lines().size(), lines) << "once per object and key";
}

TEST_F(TimeObjectTest, KindNamesByClassAndByObject) {
  EXPECT_EQ(BTTimeObjectUtil::timeObjectTypeName<BTTimeObject>(), std::nullopt);
  EXPECT_EQ(BTTimeObjectUtil::timeObjectTypeName<BTSettableTimeObject>(), std::nullopt);
  EXPECT_EQ(BTTimeObjectUtil::timeObjectTypeName<BTAlarm>(), "alarm");
  EXPECT_EQ(BTTimeObjectUtil::timeObjectTypeName<BTTimer>(), "timer");
  EXPECT_EQ(BTTimeObjectUtil::timeObjectTypeName<BTStopwatch>(), "stopwatch");
  EXPECT_EQ(BTTimeObjectUtil::timeObjectTypeName(*managedObject<BTStopwatch>()), "stopwatch");
  EXPECT_EQ(BTTimeObjectUtil::timeObjectTypeName(*managedObject<BTTimeObject>()), std::nullopt);
}

TEST_F(TimeObjectTest, ReorderingNumbersTheListFromZeroWhateverTheIndices) {
  std::vector<std::shared_ptr<BTTimeObject>> list = {
      managedObject<BTTimer>(), managedObject<BTTimer>(), managedObject<BTTimer>()};
  list[1]->setSortOrder(7);
  BTSortableUtil::reorderSortableObjects(list, 2, 0);
  for (std::size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i]->sortOrder(), (long)i);
  std::swap(list[0], list[2]);
  BTSortableUtil::reorderSortableObjects(list, -5, 99);
  for (std::size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i]->sortOrder(), (long)i);
}

TEST_F(TimeObjectTest, AResetTimerShowsItsDurationAndARunningOneDoesNotFollowEdits) {
  auto timer = managedObject<BTTimer>();
  EXPECT_EQ(timer->timingValue(), 0.0);
  auto time = setting(0, 0, 5, 0);
  timer->setTime(time);
  EXPECT_EQ(timer->timingValue(), 300.0);
  time->setMinute(10);
  EXPECT_EQ(timer->timingValue(), 600.0);
  timer->setTime(setting(0, 1, 0, 0));  // a new setting is followed too
  EXPECT_EQ(timer->timingValue(), 3600.0);
  time->setMinute(1);  // the old one no longer is
  EXPECT_EQ(timer->timingValue(), 3600.0);

  timer->setTimingState(tw::kTimingStateRunning);
  timer->setTimingValue(1234.0);
  timer->time()->setHour(2);
  EXPECT_EQ(timer->timingValue(), 1234.0);

  auto resetOne = managedObject<BTTimer>();
  resetOne->setTime(setting(0, 0, 0, 45));
  reopen();
  for (auto& t : context().findAll<BTTimer>()) {
    if (t->timingState() == 20) {
      EXPECT_EQ(t->timingValue(), 0.0);
      t->time()->setHour(3);
      EXPECT_EQ(t->timingValue(), 0.0);
    } else {
      EXPECT_EQ(t->timingValue(), 45.0);
      t->time()->setSecond(50);
      EXPECT_EQ(t->timingValue(), 50.0);
    }
  }
}

TEST_F(TimeObjectTest, ATimerWatchingItsSettingIsFreedWithItsStore) {
  std::weak_ptr<BTTimer> weakTimer;
  std::weak_ptr<BTTimeSetting> weakSetting;
  {
    auto timer = managedObject<BTTimer>();
    timer->setTime(setting(0, 0, 0, 10));
    const auto watching = timer->observationCount();
    timer->initialize();  // a second watch replaces the first
    EXPECT_EQ(timer->observationCount(), watching);
    weakTimer = timer;
    weakSetting = timer->time();
  }
  service_->cleanUp();
  EXPECT_TRUE(weakTimer.expired());
  EXPECT_TRUE(weakSetting.expired());
  service_->setup();
}

TEST_F(TimeObjectTest, ComputedFinishDateIsHeardWhenTheTimeOrItsFieldsChange) {
  auto timer = managedObject<BTTimer>();
  std::vector<tw::Value> heard;
  auto observation =
      timer->observeScoped("computedFinishDate", tw::KVONew,
                           [&](const tw::KeyValueChange& c) { heard.push_back(c.newValue); });
  auto time = setting(0, 0, 2, 0);
  timer->setTime(time);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard.back(), tw::Value(Date{1'700'000'120.0}));
  time->setSecond(30);
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard.back(), tw::Value(Date{1'700'000'150.0}));
  timer->setTime(nullptr);
  ASSERT_EQ(heard.size(), 3u);
  EXPECT_EQ(heard.back(), tw::Value(Date{1'700'000'000.0}));
  timer->setTime(time);
  clock_.advance(10);
  EXPECT_EQ(timer->computedFinishDate(), Date{1'700'000'160.0});
  EXPECT_EQ(timer->actualFinishDate(), std::nullopt);
}

TEST_F(TimeObjectTest, AlarmRingsAtTheNextChosenDayAndIsHeardWhenItsSettingsChange) {
  BTDateUtility::resetTimeZoneForTesting("UTC");
  const double wednesday = 1'700'006'400.0;  // 2023-11-15 00:00 UTC
  clock_.setWall(wednesday + 8 * 3600);
  auto alarm = managedObject<BTAlarm>();
  alarm->setTime(setting(0, 7, 30, 0));
  EXPECT_EQ(alarm->computedFinishDate(), Date{wednesday + 86400 + 27000});  // none set: tomorrow

  auto days = managedObject<BTWeekdaySetting>();
  days->setSaturday(true);
  int heard = 0;
  auto observation =
      alarm->observeScoped("computedFinishDate", tw::KVONew, [&](auto&) { ++heard; });
  int before = heard;
  auto expectHeard = [&](const char* step, int times = 1) {
    EXPECT_EQ(heard, before + times) << step;
    before = heard;
  };
  alarm->setWeekdays(days);
  expectHeard("weekdays");
  EXPECT_EQ(alarm->computedFinishDate(), Date{wednesday + 3 * 86400 + 27000});
  days->setAllWeekdays();
  expectHeard("all weekdays", 7);
  EXPECT_TRUE(days->sunday() && days->monday() && days->tuesday() && days->wednesday() &&
              days->thursday() && days->friday() && days->saturday());
  EXPECT_EQ(alarm->computedFinishDate(), Date{wednesday + 86400 + 27000});
  alarm->time()->setHour(9);
  expectHeard("hour");
  EXPECT_EQ(alarm->computedFinishDate(), Date{wednesday + 9 * 3600 + 1800});
  days->unsetAllWeekdays();
  expectHeard("no weekdays", 7);
  EXPECT_EQ(days->flags(), (std::array<bool, 7>{}));
  alarm->setTime(setting(0, 6, 0, 0));
  expectHeard("time");
  BTDateUtility::resetTimeZoneForTesting(nullptr);
}

TEST_F(TimeObjectTest, TheSettableBaseHasNoFinishDateOfItsOwn) {
  auto base = std::make_shared<BTSettableTimeObject>();
  try {
    base->computedFinishDate();
    FAIL() << "the base answered";
  } catch (const tw::Exception& e) {
    EXPECT_EQ(e.name(), tw::NSInvalidArgumentException);
    EXPECT_NE(e.reason().find("computedFinishDate]: unrecognized selector sent to instance"),
              std::string::npos)
        << e.reason();
  }
  EXPECT_THROW(base->actualFinishDate(), tw::Exception);
}

}  // namespace
