#include "core/Source/Library/BTTime.h"

#include <cmath>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Localization.h"
#include "platform/foundation/QLNTimer.h"

namespace {

double clampedMagnitude(double seconds) {
  if (std::isnan(seconds)) return 0;
  double magnitude = std::fabs(seconds);
  return magnitude > kBTTimeLargestSeconds ? kBTTimeLargestSeconds : magnitude;
}

}  // namespace

BTTime BTTimeMake(std::uint16_t day, std::uint16_t hour, std::uint16_t minute, std::uint16_t second,
                  std::uint16_t millisecond) {
  BTTime t{};
  t.sign = 0;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.millisecond = millisecond;
  return t;
}

BTTime BTTimeMakeWithSeconds(double seconds) {
  BTTime t{};
  BTTimeUpdateWithSeconds(&t, seconds);
  return t;
}

void BTTimeUpdateWithSeconds(BTTime* time, double seconds) {
  if (!time) return;
  // A record reused for a positive value after a negative one must read positive again.
  time->sign = (seconds < 0) ? 1 : 0;
  const double magnitude = clampedMagnitude(seconds);
  const auto whole = static_cast<std::uint64_t>(magnitude);
  time->millisecond =
      static_cast<std::uint16_t>(QLN_MSEC_PER_SEC * (magnitude - static_cast<double>(whole)));
  time->second = static_cast<std::uint16_t>(whole % QLN_SEC_PER_MIN);
  time->minute = static_cast<std::uint16_t>((whole / QLN_SEC_PER_MIN) % QLN_MIN_PER_HR);
  time->hour = static_cast<std::uint16_t>((whole / QLN_SEC_PER_HR) % QLN_HR_PER_DAY);
  time->day = static_cast<std::uint16_t>(whole / QLN_SEC_PER_DAY);
}

double BTTimeToSeconds(const BTTime* time) {
  if (!time) return 0;
  double seconds = time->millisecond * QLN_SEC_PER_MSEC + static_cast<double>(time->second) +
                   static_cast<double>(time->minute) * QLN_SEC_PER_MIN +
                   static_cast<double>(time->hour) * QLN_SEC_PER_HR +
                   static_cast<double>(time->day) * QLN_SEC_PER_DAY;
  return time->sign ? -seconds : seconds;
}

double BTGetSecondsSince1970() { return tw::clock::wallNow(); }

std::string BTGetUnitValue(long unit, bool plural) {
  const char* base = nullptr;
  switch (unit) {
    case BTTimeUnitSecond:
      base = "second";
      break;
    case BTTimeUnitMinute:
      base = "minute";
      break;
    case BTTimeUnitHour:
      base = "hour";
      break;
    case BTTimeUnitDay:
      base = "day";
      break;
    default:
      return {};
  }
  std::string key(base);
  if (plural) key += "s";
  return tw::localized(key);
}

std::string BTGetNumericValue(long value, long unit, long largestUnit) {
  return unit == largestUnit ? tw::format("%ld", value) : tw::format("%02ld", value);
}

std::string BTGetSimpleTimeString(long day, long hour, long minute, long second, bool withUnit) {
  // Index by unit code: [2] second ... [5] day.
  const long values[6] = {0, 0, second, minute, hour, day};
  long largest = BTTimeUnitSecond;
  for (long unit = BTTimeUnitDay; unit > BTTimeUnitSecond; --unit) {
    if (values[unit] >= 1) {
      largest = unit;
      break;
    }
  }
  bool smallerAbsent = true;
  for (long unit = BTTimeUnitSecond; unit < largest; ++unit) {
    if (values[unit] > 0) smallerAbsent = false;
  }
  const bool plural = !(values[largest] == 1 && smallerAbsent);

  // Exactly one whole unit with its word reads "1 minute", not "1:00 minute".
  if (withUnit && !plural && largest > BTTimeUnitSecond) {
    return tw::format("%@ %@", BTGetNumericValue(values[largest], largest, largest),
                      BTGetUnitValue(largest, false));
  }

  std::string text;
  for (long unit = BTTimeUnitSecond; unit <= largest; ++unit) {
    std::string part = BTGetNumericValue(values[unit], unit, largest);
    if (!text.empty()) part.append(":").append(text);
    text = std::move(part);
  }
  if (!withUnit) return text;
  return tw::format("%@ %@", text, BTGetUnitValue(largest, plural));
}
