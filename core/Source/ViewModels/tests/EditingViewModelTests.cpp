// The value editors: what typed text becomes in a duration or an alarm time (clamps, 12-hour
// forms, meridiem switches), weekday flags, one announcement per edit, editing only while reset,
// and the 24-hour setting changing while the editor is open.

#include <gtest/gtest.h>

#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTWeekdaySetting.h"
#include "core/Source/ViewModels/BTAlarmListItemEditingViewModel.h"
#include "core/Source/ViewModels/BTTimeObjectListItemEditingViewModel.h"
#include "core/testsupport/ViewModelTestSupport.h"

namespace {

using Editing = BTTimeObjectListItemEditingViewModel;

class EditingTest : public tw::test::ViewModelTest {
 protected:
  static std::shared_ptr<BTTimeSetting> timeOf(const std::shared_ptr<BTTimeObject>& object) {
    return std::dynamic_pointer_cast<BTSettableTimeObject>(object)->time();
  }
};

TEST(TextFieldIntegers, ReadLikeThePlatformAndNeverThrow) {
  const std::pair<const char*, std::int64_t> cases[] = {{"7x", 7},
                                                        {"", 0},
                                                        {"abc", 0},
                                                        {"  42", 42},
                                                        {"-3", -3},
                                                        {"+5", 5},
                                                        {"99999999999999999999", INT64_MAX}};
  for (const auto& [text, value] : cases)
    EXPECT_EQ(Editing::integerValueOfText(text), value) << text;
}

TEST_F(EditingTest, DurationComponentsAreClampedAndAnnouncedOnceAsTheTime) {
  auto timer = makeObjects(1, 1)[0];
  auto editing = Editing::create(timer);
  int timeChanges = 0, dayChanges = 0;
  auto timeObservation = editing->observeScoped("timeObject.time", tw::KVONew,
                                                [&](const tw::KeyValueChange&) { ++timeChanges; });
  auto dayObservation = editing->observeScoped("daySetting", tw::KVONew,
                                               [&](const tw::KeyValueChange&) { ++dayChanges; });

  editing->setDaySetting("400");
  EXPECT_EQ(timeOf(timer)->day(), 364);
  EXPECT_EQ(editing->daySetting(), "364");
  EXPECT_EQ(timeChanges, 1);
  EXPECT_GE(dayChanges, 1);
  editing->setHourSetting("-4");
  EXPECT_EQ(editing->hourSetting(), "00");
  editing->setMinuteSetting("75");
  EXPECT_EQ(timeOf(timer)->minute(), 59);
  editing->setSecondSetting("5 s");
  EXPECT_EQ(editing->secondSetting(), "05");
  editing->setValueForKey("letters", "minuteSetting");
  EXPECT_EQ(timeOf(timer)->minute(), 0);
  EXPECT_EQ(timeChanges, 5);
  EXPECT_FALSE(editing->isDayControlHidden() || editing->isSecondControlHidden());
}

TEST_F(EditingTest, EditingIsEnabledOnlyWhileReset) {
  auto timer = makeObjects(1, 1)[0];
  auto editing = Editing::create(timer);
  EXPECT_TRUE(editing->isEditingEnabled());
  for (std::int64_t state : {20, 10, 21}) {
    timer->setTimingState(state);
    EXPECT_FALSE(editing->isEditingEnabled()) << state;
  }
  timer->setTimingState(0);
  EXPECT_TRUE(editing->isEditingEnabled());
}

TEST_F(EditingTest, AlarmHoursIn12HourFormFollowTheMeridiem) {
  settings_->generalBundle()->setUseMilitaryTime(false);
  auto alarm = makeObjects(0, 1)[0];
  auto editing = Editing::create<BTAlarmListItemEditingViewModel>(alarm);
  EXPECT_TRUE(editing->isDayControlHidden());
  EXPECT_TRUE(editing->isSecondControlHidden());
  EXPECT_FALSE(editing->isMeridiemControlHidden());
  EXPECT_EQ(editing->hourSettingMinimum(), 1);
  EXPECT_EQ(editing->hourSettingMaximum(), 12);

  timeOf(alarm)->setHour(9);
  timeOf(alarm)->setMinute(30);
  EXPECT_EQ(editing->hourSetting(), "9");
  editing->setMeridiemSetting(1);
  EXPECT_EQ(timeOf(alarm)->hour(), 21);
  EXPECT_EQ(editing->meridiemSetting(), 1);
  editing->setHourSetting("12");
  EXPECT_EQ(timeOf(alarm)->hour(), 12) << "noon";
  editing->setMeridiemSetting(0);
  EXPECT_EQ(timeOf(alarm)->hour(), 0);
  editing->setHourSetting("12");
  EXPECT_EQ(timeOf(alarm)->hour(), 0) << "midnight";
  editing->setHourSetting("0");
  EXPECT_EQ(timeOf(alarm)->hour(), 1);
  timeOf(alarm)->setHour(21);
  editing->setMeridiemSetting(0);
  EXPECT_EQ(timeOf(alarm)->hour(), 9);

  settings_->generalBundle()->setUseMilitaryTime(true);
  EXPECT_EQ(editing->hourSetting(), "09");
  editing->setHourSetting("30");
  EXPECT_EQ(timeOf(alarm)->hour(), 23);
  EXPECT_EQ(editing->hourSettingMinimum(), 0);
  EXPECT_EQ(editing->hourSettingMaximum(), 23);
}

TEST_F(EditingTest, WeekdaysAreWrittenAndAnnouncedAsTheAlarmsWeekdays) {
  auto alarm = std::dynamic_pointer_cast<BTAlarm>(makeObjects(0, 1)[0]);
  alarm->weekdays()->unsetAllWeekdays();
  auto editing = Editing::create<BTAlarmListItemEditingViewModel>(alarm);
  int changes = 0;
  auto observation =
      alarm->observeScoped("weekdays", tw::KVONew, [&](const tw::KeyValueChange&) { ++changes; });
  editing->setFridaySetting(true);
  editing->setSundaySetting(true);
  editing->setValueForKey(true, "mondaySetting");
  EXPECT_TRUE(alarm->weekdays()->friday());
  EXPECT_TRUE(editing->sundaySetting());
  EXPECT_TRUE(editing->mondaySetting());
  EXPECT_FALSE(editing->saturdaySetting());
  EXPECT_EQ(alarm->weekdays()->weekdayMask(), 0b0100011);
  EXPECT_EQ(changes, 3);
  editing->setFridaySetting(false);
  EXPECT_FALSE(alarm->weekdays()->friday());
}

TEST_F(EditingTest, The24HourSettingChangingWhileOpenReannouncesOnlyTheMeridiemControl) {
  settings_->generalBundle()->setUseMilitaryTime(false);
  auto alarm = makeObjects(0, 1)[0];
  auto editing = Editing::create<BTAlarmListItemEditingViewModel>(alarm);
  int heard = 0;
  auto observation = editing->observeScoped("meridiemControlHidden", tw::KVONew,
                                            [&](const tw::KeyValueChange&) { ++heard; });
  settings_->generalBundle()->setUseMilitaryTime(true);
  settings_->generalBundle()->notifySettingsChangedWithKeys("useMilitaryTime", nullptr);
  pump();
  EXPECT_EQ(heard, 1);
  EXPECT_TRUE(editing->isMeridiemControlHidden());
  settings_->generalBundle()->notifySettingsChangedWithKeys("animationsDisabled", nullptr);
  pump();
  EXPECT_EQ(heard, 1);

  std::weak_ptr<BTAlarmListItemEditingViewModel> weak = editing;
  editing.reset();
  EXPECT_TRUE(weak.expired());
  settings_->generalBundle()->notifySettingsChangedWithKeys("useMilitaryTime", nullptr);
  pump();
}

}  // namespace
