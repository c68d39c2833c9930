#include "kits/analytics/SystemPowerState.h"

#include <systemd/sd-bus.h>

#include <cstdint>

#include "platform/desktop/BusConnection.h"

namespace tw {

std::string SystemPowerState::current(double timeoutSeconds) {
  const BusConnection bus = BusConnection::open(BusConnection::Bus::System);
  if (!bus) return kUnknown;
  // A daemon that does not answer soon must not hold up an upload.
  sd_bus_set_method_call_timeout(bus.get(), static_cast<std::uint64_t>(timeoutSeconds * 1e6));
  BusError error;
  int onBattery = 0;
  const int r = sd_bus_get_property_trivial(bus.get(), "org.freedesktop.UPower",
                                            "/org/freedesktop/UPower", "org.freedesktop.UPower",
                                            "OnBattery", error.get(), 'b', &onBattery);
  if (r < 0) return kUnknown;
  return onBattery ? kBattery : kExternalPower;
}

}  // namespace tw
