#pragma once
// tw::TimeZoneMonitor: tells the process when the system's time zone may have changed and when
// the machine woke from sleep, so that whatever holds moments computed from wall times can
// compute them again.
//   - The zone file is watched (inotify on its folder, so a file replaced by a rename counts):
//     the file TZ names (":/path", "/path" or ":Name" below the zoneinfo folder), else
//     /etc/localtime and /etc/timezone.
//   - On the system bus, when there is one: the time-date service's PropertiesChanged of
//     "Timezone", and login1's PrepareForSleep(false), sent when the machine has woken.
// Either posts, on the main queue, kSystemTimeZoneDidChangeNotification (a zone change; userInfo
// "timeZone" holds the zone the service announced, when it did) or kWorkspaceDidWakeNotification.
// The monitor only says that something may have changed: the zone itself is read from its
// sources by whoever listens. A missing bus is logged once and the file is still watched.
//
// Owned by the application (one for the process); watches on a thread of its own, stopped and
// joined by the destructor. Create and destroy on one thread.

#include <memory>
#include <string>

namespace tw {

inline constexpr const char* kSystemTimeZoneDidChangeNotification =
    "NSSystemTimeZoneDidChangeNotification";
inline constexpr const char* kWorkspaceDidWakeNotification = "NSWorkspaceDidWakeNotification";

class TimeZoneMonitor {
 public:
  TimeZoneMonitor();
  ~TimeZoneMonitor();
  TimeZoneMonitor(const TimeZoneMonitor&) = delete;
  TimeZoneMonitor& operator=(const TimeZoneMonitor&) = delete;

  // Whether the file watch and (when a system bus answered) the bus watches are in place,
  // waiting up to `timeoutSeconds`. For tests, which change things only once watched.
  bool waitUntilWatching(double timeoutSeconds) const;
  // Whether the system bus watches are in place.
  bool watchesSystemBus() const;

  // The file the zone is read from under the present TZ; empty for a rule string.
  static std::string zoneFilePath();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace tw
