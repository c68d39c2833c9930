#pragma once
// TSYOnboardingOperation: creates (POST) or updates (PUT) the application's record with the kits'
// web service, sending a multipart form that describes the build: identifiers, versions, install
// source, system versions, the kits and their versions, each architecture's build identifier and
// the application's icon. Started directly by the settings manager; completes on the network
// client's callback queue.

#include <memory>
#include <optional>
#include <string>

#include "kits/platform/net/TSYNetworkClient.h"
#include "kits/platform/settings/TSYApplicationIdentiferModel.h"
#include "kits/platform/settings/TSYIcon.h"
#include "kits/platform/settings/TSYNetworkOperation.h"
#include "platform/foundation/Value.h"

inline constexpr const char* TSYSDKOnboardingErrorDomain = "TSYSDKOnboardingErrorDomain";

class TSYOnboardingOperation;

class TSYOnboardingOperationDelegate {
 public:
  virtual ~TSYOnboardingOperationDelegate() = default;
  virtual void onboardingOperationDidCompleteAppCreationWithError(
      const std::shared_ptr<TSYOnboardingOperation>& operation, const tw::ErrorPtr& error) = 0;
  virtual void onboardingOperationDidCompleteAppUpdateWithError(
      const std::shared_ptr<TSYOnboardingOperation>& operation, const tw::ErrorPtr& error) = 0;
};

class TSYOnboardingOperation : public TSYNetworkOperation {
 public:
  TSYOnboardingOperation(std::weak_ptr<TSYOnboardingOperationDelegate> delegate, bool shouldCreate,
                         std::string apiKey, tw::Dictionary kitVersionsByKitBundleIdentifier,
                         std::shared_ptr<const TSYApplicationIdentiferModel> appIdentifierModel,
                         std::string endpointString, std::weak_ptr<TSYNetworkClient> networkClient);

  std::string className() const override { return "TSYOnboardingOperation"; }
  void beginAppConfigure();
  static tw::ErrorPtr errorForCode(long code, tw::Dictionary userInfo);
  std::optional<std::string> appCreateURL() const;
  std::optional<std::string> appUpdateURL() const;
  tw::URLRequest onboardingRequestForAppCreate(bool create) const;

  bool shouldCreate() const { return shouldCreate_; }
  tw::ErrorPtr error() const { return error_; }

 protected:
  void main() override { beginAppConfigure(); }

 private:
  void complete(const tw::ErrorPtr& error);

  std::weak_ptr<TSYOnboardingOperationDelegate> delegate_;
  bool shouldCreate_;
  tw::Dictionary kitVersionsByKitBundleIdentifier_;
  std::shared_ptr<const TSYApplicationIdentiferModel> appIdentifierModel_;
  std::string appEndpoint_;
  std::weak_ptr<TSYNetworkClient> networkClient_;
  tw::ErrorPtr error_;
  TSYAppIconUtility iconUtility_;
};
