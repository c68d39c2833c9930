#include "kits/analytics/ORVSettings.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "kits/analytics/ORVEvent.h"
#include "kits/platform/KitServiceEndpoints.h"

const tw::Value& ORVSettings::entry(const char* section, const char* key) const {
  if (!settingsDictionary_) return tw::Value::null();
  auto it = settingsDictionary_->find(section);
  if (it == settingsDictionary_->end() || !it->second.dictionary()) return tw::Value::null();
  return it->second[key];
}

// Entries of an unexpected type count as missing.
bool ORVSettings::boolEntry(const char* section, const char* key, bool fallback) const {
  const auto& v = entry(section, key);
  return v.isBool() || v.isNumber() ? v.boolValue() : fallback;
}

std::int64_t ORVSettings::intEntry(const char* section, const char* key,
                                   std::int64_t fallback) const {
  const auto& v = entry(section, key);
  return v.isNumber() ? v.integerValue() : fallback;
}

double ORVSettings::doubleEntry(const char* section, const char* key, double fallback) const {
  const auto& v = entry(section, key);
  return v.isNumber() ? v.doubleValue() : fallback;
}

std::string ORVSettings::orisethURL() const {
  const auto& v = entry("analytics", "url");
  return v.isString() && !v.string()->empty() ? *v.string() : tw::kitservice::kDefaultEventsURL;
}
bool ORVSettings::shouldCollectAnalytics() const {
  return boolEntry("features", "collect_analytics", true);
}
bool ORVSettings::shouldCollectCustomEvents() const {
  return boolEntry("analytics", "track_custom_events", true);
}
bool ORVSettings::shouldCollectPredefinedEvents() const {
  return boolEntry("analytics", "track_predefined_events", true);
}
bool ORVSettings::shouldForwardToEmberlynAnalytics() const {
  return boolEntry("analytics", "forward_to_halvern_analytics", false);
}
bool ORVSettings::shouldIncludePurchaseEventsInForwardedEmberlynEvents() const {
  return boolEntry("analytics", "include_purchase_events_in_forwarded_events", false);
}
std::int64_t ORVSettings::maximumPayloadSize() const {
  return intEntry("analytics", "max_byte_size_per_file", 8000);
}
std::int64_t ORVSettings::maxPendingSendFiles() const {
  return intEntry("analytics", "max_pending_send_file_count", 100);
}
double ORVSettings::flushInterval() const {
  return doubleEntry("analytics", "flush_interval_secs", 0.0);
}
std::int64_t ORVSettings::samplingRate() const { return intEntry("analytics", "sampling_rate", 1); }
double ORVSettings::defaultUploadTimeout() const {
  return doubleEntry("analytics", "upload_timeout_secs", 21600.0);
}
double ORVSettings::lowPowerUploadTimeout() const {
  return doubleEntry("analytics", "low_power_upload_timeout_secs", 3600.0);
}

bool ORVEventFilter::shouldDiscardEvent(const ORVEvent* event,
                                        const std::optional<std::string>& betaToken,
                                        const std::optional<std::string>& installationID,
                                        std::int64_t factor) const {
  if (!event) return true;
  if (betaToken) return false;
  if (!samplingEnabledForEventType(event->name())) return false;
  return shouldDiscardEventWithInstallationID(installationID, factor);
}

bool ORVEventFilter::samplingEnabledForEventType(const std::string& name) const {
  // Plain constants: an analytics worker can still be filtering events while the exit handlers
  // run, so nothing it reads here may have a destructor.
  static constexpr std::array<std::string_view, 8> sampled{
      "app_launched",        "app_terminated",         "app_crashed",
      "app_memory_warning",  "app_entered_background", "app_entered_foreground",
      "app_became_inactive", "app_became_active"};
  return std::find(sampled.begin(), sampled.end(), name) != sampled.end();
}

bool ORVEventFilter::shouldDiscardEventWithInstallationID(
    const std::optional<std::string>& installationID, std::int64_t factor) const {
  if (!installationID || factor < 2) return false;
  std::int64_t hash = javaHashCodeForString(*installationID);
  return hash % factor != 0;
}

std::int32_t ORVEventFilter::javaHashCodeForString(const std::string& s) {
  std::uint32_t h = 0;
  auto add = [&h](std::uint32_t unit) { h = 31u * h + unit; };
  for (std::size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    std::uint32_t cp;
    std::size_t n = c < 0x80           ? 1
                    : (c >> 5) == 0x6  ? 2
                    : (c >> 4) == 0xE  ? 3
                    : (c >> 3) == 0x1E ? 4
                                       : 0;
    bool ok = n != 0 && i + n <= s.size();
    for (std::size_t k = 1; ok && k < n; ++k)
      ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    if (!ok) {  // a malformed byte counts as U+FFFD
      add(0xFFFD);
      ++i;
      continue;
    }
    cp = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
    for (std::size_t k = 1; k < n; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      add(0xD800 + (cp >> 10));
      add(0xDC00 + (cp & 0x3FF));
    } else {
      add(cp);
    }
    i += n;
  }
  return static_cast<std::int32_t>(h);
}
