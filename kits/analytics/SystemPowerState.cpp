#include "kits/analytics/SystemPowerState.h"

#include <systemd/sd-bus.h>

#include <cstdint>

namespace tw {

std::string SystemPowerState::current(double timeoutSeconds) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return kUnknown;
  // A daemon that does not answer soon must not hold up an upload.
  sd_bus_set_method_call_timeout(bus, static_cast<std::uint64_t>(timeoutSeconds * 1e6));
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int onBattery = 0;
  int r =
      sd_bus_get_property_trivial(bus, "org.freedesktop.UPower", "/org/freedesktop/UPower",
                                  "org.freedesktop.UPower", "OnBattery", &error, 'b', &onBattery);
  sd_bus_error_free(&error);
  sd_bus_flush_close_unref(bus);
  if (r < 0) return kUnknown;
  return onBattery ? kBattery : kExternalPower;
}

}  // namespace tw
