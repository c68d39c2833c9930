#pragma once
// TSYSettings: the kit settings as cached in "settings.json", and the settings URL. The parsed
// dictionary is an immutable snapshot swapped under a lock, so the kits may read it from any
// queue while a download replaces it. Owned by the settings manager.

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class TSYSettings {
 public:
  explicit TSYSettings(std::filesystem::path settingsPath)
      : settingsPath_(std::move(settingsPath)) {}

  // The cached settings; null without a readable file. A folder in its place, or a file that is
  // not a JSON object, is logged and moved aside (never deleted); a file that cannot be read now
  // is logged once and left where it is.
  tw::Value settingsDictionary();
  void clearSettingsDictionary();

  bool appUpdateRequired();
  bool appNeedsOnboarding();
  // nullopt when absent, null or of another type.
  std::optional<tw::Dictionary> appSettings();
  std::optional<std::string> appStatus();
  static std::string appBundleIdentifier();
  static std::string appPlatform() { return "mac"; }
  static std::string appBuildVersion();
  static std::string appDisplayVersion();
  static int appSource();
  // nullopt when the result is not a valid URL.
  static std::optional<std::string> settingsURLForEndpoint(
      const std::string& endpoint, const std::optional<std::string>& instanceIdentifier);

  const std::filesystem::path& settingsPath() const { return settingsPath_; }

 private:
  std::filesystem::path settingsPath_;
  // Guards snapshot_ and unreadableLogged_.
  std::mutex mutex_;
  std::shared_ptr<const tw::Value> snapshot_;
  // The cache could not be read (and stays where it is): said once, not at every look.
  bool unreadableLogged_ = false;
};
