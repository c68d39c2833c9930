#pragma once
// tw::ProcessInfo: facts about this process and the machine it runs on: identity, environment,
// host, operating system version, processors, memory and uptime. One shared instance; every
// query reads the system afresh except the name and OS version, which cannot change while the
// process runs. Any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace tw {

struct OperatingSystemVersion {
  std::int64_t majorVersion = 0;
  std::int64_t minorVersion = 0;
  std::int64_t patchVersion = 0;
};

class ProcessInfo {
 public:
  static ProcessInfo& processInfo();

  int processIdentifier() const;
  // The executable's file name.
  const std::string& processName() const;
  // A variable of the environment; nullopt when unset (set-but-empty gives "").
  std::optional<std::string> environmentValue(std::string_view name) const;
  // The whole environment as name -> string.
  Dictionary environment() const;
  std::string hostName() const;
  // "<PRETTY_NAME of os-release> (Linux <kernel release>)", e.g.
  // "Debian GNU/Linux 12 (bookworm) (Linux 6.1.0-18-amd64)".
  const std::string& operatingSystemVersionString() const;
  // The kernel release as numbers ("6.1.0-18-amd64" -> 6, 1, 0).
  OperatingSystemVersion operatingSystemVersion() const;
  unsigned activeProcessorCount() const;
  unsigned processorCount() const;
  std::uint64_t physicalMemory() const;
  // Seconds since an arbitrary fixed point of the process clock (monotonic; virtual in tests).
  double systemUptime() const;

 private:
  ProcessInfo();
  std::string name_;
  std::string osVersionString_;
  OperatingSystemVersion osVersion_;
};

}  // namespace tw
