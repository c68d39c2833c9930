#include "core/Source/Library/BTAlarmSchedule.h"

#include <cstdint>
#include <optional>

#include "core/Source/Library/BTDateUtility.h"

tw::Date BTAlarmNextRingDate(tw::Date now, long hour, long minute, long second, long day,
                             const bool weekdays[7]) {
  const tw::DateComponents today = BTDateUtility::components(now);

  // The alarm's minute counts as gone as soon as it has begun, so an alarm set for the current
  // minute does not ring at once.
  const bool passed = today.hour > hour || (today.hour == hour && today.minute >= minute);

  std::optional<long> offset;
  if (weekdays) {
    const long todayIndex = ((today.weekday - 1) % 7 + 7) % 7;  // Sunday = 0
    // Eight tries: the eighth is today's weekday a week on, for an alarm set only for today
    // whose time has gone.
    for (long k = 0; k <= 7; ++k) {
      if (!weekdays[(todayIndex + k) % 7]) continue;
      if (k == 0 && passed) continue;
      offset = k;
      break;
    }
  }
  if (!offset) offset = passed ? 1 : 0;

  // The setting's fields are 16-bit values; out-of-range ones roll over in the calendar just as
  // they would have added up as seconds.
  tw::DateComponents ring = today;
  ring.day += *offset + static_cast<std::uint16_t>(day);
  ring.hour = static_cast<std::uint16_t>(hour);
  ring.minute = static_cast<std::uint16_t>(minute);
  ring.second = static_cast<std::uint16_t>(second);

  const tw::Date first = BTDateUtility::dateFromComponents(ring, tw::RepeatedWallTime::First,
                                                           tw::SkippedWallTime::NextValid);
  if (first <= now) {
    // Between the two showings of a repeated wall time: the first has gone by, the second is
    // still to come today.
    const tw::Date last = BTDateUtility::dateFromComponents(ring, tw::RepeatedWallTime::Last,
                                                            tw::SkippedWallTime::NextValid);
    if (last > now) return last;
  }
  return first;
}
