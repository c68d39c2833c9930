#include "kits/platform/settings/TSYDownloadAndSaveSettingsOperation.h"

#include <fstream>

#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/Tessaly.h"
#include "kits/platform/net/TSYNetworkResponseHandler.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UUID.h"

TSYDownloadAndSaveSettingsOperation::TSYDownloadAndSaveSettingsOperation(
    std::string apiKey, std::weak_ptr<TSYDownloadAndSaveSettingsOperationDelegate> delegate,
    std::string settingsURL, std::filesystem::path settingsDirectoryPath,
    std::filesystem::path settingsFilePath, std::string installIdentifier,
    std::weak_ptr<TSYNetworkClient> networkClient)
    : TSYNetworkOperation(std::move(apiKey)),
      delegate_(std::move(delegate)),
      settingsURL_(std::move(settingsURL)),
      settingsDirectoryPath_(std::move(settingsDirectoryPath)),
      settingsFilePath_(std::move(settingsFilePath)),
      installIdentifier_(std::move(installIdentifier)),
      networkClient_(std::move(networkClient)) {}

tw::URLRequest
TSYDownloadAndSaveSettingsOperation::mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(
    const std::string& url) const {
  tw::URLRequest request = mutableRequestWithDefaultHTTPHeadersForURL(url, 10);
  request.method = "GET";
  request.setValue("application/json", "Accept");
  request.setValue(installIdentifier_, "X-Morvex-Installation-ID");
  request.setValue(TSYGetHardwareModel(), "X-Morvex-Device-Model");
  request.setValue(TSYGetOSBuildVersion(), "X-Morvex-OS-Build-Version");
  request.setValue(TSYGetOSDisplayVersion(), "X-Morvex-OS-Display-Version");
  request.setValue(TSYSDKDisplayVersion, "X-Morvex-API-Client-Version");
  return request;
}

void TSYDownloadAndSaveSettingsOperation::main() {
  auto client = networkClient_.lock();
  if (!client) {
    finishWith(TSYNetworkResponseHandler::errorForCode(-3, {}));
    return;
  }
  auto self = std::static_pointer_cast<TSYDownloadAndSaveSettingsOperation>(shared_from_this());
  client->startDownloadTaskWithRequest(
      mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(settingsURL_), 1,
      [self](const std::optional<std::filesystem::path>& location,
             const std::optional<tw::URLResponse>&, tw::ErrorPtr error) {
        if (!error && location) {
          // Copy next to the cache, then rename over it: the old file stays until the new one
          // is complete.
          std::error_code ec;
          std::filesystem::create_directories(self->settingsDirectoryPath_, ec);
          auto temporary = self->settingsDirectoryPath_ / (".settings-" + tw::makeUUIDString());
          std::filesystem::copy_file(*location, temporary,
                                     std::filesystem::copy_options::overwrite_existing, ec);
          if (!ec) std::filesystem::rename(temporary, self->settingsFilePath_, ec);
          if (ec) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            error = tw::Error::make("NSCocoaErrorDomain", ec.value(),
                                    {{tw::kLocalizedDescriptionKey, ec.message()}});
            tw::log("[Tessaly] Unable to complete settings download " + ec.message());
          }
        }
        self->finishWith(error);
      });
}

void TSYDownloadAndSaveSettingsOperation::finishWith(const tw::ErrorPtr& error) {
  error_ = error;
  auto self = std::static_pointer_cast<TSYDownloadAndSaveSettingsOperation>(shared_from_this());
  if (auto delegate = delegate_.lock()) {
    delegate->operationDidDownloadAndSaveSettingsWithError(self, error);
  }
  finishWithError(error);
}
