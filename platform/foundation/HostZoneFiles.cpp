#include "platform/foundation/HostZoneFiles.h"

#include <cstdlib>

namespace tw::hostzone {

std::optional<std::string> zoneFileNamedByTz(std::string_view tz) {
  if (tz.starts_with(':')) {
    tz.remove_prefix(1);
  } else if (!tz.starts_with('/')) {
    return std::nullopt;
  }
  if (tz.empty()) return std::nullopt;
  if (tz.starts_with('/')) return std::string(tz);
  return std::string(kZoneinfoPath) + "/" + std::string(tz);
}

std::optional<std::string> currentZoneFile() {
  const char* tz = std::getenv("TZ");
  if (!tz) return std::string(kLocaltimePath);
  return zoneFileNamedByTz(tz);
}

}  // namespace tw::hostzone
