#pragma once
// SystemEventActionUtil: the system-event action's effect over D-Bus. Sleep suspends through
// login1 on the system bus. Log out, restart and shut down go to the desktop's session manager
// on the session bus when one answers (GNOME, KDE, Xfce, tried in that order), else to login1
// (TerminateSession of our own session, Reboot, PowerOff). A failure is logged and reported as
// false, never as success.
//
// Class methods only; main thread (the calls block briefly).

#include <cstdint>
#include <memory>
#include <string>

class BTSystemEventActionProtocol;

class SystemEventActionUtil {
 public:
  // 1 sleep, 2 log out, 3 restart, 4 shut down; any other type runs nothing and gives false.
  static bool performSystemEventWithAction(
      const std::shared_ptr<BTSystemEventActionProtocol>& action);
  static bool performSystemEvent(std::int64_t type);
  // The verb of a type ("sleep", "log out", "restart", "shut down"); empty for another type.
  static std::string verbForType(std::int64_t type);
};
