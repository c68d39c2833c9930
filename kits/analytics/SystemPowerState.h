#pragma once
// tw::SystemPowerState: the machine's power state as the analytics uploader needs it, read from
// the power daemon (upower) on the system bus: "battery" while the machine runs on battery,
// "ac" otherwise, "unknown" when there is no bus or no daemon (or it does not answer in time).
// The uploader counts "battery" as its low-power mode; the state is read afresh each time the
// uploader wants its session, and a change replaces the session. Stateless; any
// thread; each read opens its own connection and may block for up to the time-out.
#include <string>

namespace tw {

class SystemPowerState {
 public:
  static constexpr const char* kBattery = "battery";
  static constexpr const char* kExternalPower = "ac";
  static constexpr const char* kUnknown = "unknown";

  static std::string current(double timeoutSeconds = 0.25);
  static bool isLowPower(const std::string& state) { return state == kBattery; }
};

}  // namespace tw
