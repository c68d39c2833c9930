// The rows of the master list (texts and colours by kind and state, the alarm's day text over
// midnight and the week's end), the link-target menu, and the timing display's value feed.

#include <gtest/gtest.h>

#include "core/Source/Library/BTDateUtility.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTWeekdaySetting.h"
#include "core/Source/Services/DataServiceBundle/BTAllTimeObjectsDataProvider.h"
#include "core/Source/ViewModels/BTAlarmListItemViewModel.h"
#include "core/Source/ViewModels/BTStopwatchListItemViewModel.h"
#include "core/Source/ViewModels/BTTimeObjectListItemViewModel.h"
#include "core/Source/ViewModels/BTTimeObjectListViewModel.h"
#include "core/Source/ViewModels/BTTimeObjectTimingDisplayViewModel.h"
#include "core/Source/ViewModels/BTTimerListItemViewModel.h"
#include "core/Source/ViewModels/BTTimerTimingDisplayViewModel.h"
#include "core/testsupport/ViewModelTestSupport.h"

namespace {

using Row = BTTimeObjectListItemViewModel;

class RowTest : public tw::test::ViewModelTest {
 protected:
  void SetUp() override {
    BTDateUtility::resetTimeZoneForTesting("UTC");
    ViewModelTest::SetUp();
  }
  void TearDown() override {
    ViewModelTest::TearDown();
    BTDateUtility::resetTimeZoneForTesting(nullptr);
  }
  // Sets the time setting as the editors do: one announced change of "time".
  static void setTime(const std::shared_ptr<BTTimeObject>& object, int h, int m, int s) {
    auto time = std::dynamic_pointer_cast<BTSettableTimeObject>(object)->time();
    object->willChangeValueForKey("time");
    time->setHour(h);
    time->setMinute(m);
    time->setSecond(s);
    object->didChangeValueForKey("time");
  }
  static void setWeekdays(const std::shared_ptr<BTAlarm>& alarm, int mask) {
    alarm->willChangeValueForKey("weekdays");
    auto days = alarm->weekdays();
    for (int i = 0; i < 7; ++i)
      days->setValueForKey((mask >> i) & 1, BTWeekdaySetting::weekdayKeys()[i]);
    alarm->didChangeValueForKey("weekdays");
  }
};

TEST(RowTexts, RunningValuesAcrossUnitBoundaries) {
  const std::pair<double, const char*> cases[] = {
      {59, "00:59"},       {60, "01:00"},         {3599, "59:59"}, {3600, "1:00:00"},
      {86399, "23:59:59"}, {86400, "1:00:00:00"}, {-5, "00:00"},   {59.9, "00:59"}};
  for (const auto& [seconds, text] : cases)
    EXPECT_EQ(Row::runningValueText(seconds), text) << seconds;
}

TEST_F(RowTest, TimerRowShowsItsSetValueWhileResetAndItsRunningValueOtherwise) {
  auto timer = makeObjects(1, 1)[0];
  setTime(timer, 0, 1, 30);
  auto row = Row::create<BTTimerListItemViewModel>(timer);
  EXPECT_EQ(row->staticValueDescription(), "1:30");
  EXPECT_EQ(row->dynamicValueDescription(), "1:30");
  EXPECT_TRUE(row->isDynamicValueDescriptionHidden());
  EXPECT_EQ(row->stateColorName(), "OverlayDark30");

  int heard = 0;
  auto observation = row->observeScoped("dynamicValueDescription", tw::KVONew,
                                        [&](const tw::KeyValueChange&) { ++heard; });
  timer->setTimingState(20);
  timer->setTimingValue(59);
  EXPECT_EQ(row->dynamicValueDescription(), "00:59");
  EXPECT_FALSE(row->isDynamicValueDescriptionHidden());
  EXPECT_EQ(row->stateColorName(), "TimingStateGreen");
  EXPECT_EQ(row->stateColor(), BTColorNamed("TimingStateGreen"));
  EXPECT_GE(heard, 2);
  timer->setTimingValue(3600);
  EXPECT_EQ(row->dynamicValueDescription(), "1:00:00");
  timer->setTimingState(10);
  EXPECT_EQ(row->stateColorName(), "TimingStateYellow");
  timer->setTimingState(21);
  EXPECT_EQ(row->stateColorName(), "OverlayDark30");
  setTime(timer, 2, 0, 0);
  EXPECT_EQ(row->staticValueDescription(), "2:00:00");
}

TEST_F(RowTest, StopwatchRowsAreRedWhenPausedAndHaveNoStaticText) {
  auto stopwatch = makeObjects(2, 1)[0];
  auto row = Row::create<BTStopwatchListItemViewModel>(stopwatch);
  EXPECT_EQ(row->staticValueDescription(), "");
  EXPECT_EQ(row->dynamicValueDescription(), "");
  stopwatch->setTimingState(10);
  EXPECT_EQ(row->stateColorName(), "TimingStateRed");
  stopwatch->setTimingState(20);
  EXPECT_EQ(row->stateColorName(), "TimingStateGreen");
}

TEST_F(RowTest, AlarmTextFollowsThe24HourSetting) {
  auto alarm = makeObjects(0, 1)[0];
  setTime(alarm, 0, 15, 0);
  settings_->generalBundle()->setUseMilitaryTime(false);
  auto row = Row::create<BTAlarmListItemViewModel>(alarm);
  EXPECT_EQ(row->staticValueDescription(), "12:15 AM");
  settings_->generalBundle()->setUseMilitaryTime(true);
  EXPECT_EQ(row->staticValueDescription(), "00:15");
  setTime(alarm, 19, 5, 0);
  EXPECT_EQ(row->staticValueDescription(), "19:05");
  settings_->generalBundle()->setUseMilitaryTime(false);
  EXPECT_EQ(row->staticValueDescription(), "7:05 PM");
  setTime(alarm, 12, 30, 0);
  EXPECT_EQ(row->staticValueDescription(), "12:30 PM");
}

// Starts Tuesday 2023-11-14 22:13:20 UTC.
TEST_F(RowTest, AlarmDayTextMovesWithTheClockAtMidnightAndAtItsMoment) {
  auto alarm = std::dynamic_pointer_cast<BTAlarm>(makeObjects(0, 1)[0]);
  setTime(alarm, 23, 0, 0);
  auto row = Row::create<BTAlarmListItemViewModel>(alarm);
  EXPECT_EQ(row->weekdayDescription(), "Today");
  advance(47 * 60 + 2);  // 23:00:02: it rang, next is tomorrow
  EXPECT_EQ(row->weekdayDescription(), "Tomorrow");
  advance(60 * 60);  // past midnight, Wednesday
  EXPECT_EQ(row->weekdayDescription(), "Today");

  setWeekdays(alarm, 1 << 5);  // Friday
  EXPECT_EQ(row->weekdayDescription(), "Friday");
  setWeekdays(alarm, 1 << 4);  // Thursday
  EXPECT_EQ(row->weekdayDescription(), "Tomorrow");
  advance(3 * 86400);          // Saturday
  setWeekdays(alarm, 1 << 0);  // Sunday, across the week's end
  EXPECT_EQ(row->weekdayDescription(), "Tomorrow");
  setWeekdays(alarm, 1 << 1);  // Monday
  EXPECT_EQ(row->weekdayDescription(), "Monday");
}

TEST_F(RowTest, LinkTargetMenuGroupsByKindAndLeavesOutTheExcluded) {
  auto all =
      assembly_->componentFor<BTAllTimeObjectsDataProvider>(assembly_->anyTimeObjectDataProvider());
  auto timers = makeObjects(1, 2);
  BTTimeObjectListViewModel list(all);
  bool loaded = false;
  list.runOnMainQueue([&](const BFTaskPtr&) { loaded = true; });
  pump();
  ASSERT_TRUE(loaded);
  auto items = list.timeObjectMenuItems();
  ASSERT_EQ(items.size(), 2u) << "timers only: no separator";
  EXPECT_EQ(items[0].title, "0");
  EXPECT_EQ(items[0].representedObject.objectAs<BTTimeObject>(), timers[0]);

  makeObjects(0, 1);
  makeObjects(2, 1);
  list.setExcludedTimeObjectUUIDs({*timers[0]->uuid(), *timers[1]->uuid()});
  items = list.timeObjectMenuItems();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_FALSE(items[0].separator);
  EXPECT_TRUE(items[1].separator);
  EXPECT_FALSE(items[2].separator);
  EXPECT_TRUE(list.timerObjects().empty());
}

TEST_F(RowTest, TimingDisplayFeedsTheValueUntilTheShownObjectChanges) {
  auto timer = makeObjects(1, 1)[0];
  setTime(timer, 0, 2, 0);
  auto display = BTTimeObjectTimingDisplayViewModel::create<BTTimerTimingDisplayViewModel>(timer);
  setTime(timer, 0, 3, 0);  // before any handler: only the last value is held
  std::vector<double> values;
  display->setTimingValueUpdatedHandler([&](double v) { values.push_back(v); });
  EXPECT_EQ(values, std::vector<double>{180});
  setTime(timer, 0, 4, 0);
  EXPECT_EQ(values.back(), 240) << "an edited reset timer shows its new duration";
  timer->setTimingState(20);
  timer->setTimingValue(239);
  EXPECT_EQ(values.back(), 239);

  auto stopwatch = makeObjects(2, 1)[0];
  auto other = BTTimeObjectTimingDisplayViewModel::create(stopwatch);
  display.reset();  // the display shows another object now
  const auto count = values.size();
  timer->setTimingValue(200);
  EXPECT_EQ(values.size(), count);
  std::vector<double> stopwatchValues;
  other->setTimingValueUpdatedHandler([&](double v) { stopwatchValues.push_back(v); });
  stopwatch->setTimingValue(1.5);
  EXPECT_EQ(stopwatchValues, (std::vector<double>{0.0, 1.5}));
}

}  // namespace
