#pragma once
// MVXSettings: the crash kit's read-only view of its switches, limits, endpoints and prompt texts,
// combining the downloaded kit settings, the Info.plist "Morvex" dictionary (which environment
// variables named "Morvex" + key override) and fixed defaults. A new object is made from the
// registry's current settings each time one is asked for; immutable afterwards, any thread.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class MVXSettings {
 public:
  explicit MVXSettings(std::optional<tw::Dictionary> settingsDictionary = std::nullopt)
      : settingsDictionary_(std::move(settingsDictionary)) {}
  // From the registry's settings value (null or not a dictionary: nothing downloaded yet).
  static MVXSettings withSettingsValue(const tw::Value& settings);

  const std::optional<tw::Dictionary>& settingsDictionary() const { return settingsDictionary_; }

  // Downloaded switches and limits.
  bool crashReportingEnabled() const;
  bool errorReportingEnabled() const;
  bool customExceptionsEnabled() const { return errorReportingEnabled(); }
  bool userPromptEnabled() const;
  bool emberlynMorvexEnabled() const;
  std::uint32_t logBufferSize() const;
  std::uint32_t errorLogBufferSize() const { return logBufferSize(); }
  std::uint32_t maxCustomExceptions() const;
  std::uint32_t maxCustomKeys() const;
  double betaSuspendDuration() const;

  // Configuration.
  static std::optional<tw::Dictionary> configuration();
  static tw::Dictionary defaultConfiguration();
  static tw::Value valueForConfigurationKey(const std::string& key);
  std::string reportsEndpoint() const;
  std::string betaEndpoint() const;
  bool shouldPackageReports() const;
  bool shouldSubmitReports() const;
  bool canProcessUrgentReports() const;

  // Prompt texts: the application's localisation wins over the downloaded text.
  std::string promptValueForSettingsKey(const std::string& settingsKey,
                                        const std::string& localizedKey,
                                        const std::string& defaultValue) const;
  std::string interactivePromptTitle() const;
  std::string interactivePromptMessage() const;
  std::string interactivePromptCancelTitle() const;
  std::string interactivePromptSendTitle() const;
  std::string interactivePromptAlwaysSendTitle() const;

 private:
  const tw::Value& entry(const char* group, const char* key) const;
  bool boolEntry(const char* group, const char* key, bool fallback) const;
  std::uint32_t uint32Entry(const char* group, const char* key, std::uint32_t fallback) const;

  std::optional<tw::Dictionary> settingsDictionary_;
};
