#include "core/Source/Model/BTStoredValueClamp.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "core/Source/Library/BTTime.h"
#include "platform/foundation/Log.h"

namespace {

void noteClamped(const tw::store::ManagedObject& object, std::string_view key,
                 const std::string& raw, const std::string& shown) {
  static std::mutex mutex;
  static auto* logged = new std::set<std::pair<const void*, std::string>>;  // outlives exit
  {
    std::lock_guard lock(mutex);
    if (!logged->emplace(&object, std::string(key)).second) return;
  }
  std::string entity = "object";
  try {
    entity = object.entity().name();
  } catch (...) {
    // Not made by a context: the plain word will do.
  }
  tw::logf(
      "<BTStoredValueClamp> The stored %@ of %@ %@ is %@, beyond what can be shown: it is "
      "read as %@",
      std::string(key), entity, std::to_string(object.objectID()), raw, shown);
}

std::string text(double d) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", d);
  return buffer;
}

}  // namespace

std::int64_t BTStoredValueClamp::field(const tw::store::ManagedObject& object, std::string_view key,
                                       std::int64_t raw, std::int64_t low, std::int64_t high) {
  const std::int64_t held = std::clamp(raw, low, high);
  if (held != raw) noteClamped(object, key, std::to_string(raw), std::to_string(held));
  return held;
}

double BTStoredValueClamp::seconds(const tw::store::ManagedObject& object, std::string_view key,
                                   double raw) {
  const double held =
      std::isnan(raw) ? 0.0 : std::clamp(raw, -kBTTimeLargestSeconds, kBTTimeLargestSeconds);
  if (!(held == raw)) noteClamped(object, key, text(raw), text(held));
  return held;
}
