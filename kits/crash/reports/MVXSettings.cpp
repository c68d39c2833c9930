#include "kits/crash/reports/MVXSettings.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <set>
#include <utility>

#include "kits/platform/KitServiceEndpoints.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"

MVXSettings MVXSettings::withSettingsValue(const tw::Value& settings) {
  if (const tw::Dictionary* d = settings.dictionary()) return MVXSettings(*d);
  return MVXSettings();
}

const tw::Value& MVXSettings::entry(const char* group, const char* key) const {
  if (!settingsDictionary_) return tw::Value::null();
  auto it = settingsDictionary_->find(group);
  if (it == settingsDictionary_->end() || it->second.dictionary() == nullptr)
    return tw::Value::null();
  return it->second[key];
}

bool MVXSettings::boolEntry(const char* group, const char* key, bool fallback) const {
  const tw::Value& v = entry(group, key);
  if (!v.isBool() && !v.isNumber() && !v.isString()) return fallback;
  return v.boolValue();
}

std::uint32_t MVXSettings::uint32Entry(const char* group, const char* key,
                                       std::uint32_t fallback) const {
  const tw::Value& v = entry(group, key);
  if (!v.isNumber()) return fallback;
  // A negative, fractional overflow or out-of-range figure from the service keeps the default
  // rather than wrapping into a huge or zero buffer.
  const double d = v.doubleValue();
  if (!std::isfinite(d) || d < 0 || d > std::numeric_limits<std::uint32_t>::max()) return fallback;
  return static_cast<std::uint32_t>(v.unsignedValue());
}

bool MVXSettings::crashReportingEnabled() const {
  return boolEntry("features", "collect_reports", true);
}
bool MVXSettings::errorReportingEnabled() const {
  return boolEntry("features", "collect_logged_exceptions", true);
}
bool MVXSettings::userPromptEnabled() const {
  return boolEntry("features", "prompt_enabled", false);
}
bool MVXSettings::emberlynMorvexEnabled() const {
  return boolEntry("features", "emberlyn_morvex_enabled", false);
}
std::uint32_t MVXSettings::logBufferSize() const {
  return uint32Entry("session", "log_buffer_size", 65536);
}
std::uint32_t MVXSettings::maxCustomExceptions() const {
  return uint32Entry("session", "max_custom_exception_events", 16);
}
std::uint32_t MVXSettings::maxCustomKeys() const {
  return uint32Entry("session", "max_custom_key_value_pairs", 16);
}
double MVXSettings::betaSuspendDuration() const {
  const tw::Value& v = entry("beta", "update_suspend_duration");
  if (!v.isNumber() || !std::isfinite(v.doubleValue())) return 3600;
  return v.doubleValue();
}

std::optional<tw::Dictionary> MVXSettings::configuration() {
  if (const tw::Dictionary* d =
          tw::Bundle::main().objectForInfoDictionaryKey("Morvex").dictionary())
    return *d;
  return std::nullopt;
}

tw::Dictionary MVXSettings::defaultConfiguration() {
  return {{"ReportsEndpoint", tw::kitservice::kDefaultReportsEndpoint},
          {"BetaEndpoint", tw::kitservice::kDefaultBetaEndpoint},
          {"PackageReports", true},
          {"SubmitReports", true},
          {"UrgentReports", true}};
}

namespace {

// The settings are read for every report: an override is worth one line per launch.
void logOverrideOnce(const std::string& key, const std::string& value) {
  static std::mutex mutex;  // guards logged
  static auto& logged = *new std::set<std::pair<std::string, std::string>>();
  {
    std::lock_guard lock(mutex);
    if (!logged.emplace(key, value).second) return;
  }
  tw::log(tw::format("[Morvex:Crash] override: '%@' => '%@'", key, value));
}

}  // namespace

tw::Value MVXSettings::valueForConfigurationKey(const std::string& key) {
  const std::string variable = "Morvex" + key;
  if (const char* value = std::getenv(variable.c_str())) {
    logOverrideOnce(key, value);
    return tw::Value(value);
  }
  if (auto config = configuration()) {
    if (auto it = config->find(key); it != config->end() && !it->second.isNull()) return it->second;
  }
  const tw::Dictionary defaults = defaultConfiguration();
  if (auto it = defaults.find(key); it != defaults.end()) return it->second;
  return tw::Value();
}

std::string MVXSettings::reportsEndpoint() const {
  return valueForConfigurationKey("ReportsEndpoint").description();
}
std::string MVXSettings::betaEndpoint() const {
  return valueForConfigurationKey("BetaEndpoint").description();
}
bool MVXSettings::shouldPackageReports() const {
  return valueForConfigurationKey("PackageReports").boolValue();
}
bool MVXSettings::shouldSubmitReports() const {
  return valueForConfigurationKey("SubmitReports").boolValue();
}
bool MVXSettings::canProcessUrgentReports() const {
  return valueForConfigurationKey("UrgentReports").boolValue();
}

std::string MVXSettings::promptValueForSettingsKey(const std::string& settingsKey,
                                                   const std::string& localizedKey,
                                                   const std::string& defaultValue) const {
  const tw::Value& downloaded = entry("prompt", settingsKey.c_str());
  const std::string text = downloaded.isString() ? *downloaded.string() : defaultValue;
  return tw::Bundle::main().localizedString(localizedKey, text, "Morvex");
}

std::string MVXSettings::interactivePromptTitle() const {
  return promptValueForSettingsKey("title", "MorvexCrashSubmissionPromptTitle",
                                   "Send Crash Report?");
}
std::string MVXSettings::interactivePromptMessage() const {
  return promptValueForSettingsKey(
      "message", "MorvexCrashSubmissionPromptMessage",
      "Looks like we crashed! Please help us fix the problem by sending a crash report.");
}
std::string MVXSettings::interactivePromptCancelTitle() const {
  return promptValueForSettingsKey("cancel_button_title", "MorvexCrashSubmissionCancelTitle",
                                   "Don't Send");
}
std::string MVXSettings::interactivePromptSendTitle() const {
  return promptValueForSettingsKey("send_button_title", "MorvexCrashSubmissionSendTitle", "Send");
}
std::string MVXSettings::interactivePromptAlwaysSendTitle() const {
  return promptValueForSettingsKey("always_send_button_title",
                                   "MorvexCrashSubmissionAlwaysSendTitle", "Always Send");
}
