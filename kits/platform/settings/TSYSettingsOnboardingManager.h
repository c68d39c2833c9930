#pragma once
// TSYSettingsOnboardingManager: the kit settings flow of one run. Downloads the settings, keeps
// them as "settings.json" in the user's caches, creates or updates the application's record when
// the reply asks for it (at most once per run) and posts "TSYSettingsAvailableNotification"
// (no object, no user info) on the network client's callback queue when the settings may be
// read. The registry owns one; its callbacks run on the client's queues, settingsDictionary()
// answers from any thread.

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "kits/platform/SettingsOnboardingFlow.h"
#include "kits/platform/net/TSYNetworkClient.h"
#include "kits/platform/settings/TSYApplicationIdentiferModel.h"
#include "kits/platform/settings/TSYDownloadAndSaveSettingsOperation.h"
#include "kits/platform/settings/TSYOnboardingOperation.h"
#include "kits/platform/settings/TSYSettings.h"

inline constexpr const char* TSYSettingsAvailableNotification = "TSYSettingsAvailableNotification";

class TSYSettingsOnboardingManager
    : public tw::SettingsOnboardingFlow,
      public TSYDownloadAndSaveSettingsOperationDelegate,
      public TSYOnboardingOperationDelegate,
      public std::enable_shared_from_this<TSYSettingsOnboardingManager> {
 public:
  // `model` may be null (no "instance" parameter, no model values in the form).
  static std::shared_ptr<TSYSettingsOnboardingManager> create(
      std::shared_ptr<const TSYApplicationIdentiferModel> model, std::string installID);

  // "<caches>/io.tessaly.sdk.mac.data/<bundle identifier>"
  static std::filesystem::path settingsDirectoryPath();
  std::filesystem::path settingsPath() const { return settingsDirectoryPath() / "settings.json"; }

  void beginSettingsAndOnboardingOperations(const std::string& apiKey,
                                            const tw::Dictionary& kitVersionsByBundleId) override;
  tw::Value settingsDictionary() const override;
  void beginSettingsDownload();
  void beginOnboarding(bool create, const std::string& endpointString);
  void finishNetworkingSession();
  // The environment variable, else the Info.plist "Morvex" dictionary, else the built-in default.
  static std::string valueForConfigurationKey(const std::string& key);
  std::optional<std::string> settingsURL() const;
  void postSettingsDownloadCompletedNotification();

  const std::shared_ptr<TSYSettings>& settingsModel() const { return settingsModel_; }
  const std::shared_ptr<TSYNetworkClient>& networkClient() const { return networkClient_; }

  void operationDidDownloadAndSaveSettingsWithError(
      const std::shared_ptr<TSYDownloadAndSaveSettingsOperation>& operation,
      const tw::ErrorPtr& error) override;
  void onboardingOperationDidCompleteAppCreationWithError(
      const std::shared_ptr<TSYOnboardingOperation>& operation, const tw::ErrorPtr& error) override;
  void onboardingOperationDidCompleteAppUpdateWithError(
      const std::shared_ptr<TSYOnboardingOperation>& operation, const tw::ErrorPtr& error) override;

 private:
  TSYSettingsOnboardingManager() = default;
  static void debugLog(const std::string& message);

  std::shared_ptr<const TSYApplicationIdentiferModel> appIdentifierModel_;
  std::shared_ptr<TSYSettings> settingsModel_;
  std::shared_ptr<TSYNetworkClient> networkClient_;
  std::string installID_;
  mutable std::mutex mutex_;  // guards the fields below
  std::shared_ptr<TSYOnboardingOperation> onboardingOperation_;
  std::shared_ptr<TSYDownloadAndSaveSettingsOperation> downloadOperation_;
  bool hasAttemptedAppConfigure_ = false;
  std::string APIKey_;
  tw::Dictionary kitVersionsByKitBundleIdentifier_;
};
