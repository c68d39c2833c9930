#include "kits/platform/settings/TSYDownloadAndSaveSettingsOperation.h"

#include <cerrno>

#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/Tessaly.h"
#include "kits/platform/net/TSYNetworkResponseHandler.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"

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
          // Replaced atomically and durably: the old file stays until the new one is complete.
          int code = 0;
          auto bytes = tw::paths::readFile(*location, &code);
          const auto saved = bytes ? tw::paths::writeFileAtomically(self->settingsFilePath_, *bytes)
                                   : tw::Status::failure(bytes.error());
          if (!saved) {
            error = tw::Error::make("NSCocoaErrorDomain", code != 0 ? code : EIO,
                                    {{tw::kLocalizedDescriptionKey, saved.error()}});
            tw::log("[Tessaly] Unable to complete settings download " + saved.error());
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
