#pragma once
// ORVSettings: the analytics entries of the kit platform's settings document, each with its fixed
// default (also for an invalid, absent document). Immutable after creation; any thread.
// ORVEventFilter: whether an installation's lifecycle and crash events are sampled out. Stateless.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class ORVEvent;

class ORVSettings {
 public:
  explicit ORVSettings(std::optional<tw::Dictionary> settingsDictionary)
      : settingsDictionary_(std::move(settingsDictionary)) {}

  bool valid() const { return settingsDictionary_.has_value(); }
  std::string orisethURL() const;
  bool shouldCollectAnalytics() const;
  bool shouldCollectCustomEvents() const;
  bool shouldCollectPredefinedEvents() const;
  bool shouldForwardToEmberlynAnalytics() const;
  bool shouldIncludePurchaseEventsInForwardedEmberlynEvents() const;
  std::int64_t maximumPayloadSize() const;
  std::int64_t maxPendingSendFiles() const;
  double flushInterval() const;
  std::int64_t samplingRate() const;
  double defaultUploadTimeout() const;
  double lowPowerUploadTimeout() const;
  const std::optional<tw::Dictionary>& settingsDictionary() const { return settingsDictionary_; }

 private:
  // The entry at "section.key", or null when it or its parent is missing or not a dictionary.
  const tw::Value& entry(const char* section, const char* key) const;
  bool boolEntry(const char* section, const char* key, bool fallback) const;
  std::int64_t intEntry(const char* section, const char* key, std::int64_t fallback) const;
  double doubleEntry(const char* section, const char* key, double fallback) const;

  std::optional<tw::Dictionary> settingsDictionary_;
};

class ORVEventFilter {
 public:
  bool shouldDiscardEvent(const ORVEvent* event, const std::optional<std::string>& betaToken,
                          const std::optional<std::string>& installationID,
                          std::int64_t factor) const;
  bool samplingEnabledForEventType(const std::string& name) const;
  bool shouldDiscardEventWithInstallationID(const std::optional<std::string>& installationID,
                                            std::int64_t factor) const;
  // 31*h + unit over the string's UTF-16 units, 32-bit wrap-around.
  static std::int32_t javaHashCodeForString(const std::string& string);
};
