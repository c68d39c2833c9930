#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/Source/Library/BTDateUtility.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"

namespace {

using U = BTDateUtility;

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

tw::Date plus(tw::Date d, double seconds) { return tw::Date{d.secondsSince1970 + seconds}; }

class DateUtility : public ::testing::Test {
 protected:
  void SetUp() override { U::resetTimeZoneForTesting("Europe/Berlin"); }
  void TearDown() override { U::resetTimeZoneForTesting(nullptr); }
  void setNow(tw::Date d) { clock_.setWall(d.secondsSince1970); }

  tw::VirtualClock clock_{utc(2024, 7, 17, 8, 0).secondsSince1970};  // Wednesday 10:00 in Berlin
};

TEST_F(DateUtility, EqualMomentsAreNeitherEarlierNorLater) {
  const tw::Date a = utc(2024, 7, 17, 8);
  EXPECT_FALSE(U::isEarlierThanDate(a, a));
  EXPECT_FALSE(U::isLaterThanDate(a, a));
  EXPECT_TRUE(U::isEarlierThanDate(a, plus(a, 0.001)));
  EXPECT_TRUE(U::isLaterThanDate(plus(a, 0.001), a));

  setNow(a);
  EXPECT_FALSE(U::isInFuture(a));
  EXPECT_FALSE(U::isInPast(a));
  EXPECT_TRUE(U::isInFuture(plus(a, 1)));
  EXPECT_TRUE(U::isInPast(plus(a, -1)));
}

TEST_F(DateUtility, DifferencesTruncateTowardZero) {
  const tw::Date a = utc(2024, 7, 17, 8);
  EXPECT_EQ(U::minutesAfterDate(plus(a, 90), a), 1);
  EXPECT_EQ(U::minutesAfterDate(plus(a, -90), a), -1);
  EXPECT_EQ(U::minutesBeforeDate(plus(a, -90), a), 1);
  EXPECT_EQ(U::hoursAfterDate(plus(a, 3599), a), 0);
  EXPECT_EQ(U::hoursBeforeDate(a, plus(a, 7200)), 2);
  EXPECT_EQ(U::daysAfterDate(plus(a, 1.5 * 86400), a), 1);
  EXPECT_EQ(U::daysBeforeDate(plus(a, 1.5 * 86400), a), -1);
  EXPECT_EQ(U::minutesAfterDate(tw::Date{std::nan("")}, a), 0);
  EXPECT_EQ(U::daysAfterDate(tw::Date{1e300}, a), std::numeric_limits<long>::max());
}

TEST_F(DateUtility, ComponentsAreReadInTheUsersZone) {
  const tw::Date d = utc(2024, 7, 15, 10, 20, 30);  // Monday
  EXPECT_EQ(U::year(d), 2024);
  EXPECT_EQ(U::month(d), 7);
  EXPECT_EQ(U::day(d), 15);
  EXPECT_EQ(U::hour(d), 12);
  EXPECT_EQ(U::minute(d), 20);
  EXPECT_EQ(U::seconds(d), 30);
  EXPECT_EQ(U::weekday(d), 2);
  EXPECT_EQ(U::nthWeekday(d), 3);  // the 1st, 8th and 15th are Mondays
  EXPECT_EQ(U::week(plus(d, 7 * 86400)), U::week(d) + 1);

  U::resetTimeZoneForTesting("America/New_York");
  EXPECT_EQ(U::currentTimeZoneId(), "America/New_York");
  EXPECT_EQ(U::hour(d), 6);
  // Late evening in New York is already the next day in Berlin.
  const tw::Date evening = utc(2024, 7, 16, 2);
  EXPECT_EQ(U::day(evening), 15);
  EXPECT_EQ(U::weekday(evening), 2);
}

TEST_F(DateUtility, CalendarDaysKeepTheWallTimeAcrossClockChanges) {
  const tw::Date saturdayNoon = utc(2024, 3, 30, 11);  // 12:00 CET; clocks go forward that night
  const tw::Date sundayNoon = U::dateByAddingDays(saturdayNoon, 1);
  EXPECT_EQ(sundayNoon, utc(2024, 3, 31, 10));  // 12:00 CEST, 23 hours on
  EXPECT_EQ(U::dateBySubtractingDays(sundayNoon, 1), saturdayNoon);
  EXPECT_EQ(U::distanceInDaysToDate(saturdayNoon, sundayNoon), 1);
  EXPECT_EQ(U::daysAfterDate(sundayNoon, saturdayNoon), 0);  // plain seconds: only 23 hours
  EXPECT_EQ(U::dateByAddingHours(saturdayNoon, 24), utc(2024, 3, 31, 11));  // 13:00 CEST
  EXPECT_EQ(U::dateBySubtractingMinutes(saturdayNoon, 90), utc(2024, 3, 30, 9, 30));

  setNow(saturdayNoon);
  EXPECT_EQ(U::dateTomorrow(), sundayNoon);
  EXPECT_EQ(U::dateWithDaysFromNow(1), sundayNoon);
  EXPECT_EQ(U::dateWithDaysBeforeNow(-1), sundayNoon);
  EXPECT_EQ(U::dateYesterday(), utc(2024, 3, 29, 11));
  EXPECT_EQ(U::dateWithHoursFromNow(2), plus(saturdayNoon, 7200));
  EXPECT_EQ(U::dateWithHoursBeforeNow(2), plus(saturdayNoon, -7200));
  EXPECT_EQ(U::dateWithMinutesFromNow(5), plus(saturdayNoon, 300));
  EXPECT_EQ(U::dateWithMinutesBeforeNow(5), plus(saturdayNoon, -300));
}

TEST_F(DateUtility, MonthsAndYearsStopAtTheEndOfAShorterMonth) {
  const tw::Date jan31 = utc(2024, 1, 31, 11);
  EXPECT_EQ(U::dateByAddingMonths(jan31, 1), utc(2024, 2, 29, 11));
  EXPECT_EQ(U::dateBySubtractingMonths(utc(2024, 3, 31, 10), 1), utc(2024, 2, 29, 11));
  EXPECT_EQ(U::dateByAddingYears(utc(2024, 2, 29, 11), 1), utc(2025, 2, 28, 11));
  EXPECT_EQ(U::dateBySubtractingYears(jan31, 2), utc(2022, 1, 31, 11));
}

TEST_F(DateUtility, StartAndEndOfDayOnTheDayClocksGoForward) {
  const tw::Date afternoon = plus(utc(2024, 3, 31, 13), 0.25);      // 15:00:00.25 CEST
  EXPECT_EQ(U::dateAtStartOfDay(afternoon), utc(2024, 3, 30, 23));  // 00:00 CET
  EXPECT_EQ(U::dateByRemovingTime(afternoon), utc(2024, 3, 30, 23));
  EXPECT_EQ(U::dateAtEndOfDay(afternoon), utc(2024, 3, 31, 21, 59, 59));  // 23:59:59 CEST
}

TEST_F(DateUtility, DayWeekMonthAndYearRelativeToNow) {
  const tw::Date now = utc(2024, 7, 17, 8);  // Wednesday 10:00
  setNow(now);
  EXPECT_TRUE(U::isToday(utc(2024, 7, 16, 22)));  // 00:00 in Berlin
  EXPECT_FALSE(U::isToday(utc(2024, 7, 16, 21, 59, 59)));
  EXPECT_TRUE(U::isYesterday(utc(2024, 7, 16, 21, 59, 59)));
  EXPECT_TRUE(U::isTomorrow(utc(2024, 7, 18, 21, 59, 59)));
  EXPECT_FALSE(U::isTomorrow(utc(2024, 7, 18, 22)));

  EXPECT_TRUE(U::isThisWeek(plus(now, 86400)));
  EXPECT_TRUE(U::isNextWeek(plus(now, 7 * 86400)));
  EXPECT_TRUE(U::isLastWeek(plus(now, -7 * 86400)));
  EXPECT_FALSE(U::isThisWeek(plus(now, 7 * 86400)));
  // The same week number a year on is another week.
  const tw::Date yearOn = U::dateByAddingYears(now, 1);
  EXPECT_EQ(U::week(yearOn), U::week(now));
  EXPECT_FALSE(U::isSameWeekAsDate(yearOn, now));

  EXPECT_TRUE(U::isThisMonth(utc(2024, 7, 31, 21)));
  EXPECT_TRUE(U::isNextMonth(utc(2024, 8, 1)));
  EXPECT_TRUE(U::isLastMonth(utc(2024, 6, 30, 12)));
  EXPECT_FALSE(U::isSameMonthAsDate(utc(2023, 7, 17), now));
  EXPECT_TRUE(U::isThisYear(utc(2024, 12, 31, 22, 59)));
  EXPECT_TRUE(U::isNextYear(utc(2024, 12, 31, 23)));  // 2025-01-01 00:00 in Berlin
  EXPECT_TRUE(U::isLastYear(utc(2023, 1, 1, 12)));
  EXPECT_FALSE(U::isNextYear(utc(2026, 1, 1, 12)));
  EXPECT_TRUE(U::isSameYearAsDate(utc(2024, 1, 1, 12), now));

  // From January 31st "next month" is February, though February has no 31st.
  setNow(utc(2024, 1, 31, 12));
  EXPECT_TRUE(U::isNextMonth(utc(2024, 2, 10)));
  EXPECT_FALSE(U::isNextMonth(utc(2024, 3, 2)));
}

TEST_F(DateUtility, WeekendsAndNearestHour) {
  EXPECT_TRUE(U::isTypicallyWeekend(utc(2024, 7, 20, 12)));      // Saturday
  EXPECT_TRUE(U::isTypicallyWeekend(utc(2024, 7, 21, 12)));      // Sunday
  EXPECT_TRUE(U::isTypicallyWorkday(utc(2024, 7, 22, 12)));      // Monday
  EXPECT_TRUE(U::isTypicallyWeekend(utc(2024, 7, 19, 22, 30)));  // Friday in UTC, Saturday here

  const tw::Date anything = utc(2000, 1, 1);
  setNow(utc(2024, 7, 17, 8, 29, 59));
  EXPECT_EQ(U::nearestHour(anything), 10);
  setNow(utc(2024, 7, 17, 8, 30));
  EXPECT_EQ(U::nearestHour(anything), 11);
}

TEST_F(DateUtility, OffsetComponentsTakeTheLargestUnitsFirst) {
  const tw::Date from = utc(2023, 12, 31, 23);   // 2024-01-01 00:00
  const tw::Date to = utc(2025, 3, 2, 3, 5, 6);  // 2025-03-02 04:05:06
  const tw::DateComponents ahead = U::componentsWithOffsetFromDate(to, from);
  EXPECT_EQ(ahead, (tw::DateComponents{1, 2, 1, 4, 5, 6, 0, 0, 0}));
  const tw::DateComponents behind = U::componentsWithOffsetFromDate(from, to);
  EXPECT_EQ(behind.year, -1);
  EXPECT_EQ(behind.month, -2);
  EXPECT_EQ(behind.second, -6);
}

TEST_F(DateUtility, TextIsWrittenInTheUsersZone) {
  const tw::Date d = utc(2024, 7, 15, 5, 30, 15);
  EXPECT_EQ(U::stringWithFormat(d, "yyyy-MM-dd HH:mm:ss"), "2024-07-15 07:30:15");
  const std::string shortTime = U::shortTimeString(d);
  EXPECT_NE(shortTime.find("30"), std::string::npos) << shortTime;
  EXPECT_NE(U::shortString(d).find(shortTime), std::string::npos);
  EXPECT_NE(U::mediumTimeString(d).find("15"), std::string::npos);  // medium shows seconds
  EXPECT_NE(U::shortDateString(d).find("15"), std::string::npos);
  EXPECT_EQ(U::shortDateString(d).find("30"), std::string::npos);
  for (const std::string& s : {U::mediumString(d), U::mediumDateString(d), U::longString(d),
                               U::longTimeString(d), U::longDateString(d)}) {
    EXPECT_FALSE(s.empty());
  }
  EXPECT_GT(U::longDateString(d).size(), U::shortDateString(d).size());
  EXPECT_EQ(U::stringWithDateStyle(d, tw::DateFormatStyle::None, tw::DateFormatStyle::None), "");
  (void)U::stringWithFormat(d, "'unterminated");

  U::resetTimeZoneForTesting("America/New_York");
  EXPECT_EQ(U::stringWithFormat(d, "yyyy-MM-dd HH:mm"), "2024-07-15 01:30");
}

TEST_F(DateUtility, UnusableDatesGiveNeutralAnswers) {
  const tw::Date nan{std::nan("")};
  EXPECT_EQ(U::components(nan), tw::DateComponents{});
  EXPECT_EQ(U::hour(nan), 0);
  EXPECT_TRUE(std::isnan(U::dateByAddingDays(nan, 1).secondsSince1970));
  EXPECT_TRUE(std::isnan(U::dateAtStartOfDay(nan).secondsSince1970));
  EXPECT_TRUE(std::isnan(U::dateByRemovingTime(nan).secondsSince1970));
  EXPECT_EQ(U::componentsWithOffsetFromDate(nan, utc(2024, 1, 1)), tw::DateComponents{});
  (void)U::year(tw::Date{1e300});  // pinned to the calendar's last moment
  EXPECT_EQ(U::shortString(nan), "");
  (void)U::shortString(tw::Date{1e300});
  EXPECT_EQ(U::distanceInDaysToDate(nan, utc(2024, 1, 1)), 0);
}

// Restores TZ however the test ends.
class ScopedTz {
 public:
  ScopedTz() {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
  }
  ~ScopedTz() {
    if (saved_)
      ::setenv("TZ", saved_->c_str(), 1);
    else
      ::unsetenv("TZ");
  }
  void set(const char* value) { ::setenv("TZ", value, 1); }

 private:
  std::optional<std::string> saved_;
};

TEST_F(DateUtility, FollowsTheSystemZoneWhenItChanges) {
  ScopedTz tz;
  U::resetTimeZoneForTesting(nullptr);
  const tw::Date d = utc(2024, 7, 15, 10);

  tz.set("America/New_York");
  EXPECT_EQ(U::currentTimeZoneId(), "America/New_York");
  EXPECT_EQ(U::hour(d), 6);
  tz.set(":Asia/Tokyo");
  EXPECT_EQ(U::hour(d), 19);
  tz.set("/usr/share/zoneinfo/posix/Europe/Berlin");
  EXPECT_EQ(U::currentTimeZoneId(), "Europe/Berlin");
  EXPECT_EQ(U::hour(d), 12);
  tz.set("");
  EXPECT_EQ(U::hour(d), 10);

  // A pin holds until it is lifted, whatever TZ says.
  U::resetTimeZoneForTesting("Asia/Tokyo");
  tz.set("America/New_York");
  EXPECT_EQ(U::hour(d), 19);
  U::resetTimeZoneForTesting(nullptr);
  EXPECT_EQ(U::hour(d), 6);
}

TEST_F(DateUtility, PosixRuleStringsFollowTheCLibrary) {
  ScopedTz tz;
  U::resetTimeZoneForTesting(nullptr);
  for (const char* rule :
       {"AEST-10AEDT,M10.1.0,M4.1.0/3", "CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT4,M3.2.0/2,M11.1.0",
        "<+0330>-3:30", "NZST-12NZDT,M9.5.0,M4.1.0/3", "ABC3XYZ,J60/1,J300/1:30",
        // A quoted name holds three characters at least, as a bare one does; one shorter makes
        // the whole string UTC.
        "<+03>-3", "<AB>-3", "AB-3"}) {
    tz.set(rule);
    ::tzset();
    int wrong = 0;
    // Every hour of two years, both ways across each change.
    for (double t = utc(2025, 1, 1).secondsSince1970; t < utc(2027, 1, 1).secondsSince1970;
         t += 3600) {
      const time_t whole = static_cast<time_t>(t);
      struct tm expected {};
      ::localtime_r(&whole, &expected);
      const tw::DateComponents c = U::components(tw::Date{t});
      if (c.year != expected.tm_year + 1900 || c.month != expected.tm_mon + 1 ||
          c.day != expected.tm_mday || c.hour != expected.tm_hour || c.minute != expected.tm_min) {
        if (++wrong <= 3)
          ADD_FAILURE() << rule << " at " << t << ": " << c.hour << ":" << c.minute << " vs "
                        << expected.tm_hour << ":" << expected.tm_min;
      }
    }
    EXPECT_EQ(wrong, 0) << rule;
  }
  // The named forms still work next to it.
  tz.set(":Asia/Tokyo");
  EXPECT_EQ(U::hour(utc(2024, 7, 15, 10)), 19);
}

TEST_F(DateUtility, AnUnknownZoneIsNotPinned) {
  ScopedTz tz;
  tz.set("America/New_York");
  tw::LogCapture log;
  U::resetTimeZoneForTesting("Mars/Olympus_Mons");
  EXPECT_TRUE(log.contains("Mars/Olympus_Mons"));
  EXPECT_EQ(U::currentTimeZoneId(), "America/New_York");
}

TEST_F(DateUtility, ConcurrentReadersSeeWholeZones) {
  const tw::Date d = utc(2024, 7, 15, 10);
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  readers.reserve(3);
  for (int i = 0; i < 3; ++i) {
    readers.emplace_back([&] {
      while (!stop) {
        const long h = U::hour(d);
        if (h != 12 && h != 6) ++bad;
        const std::string text = U::stringWithFormat(d, "HH");
        if (text != "12" && text != "06") ++bad;
        (void)U::dateByAddingDays(d, 1);
      }
    });
  }
  for (int i = 0; i < 2000; ++i) {
    U::resetTimeZoneForTesting(i % 2 ? "Europe/Berlin" : "America/New_York");
  }
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(bad, 0);
}

}  // namespace
