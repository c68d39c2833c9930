#include <gtest/gtest.h>

#include <ctime>

#include "core/Source/Library/BTAlarmSchedule.h"
#include "core/Source/Library/BTDateUtility.h"
#include "platform/foundation/Clock.h"

namespace {

// A moment given in UTC, worked out without the code under test.
tw::Date utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return tw::Date{static_cast<double>(timegm(&tm))};
}

constexpr bool kEveryDay[7] = {true, true, true, true, true, true, true};
constexpr bool kNoDay[7] = {};
constexpr bool kWednesday[7] = {false, false, false, true, false, false, false};
constexpr bool kSaturday[7] = {false, false, false, false, false, false, true};
constexpr bool kSunday[7] = {true, false, false, false, false, false, false};

class AlarmSchedule : public ::testing::Test {
 protected:
  void SetUp() override { BTDateUtility::resetTimeZoneForTesting("Europe/Berlin"); }
  void TearDown() override { BTDateUtility::resetTimeZoneForTesting(nullptr); }

  // The next ring of an alarm at hh:mm:ss (plus `days`) when the wall clock reads `now`.
  tw::Date ring(tw::Date now, long hh, long mm, const bool weekdays[7], long ss = 0,
                long days = 0) {
    clock_.setWall(now.secondsSince1970);
    return BTAlarmNextRingDate(tw::Date{tw::clock::wallNow()}, hh, mm, ss, days, weekdays);
  }

  tw::VirtualClock clock_;
};

// Wednesday 2024-07-17 in Berlin is UTC+2.
TEST_F(AlarmSchedule, RingsTodayUntilItsMinuteBegins) {
  EXPECT_EQ(ring(utc(2024, 7, 17, 5, 29), 7, 30, kEveryDay), utc(2024, 7, 17, 5, 30));
  EXPECT_EQ(ring(utc(2024, 7, 17, 5, 29, 59), 7, 30, kEveryDay), utc(2024, 7, 17, 5, 30));
  EXPECT_EQ(ring(utc(2024, 7, 17, 5, 30), 7, 30, kEveryDay), utc(2024, 7, 18, 5, 30));
  EXPECT_EQ(ring(utc(2024, 7, 17, 5, 30, 10), 7, 30, kEveryDay), utc(2024, 7, 18, 5, 30));
  // The setting's seconds do not hold the day open: 07:30:45 at 07:30:10 is tomorrow's.
  EXPECT_EQ(ring(utc(2024, 7, 17, 5, 30, 10), 7, 30, kEveryDay, 45), utc(2024, 7, 18, 5, 30, 45));
  EXPECT_EQ(ring(utc(2024, 7, 17, 4), 7, 30, kEveryDay, 45), utc(2024, 7, 17, 5, 30, 45));
}

TEST_F(AlarmSchedule, WeekdaysPickTheNextSetDay) {
  // Only today's weekday: later today, or a week on once the time has gone.
  EXPECT_EQ(ring(utc(2024, 7, 17, 5), 7, 30, kWednesday), utc(2024, 7, 17, 5, 30));
  EXPECT_EQ(ring(utc(2024, 7, 17, 6), 7, 30, kWednesday), utc(2024, 7, 24, 5, 30));
  EXPECT_EQ(ring(utc(2024, 7, 17, 6), 7, 30, kSaturday), utc(2024, 7, 20, 5, 30));
  EXPECT_EQ(ring(utc(2024, 7, 17, 4), 7, 30, kSaturday), utc(2024, 7, 20, 5, 30));
  // From Saturday night the search wraps round to Sunday.
  EXPECT_EQ(ring(utc(2024, 7, 20, 21), 7, 30, kSunday), utc(2024, 7, 21, 5, 30));
}

TEST_F(AlarmSchedule, WithoutWeekdaysRingsAtTheNextOccurrence) {
  EXPECT_EQ(ring(utc(2024, 7, 17, 6), 7, 30, kNoDay), utc(2024, 7, 18, 5, 30));
  EXPECT_EQ(ring(utc(2024, 7, 17, 4), 7, 30, kNoDay), utc(2024, 7, 17, 5, 30));
  EXPECT_EQ(ring(utc(2024, 7, 17, 4), 7, 30, nullptr), utc(2024, 7, 17, 5, 30));
}

TEST_F(AlarmSchedule, TheSettingsDaysAreExtraCalendarDays) {
  EXPECT_EQ(ring(utc(2024, 7, 17, 4), 7, 30, kNoDay, 0, 2), utc(2024, 7, 19, 5, 30));
  // Across the spring change the added day still lands on 07:30.
  EXPECT_EQ(ring(utc(2024, 3, 30, 5), 7, 30, kNoDay, 0, 1), utc(2024, 3, 31, 5, 30));
}

TEST_F(AlarmSchedule, KeepsItsWallTimeOnTheDaysBerlinChangesClocks) {
  // Saturday 08:00 CET; the night to Sunday goes to CEST.
  EXPECT_EQ(ring(utc(2024, 3, 30, 7), 7, 30, kEveryDay), utc(2024, 3, 31, 5, 30));
  // Wednesday, Sunday-only: the weekday search crosses the change.
  EXPECT_EQ(ring(utc(2024, 3, 27, 7), 7, 30, kSunday), utc(2024, 3, 31, 5, 30));
  // Saturday 08:00 CEST; the night to Sunday goes back to CET.
  EXPECT_EQ(ring(utc(2024, 10, 26, 6), 7, 30, kEveryDay), utc(2024, 10, 27, 6, 30));
}

TEST_F(AlarmSchedule, KeepsItsWallTimeOnTheDaysNewYorkChangesClocks) {
  BTDateUtility::resetTimeZoneForTesting("America/New_York");
  // Saturday 08:00 EST -> Sunday 07:30 EDT.
  EXPECT_EQ(ring(utc(2024, 3, 9, 13), 7, 30, kEveryDay), utc(2024, 3, 10, 11, 30));
  // Saturday 08:00 EDT -> Sunday 07:30 EST.
  EXPECT_EQ(ring(utc(2024, 11, 2, 12), 7, 30, kEveryDay), utc(2024, 11, 3, 12, 30));
  // Sunday-only a week on, across the autumn change.
  EXPECT_EQ(ring(utc(2024, 10, 27, 12), 7, 30, kSunday), utc(2024, 11, 3, 12, 30));
}

TEST_F(AlarmSchedule, AWallTimeTheClocksSkipRingsWhenTheJumpEnds) {
  // Berlin goes from 02:00 CET straight to 03:00 CEST; 02:30 never shows.
  EXPECT_EQ(ring(utc(2024, 3, 31, 0, 30), 2, 30, kEveryDay), utc(2024, 3, 31, 1));
  BTDateUtility::resetTimeZoneForTesting("America/New_York");
  EXPECT_EQ(ring(utc(2024, 3, 10, 6, 50), 2, 30, kEveryDay), utc(2024, 3, 10, 7));
}

TEST_F(AlarmSchedule, AWallTimeTheClocksRepeatRingsAtItsFirstShowing) {
  // Berlin shows 02:00-03:00 twice: first in CEST (00:00-01:00 UTC), then in CET.
  EXPECT_EQ(ring(utc(2024, 10, 26, 23), 2, 30, kEveryDay), utc(2024, 10, 27, 0, 30));
  // At 02:10 CET the first 02:30 has gone by; the second is still to come.
  EXPECT_EQ(ring(utc(2024, 10, 27, 1, 10), 2, 30, kEveryDay), utc(2024, 10, 27, 1, 30));
  // At 02:45 CET both have gone: tomorrow.
  EXPECT_EQ(ring(utc(2024, 10, 27, 1, 45), 2, 30, kEveryDay), utc(2024, 10, 28, 1, 30));
  BTDateUtility::resetTimeZoneForTesting("America/New_York");
  EXPECT_EQ(ring(utc(2024, 11, 3, 5), 1, 30, kEveryDay), utc(2024, 11, 3, 5, 30));
}

}  // namespace
