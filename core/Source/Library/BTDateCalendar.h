#pragma once
// Calendar arithmetic on dates in the user's calendar and time zone: components, comparisons,
// dates relative to now, calendar units added and taken away, differences. Part of the date
// helpers (core/Source/Library/BTDateUtility.h, which callers include).
// Every function is static and safe to call from any thread: the process's shared calendar
// (core/Source/Library/BTDateHostZone.h keeps it on the user's zone) sits behind a mutex.
//
// "Now" is always tw::clock::wallNow(), so a virtual clock drives every relative operation.

#include "platform/foundation/Value.h"

namespace tw {

// The calendar fields the date helpers read: month 1-12, weekday 1 = Sunday ... 7 = Saturday,
// weekdayOrdinal the n-th such weekday of the month. As a difference (componentsWithOffsetFromDate)
// every field holds an amount of its unit instead.
struct DateComponents {
  long year = 0;
  long month = 0;
  long day = 0;
  long hour = 0;
  long minute = 0;
  long second = 0;
  long weekday = 0;
  long weekdayOrdinal = 0;
  long weekOfYear = 0;
  friend bool operator==(const DateComponents&, const DateComponents&) = default;
};

// How a wall time is read on the days the zone's clock jumps.
// Skipped (spring forward, 02:30 that never shows): ShiftByGap moves it on by the length of the
// gap (03:30), NextValid to the first moment after the gap (03:00).
enum class SkippedWallTime { ShiftByGap, NextValid };
// Repeated (fall back, 02:30 that shows twice): the earlier or the later of the two.
enum class RepeatedWallTime { First, Last };

}  // namespace tw

class BTDateCalendar {
 public:
  BTDateCalendar() = delete;

  // --- The calendar ---------------------------------------------------------------------------
  // The component set of `d` read through the shared, auto-updating calendar.
  static tw::DateComponents components(tw::Date d);
  // The moment of the given year, month (1-12), day, hour, minute and second in the user's zone.
  // Fields out of range roll over into the next larger unit (day 32 of January is February 1st,
  // hour 25 is 01:00 the next day); weekday, weekdayOrdinal and weekOfYear are not consulted.
  // NaN when the fields lie beyond the calendar's range.
  static tw::Date dateFromComponents(const tw::DateComponents& c,
                                     tw::RepeatedWallTime repeated = tw::RepeatedWallTime::First,
                                     tw::SkippedWallTime skipped = tw::SkippedWallTime::ShiftByGap);

  // --- Relative to now ------------------------------------------------------------------------
  static tw::Date dateWithDaysFromNow(long days);
  static tw::Date dateWithDaysBeforeNow(long days);
  static tw::Date dateTomorrow();
  static tw::Date dateYesterday();
  static tw::Date dateWithHoursFromNow(long hours);
  static tw::Date dateWithHoursBeforeNow(long hours);
  static tw::Date dateWithMinutesFromNow(long minutes);
  static tw::Date dateWithMinutesBeforeNow(long minutes);

  // --- Comparisons ----------------------------------------------------------------------------
  static bool isEqualToDateIgnoringTime(tw::Date d, tw::Date other);
  static bool isToday(tw::Date d);
  static bool isTomorrow(tw::Date d);
  static bool isYesterday(tw::Date d);
  static bool isSameWeekAsDate(tw::Date d, tw::Date other);
  static bool isThisWeek(tw::Date d);
  static bool isNextWeek(tw::Date d);
  static bool isLastWeek(tw::Date d);
  static bool isSameMonthAsDate(tw::Date d, tw::Date other);
  static bool isThisMonth(tw::Date d);
  static bool isNextMonth(tw::Date d);
  static bool isLastMonth(tw::Date d);
  static bool isSameYearAsDate(tw::Date d, tw::Date other);
  static bool isThisYear(tw::Date d);
  static bool isNextYear(tw::Date d);
  static bool isLastYear(tw::Date d);
  static bool isEarlierThanDate(tw::Date d, tw::Date other);
  static bool isLaterThanDate(tw::Date d, tw::Date other);
  static bool isInFuture(tw::Date d);
  static bool isInPast(tw::Date d);
  static bool isTypicallyWeekend(tw::Date d);
  static bool isTypicallyWorkday(tw::Date d);

  // --- New dates ------------------------------------------------------------------------------
  static tw::Date dateByRemovingTime(tw::Date d);
  static tw::Date dateAtStartOfDay(tw::Date d);
  static tw::Date dateAtEndOfDay(tw::Date d);
  // Calendar units: the wall time stays where the zone allows it.
  static tw::Date dateByAddingYears(tw::Date d, long years);
  static tw::Date dateByAddingMonths(tw::Date d, long months);
  static tw::Date dateByAddingDays(tw::Date d, long days);
  static tw::Date dateBySubtractingYears(tw::Date d, long years);
  static tw::Date dateBySubtractingMonths(tw::Date d, long months);
  static tw::Date dateBySubtractingDays(tw::Date d, long days);
  // Plain seconds.
  static tw::Date dateByAddingHours(tw::Date d, long hours);
  static tw::Date dateByAddingMinutes(tw::Date d, long minutes);
  static tw::Date dateBySubtractingHours(tw::Date d, long hours);
  static tw::Date dateBySubtractingMinutes(tw::Date d, long minutes);
  // The calendar difference from `from` to `d`, largest unit first; negative when `d` is earlier.
  static tw::DateComponents componentsWithOffsetFromDate(tw::Date d, tw::Date from);

  // --- Numbers --------------------------------------------------------------------------------
  // Truncated toward zero.
  static long minutesAfterDate(tw::Date d, tw::Date other);
  static long hoursAfterDate(tw::Date d, tw::Date other);
  static long daysAfterDate(tw::Date d, tw::Date other);
  static long minutesBeforeDate(tw::Date d, tw::Date other);
  static long hoursBeforeDate(tw::Date d, tw::Date other);
  static long daysBeforeDate(tw::Date d, tw::Date other);
  // Whole calendar days (Gregorian) from `d` to `other`.
  static long distanceInDaysToDate(tw::Date d, tw::Date other);
  // The hour of the moment half an hour from now; `d` is not consulted.
  static long nearestHour(tw::Date d);
  static long hour(tw::Date d);
  static long minute(tw::Date d);
  static long seconds(tw::Date d);
  static long day(tw::Date d);
  static long month(tw::Date d);
  static long week(tw::Date d);
  static long weekday(tw::Date d);
  static long nthWeekday(tw::Date d);
  static long year(tw::Date d);
};
