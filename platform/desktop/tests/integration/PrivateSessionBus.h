#pragma once
// A message bus of the test's own: a dbus-daemon on a socket in a temporary folder, with a
// minimal configuration (no service activation, everything allowed). While it lives,
// DBUS_SESSION_BUS_ADDRESS points at it; the previous value comes back afterwards. Test-only;
// create and destroy on the test's thread.

#include <sys/types.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/testsupport/TestSupport.h"

namespace tw::test {

class PrivateSessionBus {
 public:
  PrivateSessionBus();
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  // False when the daemon could not be started; `failure()` says why.
  bool ok() const { return pid_ > 0; }
  const std::string& failure() const { return failure_; }
  const std::string& address() const { return address_; }

 private:
  TempDir dir_;
  pid_t pid_ = -1;
  std::string address_;
  std::string failure_;
  std::string savedAddress_;
  bool hadAddress_ = false;
};

// Points DBUS_SESSION_BUS_ADDRESS somewhere for its lifetime.
class ScopedBusAddress {
 public:
  explicit ScopedBusAddress(const std::string& address);
  ~ScopedBusAddress();

 private:
  std::string saved_;
  bool had_ = false;
};

// Starts `argv` with stdout and stderr going to `logFile` and, when `environment` is not null,
// exactly that environment; -1 on failure.
pid_t spawnProcess(const std::vector<std::string>& argv, const std::string& logFile,
                   const std::vector<std::string>* environment = nullptr);
// Whether a unix socket accepts connections at `path`, trying until `timeoutSeconds` pass or
// the process `pid` ends.
bool waitForSocket(const std::string& path, pid_t pid, double timeoutSeconds);
// SIGTERM, then SIGKILL if it has not ended within a few seconds; reaps it.
void stopProcess(pid_t pid);

// Points DBUS_SYSTEM_BUS_ADDRESS at a private bus (one made by PrivateSessionBus standing in for
// the system bus) while it lives; the previous value comes back afterwards.
class ScopedSystemBusAddress {
 public:
  explicit ScopedSystemBusAddress(const std::string& address) {
    if (const char* v = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) saved_ = v;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
  }
  ~ScopedSystemBusAddress() {
    if (saved_) {
      ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_->c_str(), 1);
    } else {
      ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
  }
  ScopedSystemBusAddress(const ScopedSystemBusAddress&) = delete;
  ScopedSystemBusAddress& operator=(const ScopedSystemBusAddress&) = delete;

 private:
  std::optional<std::string> saved_;
};

}  // namespace tw::test
