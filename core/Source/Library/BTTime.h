#pragma once
// Signed durations split into days, hours, minutes, seconds and milliseconds, the wall clock that
// every running time object measures against, and the short text of a duration ("1:05:03").
// Plain functions without state: callable from any thread.

#include <cstdint>
#include <string>

struct BTTime {
  std::uint8_t : 8;   // layout slot kept from the stored record format; never read
  std::uint8_t sign;  // 1 = negative; the other fields hold the magnitude
  std::uint16_t day;
  std::uint16_t hour;
  std::uint16_t minute;
  std::uint16_t second;
  std::uint16_t millisecond;
};

// Time-unit codes of the text functions.
enum BTTimeUnit : long {
  BTTimeUnitSecond = 2,
  BTTimeUnitMinute = 3,
  BTTimeUnitHour = 4,
  BTTimeUnitDay = 5,
};

// The largest value a field holds, and the longest duration the record holds whole: 65535 days,
// 23:59:59. Longer durations are shown as this one rather than wrapping round to a short one.
inline constexpr std::int64_t kBTTimeLargestField = 65535;
inline constexpr double kBTTimeLargestSeconds = 65535.0 * 86400 + 86399;

// Fields are taken as given; 75 minutes stays 75.
BTTime BTTimeMake(std::uint16_t day, std::uint16_t hour, std::uint16_t minute, std::uint16_t second,
                  std::uint16_t millisecond);
BTTime BTTimeMakeWithSeconds(double seconds);
// Refills the record from a signed number of seconds. The sign follows the new value. NaN counts
// as 0 and magnitudes beyond what the fields can take are clamped; days wrap at 16 bits.
void BTTimeUpdateWithSeconds(BTTime* time, double seconds);
double BTTimeToSeconds(const BTTime* time);

// The wall clock (realtime, through the process's one overridable clock).
double BTGetSecondsSince1970();

// "1:05:03", or with the unit flag "1:05:03 hours"; a single whole unit with the flag reads
// "1 minute".
std::string BTGetSimpleTimeString(long day, long hour, long minute, long second, bool withUnit);
// The localized unit word ("second", "minutes", ...); empty for an unknown code.
std::string BTGetUnitValue(long unit, bool plural);
// One numeric part: plain for the largest unit, two places for the others.
std::string BTGetNumericValue(long value, long unit, long largestUnit);
