#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/Source/Library/BTMeridiemUtil.h"
#include "core/Source/Library/BTTime.h"
#include "core/Source/Library/BTTimestamp.h"
#include "platform/foundation/Clock.h"

namespace {

TEST(TimeRecord, NegativeSecondsKeepMagnitudeAndSign) {
  BTTime t = BTTimeMakeWithSeconds(-90.5);
  EXPECT_EQ(t.sign, 1);
  EXPECT_EQ(t.day, 0);
  EXPECT_EQ(t.hour, 0);
  EXPECT_EQ(t.minute, 1);
  EXPECT_EQ(t.second, 30);
  EXPECT_EQ(t.millisecond, 500);
  EXPECT_DOUBLE_EQ(BTTimeToSeconds(&t), -90.5);
}

TEST(TimeRecord, SplitsDaysHoursMinutesSeconds) {
  BTTime t = BTTimeMakeWithSeconds(86400 * 2 + 3661);
  EXPECT_EQ(t.sign, 0);
  EXPECT_EQ(t.day, 2);
  EXPECT_EQ(t.hour, 1);
  EXPECT_EQ(t.minute, 1);
  EXPECT_EQ(t.second, 1);
  EXPECT_DOUBLE_EQ(BTTimeToSeconds(&t), 86400 * 2 + 3661);
}

TEST(TimeRecord, MakeDoesNotNormalise) {
  BTTime t = BTTimeMake(0, 0, 75, 0, 0);
  EXPECT_EQ(t.minute, 75);
  EXPECT_DOUBLE_EQ(BTTimeToSeconds(&t), 75 * 60);
}

TEST(TimeRecord, UpdatingANegativeRecordWithAPositiveValueReadsPositive) {
  BTTime t = BTTimeMakeWithSeconds(-10);
  BTTimeUpdateWithSeconds(&t, 5);
  EXPECT_EQ(t.sign, 0);
  EXPECT_DOUBLE_EQ(BTTimeToSeconds(&t), 5);
  BTTimeUpdateWithSeconds(&t, -3);
  EXPECT_DOUBLE_EQ(BTTimeToSeconds(&t), -3);
}

TEST(TimeRecord, NonFiniteAndHugeInputsAreClampedNotUndefined) {
  BTTime nan = BTTimeMakeWithSeconds(std::numeric_limits<double>::quiet_NaN());
  EXPECT_DOUBLE_EQ(BTTimeToSeconds(&nan), 0);
  BTTime inf = BTTimeMakeWithSeconds(-std::numeric_limits<double>::infinity());
  EXPECT_EQ(inf.sign, 1);
  EXPECT_LT(inf.hour, 24);
  EXPECT_LT(inf.minute, 60);
  EXPECT_LT(inf.second, 60);
  EXPECT_LT(inf.millisecond, 1000);
  BTTime huge = BTTimeMakeWithSeconds(1e300);
  EXPECT_LT(huge.hour, 24);
  EXPECT_LT(huge.millisecond, 1000);
}

TEST(TimeRecord, DurationsBeyondSixteenBitsOfDaysStopAtTheLongestTheRecordHolds) {
  for (double seconds : {86400.0 * 65537, 1e12, -1e12}) {
    BTTime t = BTTimeMakeWithSeconds(seconds);
    EXPECT_EQ(BTTimeToSeconds(&t), seconds < 0 ? -kBTTimeLargestSeconds : kBTTimeLargestSeconds);
    EXPECT_EQ(BTGetSimpleTimeString(t.day, t.hour, t.minute, t.second, false), "65535:23:59:59");
  }
}

TEST(TimeRecord, NullRecordIsHarmless) {
  BTTimeUpdateWithSeconds(nullptr, 3);
  EXPECT_DOUBLE_EQ(BTTimeToSeconds(nullptr), 0);
}

TEST(SimpleTimeString, LargestUnitPlainSmallerUnitsTwoPlaces) {
  EXPECT_EQ(BTGetSimpleTimeString(0, 1, 5, 3, false), "1:05:03");
  EXPECT_EQ(BTGetSimpleTimeString(0, 0, 0, 7, false), "7");
  EXPECT_EQ(BTGetSimpleTimeString(2, 0, 0, 0, false), "2:00:00:00");
  EXPECT_EQ(BTGetSimpleTimeString(0, 0, 1, 0, false), "1:00");
  EXPECT_EQ(BTGetSimpleTimeString(0, 0, 12, 30, false), "12:30");
}

TEST(SimpleTimeString, UnitWordsAndPlurals) {
  EXPECT_EQ(BTGetSimpleTimeString(0, 0, 1, 1, true), "1:01 minutes");
  EXPECT_EQ(BTGetSimpleTimeString(0, 0, 0, 0, true), "0 seconds");
  EXPECT_EQ(BTGetSimpleTimeString(0, 0, 0, 1, true), "1 second");
  EXPECT_EQ(BTGetSimpleTimeString(0, 1, 5, 3, true), "1:05:03 hours");
  EXPECT_EQ(BTGetSimpleTimeString(0, 0, 2, 0, true), "2:00 minutes");
}

TEST(SimpleTimeString, ExactlyOneWholeUnitWithWordReadsAsNumberAlone) {
  EXPECT_EQ(BTGetSimpleTimeString(0, 0, 1, 0, true), "1 minute");
  EXPECT_EQ(BTGetSimpleTimeString(0, 1, 0, 0, true), "1 hour");
  EXPECT_EQ(BTGetSimpleTimeString(1, 0, 0, 0, true), "1 day");
}

TEST(SimpleTimeString, NonPositiveValuesCountAsAbsentForTheLargestUnit) {
  EXPECT_EQ(BTGetSimpleTimeString(-1, 0, 0, 5, false), "5");
  EXPECT_EQ(BTGetSimpleTimeString(0, 0, 1, -1, true), "1 minute");
}

TEST(SimpleTimeString, NumericAndUnitParts) {
  EXPECT_EQ(BTGetNumericValue(5, BTTimeUnitMinute, BTTimeUnitHour), "05");
  EXPECT_EQ(BTGetNumericValue(5, BTTimeUnitHour, BTTimeUnitHour), "5");
  EXPECT_EQ(BTGetUnitValue(BTTimeUnitDay, true), "days");
  EXPECT_EQ(BTGetUnitValue(BTTimeUnitSecond, false), "second");
  EXPECT_EQ(BTGetUnitValue(9, false), "");
}

TEST(Meridiem, StandardAndMilitaryHours) {
  EXPECT_EQ(BTMeridiemUtil::militaryHourFromStandardHour(12, BTMeridiemAM), 0u);
  EXPECT_EQ(BTMeridiemUtil::militaryHourFromStandardHour(12, BTMeridiemPM), 12u);
  EXPECT_EQ(BTMeridiemUtil::militaryHourFromStandardHour(1, BTMeridiemPM), 13u);
  EXPECT_EQ(BTMeridiemUtil::militaryHourFromStandardHour(0, BTMeridiemAM), 1u);
  EXPECT_EQ(BTMeridiemUtil::militaryHourFromStandardHour(40, BTMeridiemPM), 12u);
  EXPECT_EQ(BTMeridiemUtil::militaryHourFromStandardHour(5, 7), 0u);
  EXPECT_EQ(BTMeridiemUtil::standardHourFromMilitaryHour(0), 12u);
  EXPECT_EQ(BTMeridiemUtil::standardHourFromMilitaryHour(23), 11u);
  EXPECT_EQ(BTMeridiemUtil::standardHourFromMilitaryHour(12), 12u);
  EXPECT_EQ(BTMeridiemUtil::standardHourFromMilitaryHour(99), 11u);
  EXPECT_EQ(BTMeridiemUtil::meridiemFromMilitaryHour(11), 0u);
  EXPECT_EQ(BTMeridiemUtil::meridiemFromMilitaryHour(12), 1u);
  EXPECT_EQ(BTMeridiemUtil::militaryHourFromMilitaryHour(9, BTMeridiemPM), 21u);
  EXPECT_EQ(BTMeridiemUtil::militaryHourFromMilitaryHour(21, BTMeridiemAM), 9u);
  EXPECT_EQ(BTMeridiemUtil::militaryHourFromMilitaryHour(0, BTMeridiemPM), 12u);
}

TEST(Meridiem, Descriptions) {
  EXPECT_EQ(BTMeridiemUtil::meridiemDescription(0), "AM");
  EXPECT_EQ(BTMeridiemUtil::meridiemDescription(1), "PM");
  EXPECT_EQ(BTMeridiemUtil::meridiemDescription(2), std::nullopt);
}

TEST(WallClock, FollowsTheInstalledVirtualClock) {
  tw::VirtualClock clock(1'000'000.25);
  EXPECT_DOUBLE_EQ(BTGetSecondsSince1970(), 1'000'000.25);
  auto stamp = BTTimestamp::timestampWithValue(1'000'010.25);
  EXPECT_DOUBLE_EQ(stamp->timeIntervalSinceNow(), 10);
  clock.advance(4);
  EXPECT_DOUBLE_EQ(stamp->timeIntervalSinceNow(), 6);
  EXPECT_DOUBLE_EQ(BTTimestamp::now()->value(), 1'000'004.25);
}

}  // namespace
