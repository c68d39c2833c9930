#include "app/Source/Actions/SystemEventActionUtil.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <functional>

#include "core/Source/Model/BTSystemEventActionProtocol.h"
#include "platform/desktop/BusConnection.h"
#include "platform/foundation/Log.h"

namespace {

using tw::BusConnection;
using tw::BusError;
using tw::BusMessage;

// One method call; `append` adds the arguments. True when the call was answered without error.
bool call(sd_bus* bus, const char* destination, const char* path, const char* interface,
          const char* member, const std::function<int(sd_bus_message*)>& append,
          std::string* error = nullptr) {
  BusMessage message;
  BusMessage reply;
  BusError failure;
  int r = sd_bus_message_new_method_call(bus, message.out(), destination, path, interface, member);
  if (r >= 0 && append) r = append(message.get());
  if (r >= 0)
    r = sd_bus_call(bus, message.get(), std::uint64_t{5} * 1000 * 1000, failure.get(), reply.out());
  if (r < 0 && error)
    *error =
        failure.message() ? failure.message() : (failure.name() ? failure.name() : "call failed");
  return r >= 0;
}

bool hasOwner(sd_bus* bus, const char* name) {
  BusMessage reply;
  BusError failure;
  int has = 0;
  const int r = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                   "org.freedesktop.DBus", "NameHasOwner", failure.get(),
                                   reply.out(), "s", name);
  if (r >= 0) sd_bus_message_read(reply.get(), "b", &has);
  return r >= 0 && has;
}

constexpr const char* kLogin1 = "org.freedesktop.login1";
constexpr const char* kLogin1Path = "/org/freedesktop/login1";
constexpr const char* kLogin1Manager = "org.freedesktop.login1.Manager";

// Through the session manager of the desktop; false when none answers.
bool viaSessionManager(std::int64_t type, std::string& error) {
  const BusConnection session = BusConnection::open(BusConnection::Bus::Session);
  if (!session) return false;
  sd_bus* bus = session.get();
  if (hasOwner(bus, "org.gnome.SessionManager")) {
    const char* member = type == 2 ? "Logout" : type == 3 ? "Reboot" : "Shutdown";
    auto args = [type](sd_bus_message* m) -> int {
      return type == 2 ? sd_bus_message_append(m, "u", 1u) : 0;  // 1: no confirmation
    };
    return call(bus, "org.gnome.SessionManager", "/org/gnome/SessionManager",
                "org.gnome.SessionManager", member, args, &error);
  }
  if (hasOwner(bus, "org.kde.LogoutPrompt")) {
    const char* member = type == 2 ? "promptLogout" : type == 3 ? "promptReboot" : "promptShutDown";
    return call(bus, "org.kde.LogoutPrompt", "/LogoutPrompt", "org.kde.LogoutPrompt", member,
                nullptr, &error);
  }
  if (hasOwner(bus, "org.xfce.SessionManager")) {
    const char* member = type == 2 ? "Logout" : type == 3 ? "Restart" : "Shutdown";
    auto args = [type](sd_bus_message* m) -> int {
      return type == 2 ? sd_bus_message_append(m, "bb", 0, 1) : sd_bus_message_append(m, "b", 1);
    };
    return call(bus, "org.xfce.SessionManager", "/org/xfce/SessionManager",
                "org.xfce.Session.Manager", member, args, &error);
  }
  error.clear();
  return false;
}

bool viaLogin1(std::int64_t type, std::string& error) {
  const BusConnection system = BusConnection::open(BusConnection::Bus::System);
  if (!system) {
    error = "no system bus";
    return false;
  }
  sd_bus* bus = system.get();
  switch (type) {
    case 1:
      return call(
          bus, kLogin1, kLogin1Path, kLogin1Manager, "Suspend",
          [](sd_bus_message* m) { return sd_bus_message_append(m, "b", 1); }, &error);
    case 2: {
      // Our own session: the one this process belongs to, else the environment's.
      char* id = nullptr;
      std::string session;
      if (sd_pid_get_session(getpid(), &id) >= 0 && id) session = id;
      free(id);
      if (session.empty())
        if (const char* env = getenv("XDG_SESSION_ID")) session = env;
      if (session.empty()) {
        error = "no login session";
        return false;
      }
      return call(
          bus, kLogin1, kLogin1Path, kLogin1Manager, "TerminateSession",
          [session](sd_bus_message* m) { return sd_bus_message_append(m, "s", session.c_str()); },
          &error);
    }
    case 3:
      return call(
          bus, kLogin1, kLogin1Path, kLogin1Manager, "Reboot",
          [](sd_bus_message* m) { return sd_bus_message_append(m, "b", 1); }, &error);
    default:
      return call(
          bus, kLogin1, kLogin1Path, kLogin1Manager, "PowerOff",
          [](sd_bus_message* m) { return sd_bus_message_append(m, "b", 1); }, &error);
  }
}

}  // namespace

std::string SystemEventActionUtil::verbForType(std::int64_t type) {
  switch (type) {
    case 1:
      return "sleep";
    case 2:
      return "log out";
    case 3:
      return "restart";
    case 4:
      return "shut down";
    default:
      return {};
  }
}

bool SystemEventActionUtil::performSystemEventWithAction(
    const std::shared_ptr<BTSystemEventActionProtocol>& action) {
  return action && performSystemEvent(action->systemEventType());
}

bool SystemEventActionUtil::performSystemEvent(std::int64_t type) {
  const std::string verb = verbForType(type);
  if (verb.empty()) return false;
  std::string error;
  if (type != 1 && viaSessionManager(type, error)) return true;
  if (!error.empty()) {
    tw::log(tw::LogLevel::Error, "The session manager refused to " + verb + ": " + error);
    return false;
  }
  if (viaLogin1(type, error)) return true;
  tw::log(tw::LogLevel::Error, "Could not " + verb + ": " + error);
  return false;
}
