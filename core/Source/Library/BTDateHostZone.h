#pragma once
// The user's time zone, as the host gives it, and the calendar that follows it. Part of the date
// helpers (core/Source/Library/BTDateUtility.h, which callers include).
// Every function is static and safe to call from any thread.
//
// The zone is found from TZ when it is set (an Olson ID, a zone file it names, or a rule string),
// else from /etc/localtime (its link, else its bytes matched against the zoneinfo folder) and
// /etc/timezone. It is followed as it changes: each use of the shared calendar looks (cheaply)
// whether TZ, the zone file it names or /etc/localtime changed since the last look and, if so,
// detects the zone again and makes it the process's default zone (ICU's and the C library's) as
// well. Tests pin a zone with resetTimeZoneForTesting().

#include <cstdint>
#include <string>

class BTDateHostZone {
 public:
  BTDateHostZone() = delete;

  // The time zone the calendar follows right now (an Olson ID such as "Europe/Berlin").
  static std::string currentTimeZoneId();
  // A number that grows whenever the calendar takes up another zone: whoever computed a moment
  // from a wall time compares it to tell whether that moment is still right.
  static std::uint64_t timeZoneGeneration();
  // Reads the zone's sources again now, whatever their stamps say (the system announced a
  // change); returns the generation after the look.
  static std::uint64_t timeZoneMayHaveChanged();
  // Pins the calendar to one zone until called again; nullptr (or "") returns to following the
  // system. Tests only.
  static void resetTimeZoneForTesting(const char* olsonId);
};
