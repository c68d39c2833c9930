#include "kits/platform/settings/TSYSettingsOnboardingManager.h"

#include <cstdlib>

#include "kits/platform/KitServiceEndpoints.h"
#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/Tessaly.h"
#include "kits/platform/net/TSYPinnedCertificates.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"

namespace {
// Every registry made while this library is loaded holds a settings flow of this kind.
[[maybe_unused]] const bool gFactoryInstalled = [] {
  Tessaly::setSettingsFlowFactory([](const std::string& installID) {
    return TSYSettingsOnboardingManager::create(TSYApplicationIdentiferModel::create(installID),
                                                installID);
  });
  return true;
}();
}  // namespace

std::shared_ptr<TSYSettingsOnboardingManager> TSYSettingsOnboardingManager::create(
    std::shared_ptr<const TSYApplicationIdentiferModel> model, std::string installID) {
  std::shared_ptr<TSYSettingsOnboardingManager> manager(new TSYSettingsOnboardingManager());
  manager->appIdentifierModel_ = std::move(model);
  manager->installID_ = std::move(installID);
  manager->settingsModel_ = std::make_shared<TSYSettings>(manager->settingsPath());
  manager->networkClient_ = TSYNetworkClient::createWithQueue(nullptr, TSYPinnedCertificates());
  return manager;
}

std::filesystem::path TSYSettingsOnboardingManager::settingsDirectoryPath() {
  return tw::paths::cacheHome() / (std::string(TSYSDKBundleIdentifier) + ".data") /
         tw::kitMainBundle()->bundleIdentifier();
}

void TSYSettingsOnboardingManager::debugLog(const std::string& message) {
  if (Tessaly::sharedSDK()->debug()) tw::log(message);
}

std::string TSYSettingsOnboardingManager::valueForConfigurationKey(const std::string& key) {
  if (const char* value = std::getenv(key.c_str()); value && *value) return value;
  const tw::Value& morvex = tw::kitMainBundle()->objectForInfoDictionaryKey("Morvex");
  if (const auto* text = morvex[key].string()) return *text;
  if (key == "SettingsEndpoint") return tw::kitservice::kDefaultSettingsEndpoint;
  if (key == "ConfigureEndpoint") return tw::kitservice::kDefaultConfigureEndpoint;
  return {};
}

std::optional<std::string> TSYSettingsOnboardingManager::settingsURL() const {
  std::optional<std::string> instance;
  if (appIdentifierModel_) instance = appIdentifierModel_->instanceIdentifier();
  return TSYSettings::settingsURLForEndpoint(valueForConfigurationKey("SettingsEndpoint"),
                                             instance);
}

tw::Value TSYSettingsOnboardingManager::settingsDictionary() const {
  return settingsModel_->settingsDictionary();
}

void TSYSettingsOnboardingManager::beginSettingsAndOnboardingOperations(
    const std::string& apiKey, const tw::Dictionary& kitVersionsByBundleId) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    APIKey_ = apiKey;
    kitVersionsByKitBundleIdentifier_ = kitVersionsByBundleId;
  }
  beginSettingsDownload();
}

void TSYSettingsOnboardingManager::beginSettingsDownload() {
  auto url = settingsURL();
  std::shared_ptr<TSYDownloadAndSaveSettingsOperation> operation;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    operation = std::make_shared<TSYDownloadAndSaveSettingsOperation>(
        APIKey_, weak_from_this(), url.value_or(""), settingsDirectoryPath(), settingsPath(),
        installID_, networkClient_);
    downloadOperation_ = operation;
  }
  operation->start();
}

void TSYSettingsOnboardingManager::beginOnboarding(bool create, const std::string& endpoint) {
  std::shared_ptr<TSYOnboardingOperation> operation;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (onboardingOperation_) onboardingOperation_->cancel();
    operation = std::make_shared<TSYOnboardingOperation>(
        weak_from_this(), create, APIKey_, kitVersionsByKitBundleIdentifier_, appIdentifierModel_,
        endpoint, networkClient_);
    onboardingOperation_ = operation;
  }
  operation->start();
}

void TSYSettingsOnboardingManager::finishNetworkingSession() {
  networkClient_->invalidateAndCancel();
}

void TSYSettingsOnboardingManager::postSettingsDownloadCompletedNotification() {
  debugLog("[Tessaly] Settings are available for consumption");
  tw::NotificationCenter::defaultCenter()->post(TSYSettingsAvailableNotification);
}

void TSYSettingsOnboardingManager::operationDidDownloadAndSaveSettingsWithError(
    const std::shared_ptr<TSYDownloadAndSaveSettingsOperation>&, const tw::ErrorPtr& error) {
  if (error) {
    tw::log("[Tessaly] failed to download settings " + error->localizedDescription());
    finishNetworkingSession();
    return;
  }
  debugLog("[Tessaly] settings downloaded successfully");
  settingsModel_->clearSettingsDictionary();
  bool attempted;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    attempted = hasAttemptedAppConfigure_;
  }
  if (attempted) {
    debugLog("[Tessaly] App already onboarded in this run of the app");
    postSettingsDownloadCompletedNotification();
    finishNetworkingSession();
    return;
  }
  if (settingsModel_->appNeedsOnboarding()) {
    debugLog("[Tessaly] Starting onboarding with app create");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      hasAttemptedAppConfigure_ = true;
    }
    beginOnboarding(true, valueForConfigurationKey("ConfigureEndpoint"));
    return;
  }
  postSettingsDownloadCompletedNotification();
  if (settingsModel_->appUpdateRequired()) {
    debugLog("[Tessaly] Starting onboarding with app update");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      hasAttemptedAppConfigure_ = true;
    }
    beginOnboarding(false, valueForConfigurationKey("ConfigureEndpoint"));
  } else {
    finishNetworkingSession();
  }
}

void TSYSettingsOnboardingManager::onboardingOperationDidCompleteAppCreationWithError(
    const std::shared_ptr<TSYOnboardingOperation>&, const tw::ErrorPtr& error) {
  if (error) {
    tw::log("[Tessaly] unable to complete application configure: " + error->localizedDescription());
    finishNetworkingSession();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    onboardingOperation_.reset();
  }
  debugLog("[Tessaly] completed configure");
  beginSettingsDownload();
}

void TSYSettingsOnboardingManager::onboardingOperationDidCompleteAppUpdateWithError(
    const std::shared_ptr<TSYOnboardingOperation>&, const tw::ErrorPtr& error) {
  finishNetworkingSession();
  if (error) {
    tw::log("[Tessaly] unable to complete application update: " + error->localizedDescription());
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    onboardingOperation_.reset();
  }
  debugLog("[Tessaly] completed application update");
}
