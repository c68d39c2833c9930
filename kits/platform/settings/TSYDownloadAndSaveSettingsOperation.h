#pragma once
// TSYDownloadAndSaveSettingsOperation: downloads the kit settings (at most two sends) and puts the
// reply in place as "settings.json", replacing the previous file by rename so that a failure never
// leaves the cache without one. Tells its delegate, then finishes with the same error. Started
// directly by the settings manager; completes on the network client's callback queue.

#include <filesystem>
#include <memory>
#include <string>

#include "kits/platform/net/TSYNetworkClient.h"
#include "kits/platform/settings/TSYNetworkOperation.h"

class TSYDownloadAndSaveSettingsOperation;

class TSYDownloadAndSaveSettingsOperationDelegate {
 public:
  virtual ~TSYDownloadAndSaveSettingsOperationDelegate() = default;
  virtual void operationDidDownloadAndSaveSettingsWithError(
      const std::shared_ptr<TSYDownloadAndSaveSettingsOperation>& operation,
      const tw::ErrorPtr& error) = 0;
};

class TSYDownloadAndSaveSettingsOperation : public TSYNetworkOperation {
 public:
  TSYDownloadAndSaveSettingsOperation(
      std::string apiKey, std::weak_ptr<TSYDownloadAndSaveSettingsOperationDelegate> delegate,
      std::string settingsURL, std::filesystem::path settingsDirectoryPath,
      std::filesystem::path settingsFilePath, std::string installIdentifier,
      std::weak_ptr<TSYNetworkClient> networkClient);

  tw::URLRequest mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(
      const std::string& url) const override;
  std::string className() const override { return "TSYDownloadAndSaveSettingsOperation"; }

  tw::ErrorPtr error() const { return error_; }
  const std::string& settingsURL() const { return settingsURL_; }

 protected:
  void main() override;

 private:
  void finishWith(const tw::ErrorPtr& error);

  std::weak_ptr<TSYDownloadAndSaveSettingsOperationDelegate> delegate_;
  tw::ErrorPtr error_;
  std::string settingsURL_;
  std::filesystem::path settingsDirectoryPath_;
  std::filesystem::path settingsFilePath_;
  std::string installIdentifier_;
  std::weak_ptr<TSYNetworkClient> networkClient_;
};
