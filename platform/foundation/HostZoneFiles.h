#pragma once
// Where the host keeps its time zone: the files the zone is read from. The date helpers (which
// detect the zone) and the zone monitor (which watches for its change) both find them here, so
// the two agree on which file counts. Pure functions of TZ and constants; any thread.

#include <optional>
#include <string>
#include <string_view>

namespace tw::hostzone {

// The system's zone: a link into the zoneinfo folder, or a copy of one of its files.
inline constexpr const char* kLocaltimePath = "/etc/localtime";
// The system's zone by name, on systems that keep one beside /etc/localtime.
inline constexpr const char* kTimezonePath = "/etc/timezone";
// The compiled zone files, one per Olson ID.
inline constexpr const char* kZoneinfoPath = "/usr/share/zoneinfo";

// The zone file a TZ value names, as the C library reads it: ":/path" and "/path" name a file,
// ":Name" a file below the zoneinfo folder; a rule string (or "", or ":") names none.
std::optional<std::string> zoneFileNamedByTz(std::string_view tz);

// The file the zone is read from under the present TZ: the one TZ names when TZ is set (none for
// a rule string), else /etc/localtime.
std::optional<std::string> currentZoneFile();

}  // namespace tw::hostzone
