#include "core/Source/Library/BTDateCalendar.h"

#include <unicode/calendar.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "core/Source/Library/BTDateShared.h"

using namespace tw::date_detail;

namespace {

constexpr double kSecondsPerMinute = 60;
constexpr double kSecondsPerHour = 3600;
constexpr double kSecondsPerDay = 86400;
constexpr double kSecondsPerWeek = 604800;

std::int32_t clampToInt32(long n) {
  if (n > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (n < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(n);
}

long truncatedQuotient(double seconds, double unit) {
  const double q = std::trunc(seconds / unit);
  if (!std::isfinite(q)) return 0;
  if (q >= static_cast<double>(std::numeric_limits<long>::max()))
    return std::numeric_limits<long>::max();
  if (q <= static_cast<double>(std::numeric_limits<long>::min()))
    return std::numeric_limits<long>::min();
  return static_cast<long>(q);
}

// --- Calendar helpers (callers hold the calendar) ---------------------------------------------

std::optional<tw::DateComponents> readComponents(icu::Calendar& cal, tw::Date d) {
  if (!usable(d)) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  cal.setTime(toUDate(d), status);
  tw::DateComponents c;
  c.year = cal.get(UCAL_YEAR, status);
  c.month = cal.get(UCAL_MONTH, status) + 1;
  c.day = cal.get(UCAL_DATE, status);
  c.hour = cal.get(UCAL_HOUR_OF_DAY, status);
  c.minute = cal.get(UCAL_MINUTE, status);
  c.second = cal.get(UCAL_SECOND, status);
  c.weekday = cal.get(UCAL_DAY_OF_WEEK, status);
  c.weekdayOrdinal = cal.get(UCAL_DAY_OF_WEEK_IN_MONTH, status);
  c.weekOfYear = cal.get(UCAL_WEEK_OF_YEAR, status);
  if (U_FAILURE(status)) return std::nullopt;  // a date out of the calendar's range, or NaN
  return c;
}

tw::DateComponents componentsOrZero(tw::Date d) {
  return withSharedCalendar([&](icu::Calendar& cal) { return readComponents(cal, d); })
      .value_or(tw::DateComponents{});
}

// Sets the calendar to the given wall time. The era (the one field the component set leaves
// out) comes from `base`.
std::optional<tw::Date> rebuild(icu::Calendar& cal, tw::Date base, const tw::DateComponents& c) {
  UErrorCode status = U_ZERO_ERROR;
  cal.setTime(usable(base) ? toUDate(base) : 0, status);
  if (U_FAILURE(status)) {
    status = U_ZERO_ERROR;
    cal.setTime(0, status);
  }
  cal.set(UCAL_YEAR, clampToInt32(c.year));
  cal.set(UCAL_MONTH, clampToInt32(c.month - 1));
  cal.set(UCAL_DATE, clampToInt32(c.day));
  cal.set(UCAL_HOUR_OF_DAY, clampToInt32(c.hour));
  cal.set(UCAL_MINUTE, clampToInt32(c.minute));
  cal.set(UCAL_SECOND, clampToInt32(c.second));
  cal.set(UCAL_MILLISECOND, 0);
  const UDate result = cal.getTime(status);
  if (U_FAILURE(status)) return std::nullopt;
  return fromUDate(result);
}

tw::Date atTimeOfDay(tw::Date d, long hour, long minute, long second) {
  return withSharedCalendar([&](icu::Calendar& cal) {
    auto c = readComponents(cal, d);
    if (!c) return d;
    c->hour = hour;
    c->minute = minute;
    c->second = second;
    return rebuild(cal, d, *c).value_or(d);
  });
}

tw::Date addCalendarUnits(tw::Date d, UCalendarDateFields field, long amount) {
  if (!usable(d)) return d;
  auto cal = sharedCalendarCopy();
  UErrorCode status = U_ZERO_ERROR;
  cal->setTime(toUDate(d), status);
  cal->add(field, clampToInt32(amount), status);
  const UDate result = cal->getTime(status);
  return U_FAILURE(status) ? d : fromUDate(result);
}

tw::Date plusSeconds(tw::Date d, double seconds) { return tw::Date{d.secondsSince1970 + seconds}; }

}  // namespace

// --- The calendar -----------------------------------------------------------------------------

tw::DateComponents BTDateCalendar::components(tw::Date d) { return componentsOrZero(d); }

tw::Date BTDateCalendar::dateFromComponents(const tw::DateComponents& c,
                                            tw::RepeatedWallTime repeated,
                                            tw::SkippedWallTime skipped) {
  auto cal = sharedCalendarCopy();
  cal->setLenient(true);
  cal->setRepeatedWallTimeOption(repeated == tw::RepeatedWallTime::First ? UCAL_WALLTIME_FIRST
                                                                         : UCAL_WALLTIME_LAST);
  cal->setSkippedWallTimeOption(skipped == tw::SkippedWallTime::NextValid ? UCAL_WALLTIME_NEXT_VALID
                                                                          : UCAL_WALLTIME_LAST);
  const tw::Date base = now();
  return rebuild(*cal, base, c).value_or(tw::Date{std::nan("")});
}

// --- Relative to now --------------------------------------------------------------------------

tw::Date BTDateCalendar::dateWithDaysFromNow(long days) { return dateByAddingDays(now(), days); }
tw::Date BTDateCalendar::dateWithDaysBeforeNow(long days) {
  return dateBySubtractingDays(now(), days);
}
tw::Date BTDateCalendar::dateTomorrow() { return dateWithDaysFromNow(1); }
tw::Date BTDateCalendar::dateYesterday() { return dateWithDaysBeforeNow(1); }
tw::Date BTDateCalendar::dateWithHoursFromNow(long hours) {
  return dateByAddingHours(now(), hours);
}
tw::Date BTDateCalendar::dateWithHoursBeforeNow(long hours) {
  return dateBySubtractingHours(now(), hours);
}
tw::Date BTDateCalendar::dateWithMinutesFromNow(long minutes) {
  return dateByAddingMinutes(now(), minutes);
}
tw::Date BTDateCalendar::dateWithMinutesBeforeNow(long minutes) {
  return dateBySubtractingMinutes(now(), minutes);
}

// --- Comparisons ------------------------------------------------------------------------------

bool BTDateCalendar::isEqualToDateIgnoringTime(tw::Date d, tw::Date other) {
  const auto a = components(d);
  const auto b = components(other);
  return a.year == b.year && a.month == b.month && a.day == b.day;
}
bool BTDateCalendar::isToday(tw::Date d) { return isEqualToDateIgnoringTime(d, now()); }
bool BTDateCalendar::isTomorrow(tw::Date d) { return isEqualToDateIgnoringTime(d, dateTomorrow()); }
bool BTDateCalendar::isYesterday(tw::Date d) {
  return isEqualToDateIgnoringTime(d, dateYesterday());
}

bool BTDateCalendar::isSameWeekAsDate(tw::Date d, tw::Date other) {
  // Week numbers repeat every year; the distance keeps week 2 of two different years apart.
  if (components(d).weekOfYear != components(other).weekOfYear) return false;
  return std::fabs(d.secondsSince1970 - other.secondsSince1970) < kSecondsPerWeek;
}
bool BTDateCalendar::isThisWeek(tw::Date d) { return isSameWeekAsDate(d, now()); }
bool BTDateCalendar::isNextWeek(tw::Date d) {
  return isSameWeekAsDate(d, plusSeconds(now(), kSecondsPerWeek));
}
bool BTDateCalendar::isLastWeek(tw::Date d) {
  return isSameWeekAsDate(d, plusSeconds(now(), -kSecondsPerWeek));
}

bool BTDateCalendar::isSameMonthAsDate(tw::Date d, tw::Date other) {
  const auto a = components(d);
  const auto b = components(other);
  return a.year == b.year && a.month == b.month;
}
bool BTDateCalendar::isThisMonth(tw::Date d) { return isSameMonthAsDate(d, now()); }
bool BTDateCalendar::isNextMonth(tw::Date d) {
  return isSameMonthAsDate(d, dateByAddingMonths(now(), 1));
}
bool BTDateCalendar::isLastMonth(tw::Date d) {
  return isSameMonthAsDate(d, dateBySubtractingMonths(now(), 1));
}

bool BTDateCalendar::isSameYearAsDate(tw::Date d, tw::Date other) {
  return components(d).year == components(other).year;
}
bool BTDateCalendar::isThisYear(tw::Date d) { return isSameYearAsDate(d, now()); }
bool BTDateCalendar::isNextYear(tw::Date d) { return year(d) == year(now()) + 1; }
bool BTDateCalendar::isLastYear(tw::Date d) { return year(d) == year(now()) - 1; }

bool BTDateCalendar::isEarlierThanDate(tw::Date d, tw::Date other) {
  return d.secondsSince1970 < other.secondsSince1970;
}
bool BTDateCalendar::isLaterThanDate(tw::Date d, tw::Date other) {
  return d.secondsSince1970 > other.secondsSince1970;
}
bool BTDateCalendar::isInFuture(tw::Date d) { return isLaterThanDate(d, now()); }
bool BTDateCalendar::isInPast(tw::Date d) { return isEarlierThanDate(d, now()); }

bool BTDateCalendar::isTypicallyWeekend(tw::Date d) {
  const long w = weekday(d);
  return w == 1 || w == 7;
}
bool BTDateCalendar::isTypicallyWorkday(tw::Date d) { return !isTypicallyWeekend(d); }

// --- New dates --------------------------------------------------------------------------------

tw::Date BTDateCalendar::dateByRemovingTime(tw::Date d) {
  // Read through the shared calendar, rebuilt through a calendar of the call's own.
  auto c = withSharedCalendar([&](icu::Calendar& cal) { return readComponents(cal, d); });
  if (!c) return d;
  c->hour = c->minute = c->second = 0;
  auto cal = sharedCalendarCopy();
  return rebuild(*cal, d, *c).value_or(d);
}

tw::Date BTDateCalendar::dateAtStartOfDay(tw::Date d) { return atTimeOfDay(d, 0, 0, 0); }
tw::Date BTDateCalendar::dateAtEndOfDay(tw::Date d) { return atTimeOfDay(d, 23, 59, 59); }

tw::Date BTDateCalendar::dateByAddingYears(tw::Date d, long years) {
  return addCalendarUnits(d, UCAL_YEAR, years);
}
tw::Date BTDateCalendar::dateByAddingMonths(tw::Date d, long months) {
  return addCalendarUnits(d, UCAL_MONTH, months);
}
tw::Date BTDateCalendar::dateByAddingDays(tw::Date d, long days) {
  return addCalendarUnits(d, UCAL_DATE, days);
}
tw::Date BTDateCalendar::dateBySubtractingYears(tw::Date d, long years) {
  return dateByAddingYears(d, -years);
}
tw::Date BTDateCalendar::dateBySubtractingMonths(tw::Date d, long months) {
  return dateByAddingMonths(d, -months);
}
tw::Date BTDateCalendar::dateBySubtractingDays(tw::Date d, long days) {
  return dateByAddingDays(d, -days);
}

tw::Date BTDateCalendar::dateByAddingHours(tw::Date d, long hours) {
  return plusSeconds(d, static_cast<double>(hours) * kSecondsPerHour);
}
tw::Date BTDateCalendar::dateByAddingMinutes(tw::Date d, long minutes) {
  return plusSeconds(d, static_cast<double>(minutes) * kSecondsPerMinute);
}
tw::Date BTDateCalendar::dateBySubtractingHours(tw::Date d, long hours) {
  return plusSeconds(d, -static_cast<double>(hours) * kSecondsPerHour);
}
tw::Date BTDateCalendar::dateBySubtractingMinutes(tw::Date d, long minutes) {
  return plusSeconds(d, -static_cast<double>(minutes) * kSecondsPerMinute);
}

tw::DateComponents BTDateCalendar::componentsWithOffsetFromDate(tw::Date d, tw::Date from) {
  return withSharedCalendar([&](icu::Calendar& cal) {
    tw::DateComponents c;
    if (!usable(d) || !usable(from)) return c;
    UErrorCode status = U_ZERO_ERROR;
    cal.setTime(toUDate(from), status);
    if (U_FAILURE(status)) return c;
    const UDate target = toUDate(d);
    // Each field takes what is left after the larger ones, so the order matters.
    c.year = cal.fieldDifference(target, UCAL_YEAR, status);
    c.month = cal.fieldDifference(target, UCAL_MONTH, status);
    c.day = cal.fieldDifference(target, UCAL_DATE, status);
    c.hour = cal.fieldDifference(target, UCAL_HOUR_OF_DAY, status);
    c.minute = cal.fieldDifference(target, UCAL_MINUTE, status);
    c.second = cal.fieldDifference(target, UCAL_SECOND, status);
    c.weekday = cal.fieldDifference(target, UCAL_DAY_OF_WEEK, status);
    c.weekdayOrdinal = cal.fieldDifference(target, UCAL_DAY_OF_WEEK_IN_MONTH, status);
    c.weekOfYear = cal.fieldDifference(target, UCAL_WEEK_OF_YEAR, status);
    if (U_FAILURE(status)) return tw::DateComponents{};
    return c;
  });
}

// --- Numbers ----------------------------------------------------------------------------------

long BTDateCalendar::minutesAfterDate(tw::Date d, tw::Date other) {
  return truncatedQuotient(d.secondsSince1970 - other.secondsSince1970, kSecondsPerMinute);
}
long BTDateCalendar::hoursAfterDate(tw::Date d, tw::Date other) {
  return truncatedQuotient(d.secondsSince1970 - other.secondsSince1970, kSecondsPerHour);
}
long BTDateCalendar::daysAfterDate(tw::Date d, tw::Date other) {
  return truncatedQuotient(d.secondsSince1970 - other.secondsSince1970, kSecondsPerDay);
}
long BTDateCalendar::minutesBeforeDate(tw::Date d, tw::Date other) {
  return minutesAfterDate(other, d);
}
long BTDateCalendar::hoursBeforeDate(tw::Date d, tw::Date other) {
  return hoursAfterDate(other, d);
}
long BTDateCalendar::daysBeforeDate(tw::Date d, tw::Date other) { return daysAfterDate(other, d); }

long BTDateCalendar::distanceInDaysToDate(tw::Date d, tw::Date other) {
  if (!usable(d) || !usable(other)) return 0;
  UErrorCode status = U_ZERO_ERROR;
  icu::GregorianCalendar gregorian(sharedZoneCopy().release(), icu::Locale::getDefault(), status);
  if (U_FAILURE(status)) return 0;
  gregorian.setTime(toUDate(d), status);
  const long days = gregorian.fieldDifference(toUDate(other), UCAL_DATE, status);
  return U_FAILURE(status) ? 0 : days;
}

long BTDateCalendar::nearestHour(tw::Date) { return hour(plusSeconds(now(), kSecondsPerHour / 2)); }
long BTDateCalendar::hour(tw::Date d) { return components(d).hour; }
long BTDateCalendar::minute(tw::Date d) { return components(d).minute; }
long BTDateCalendar::seconds(tw::Date d) { return components(d).second; }
long BTDateCalendar::day(tw::Date d) { return components(d).day; }
long BTDateCalendar::month(tw::Date d) { return components(d).month; }
long BTDateCalendar::week(tw::Date d) { return components(d).weekOfYear; }
long BTDateCalendar::weekday(tw::Date d) { return components(d).weekday; }
long BTDateCalendar::nthWeekday(tw::Date d) { return components(d).weekdayOrdinal; }
long BTDateCalendar::year(tw::Date d) { return components(d).year; }
