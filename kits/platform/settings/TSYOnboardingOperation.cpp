#include "kits/platform/settings/TSYOnboardingOperation.h"

#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/net/TSYMultipartMimeStreamEncoder.h"
#include "kits/platform/net/TSYNetworkResponseHandler.h"
#include "kits/platform/net/TSYURLBuilder.h"
#include "platform/foundation/Log.h"

TSYOnboardingOperation::TSYOnboardingOperation(
    std::weak_ptr<TSYOnboardingOperationDelegate> delegate, bool shouldCreate, std::string apiKey,
    tw::Dictionary kitVersionsByKitBundleIdentifier,
    std::shared_ptr<const TSYApplicationIdentiferModel> appIdentifierModel,
    std::string endpointString, std::weak_ptr<TSYNetworkClient> networkClient)
    : TSYNetworkOperation(std::move(apiKey)),
      delegate_(std::move(delegate)),
      shouldCreate_(shouldCreate),
      kitVersionsByKitBundleIdentifier_(std::move(kitVersionsByKitBundleIdentifier)),
      appIdentifierModel_(std::move(appIdentifierModel)),
      appEndpoint_(std::move(endpointString)),
      networkClient_(std::move(networkClient)) {}

tw::ErrorPtr TSYOnboardingOperation::errorForCode(long code, tw::Dictionary userInfo) {
  return tw::Error::make(TSYSDKOnboardingErrorDomain, code, std::move(userInfo));
}

std::optional<std::string> TSYOnboardingOperation::appCreateURL() const {
  auto builder = TSYURLBuilder::URLWithBase(appEndpoint_);
  builder->appendComponent("/spi/v1/platforms/");
  builder->escapeAndAppendComponent("mac");
  builder->appendComponent("/apps");
  return builder->URL();
}

std::optional<std::string> TSYOnboardingOperation::appUpdateURL() const {
  auto builder = TSYURLBuilder::URLWithBase(appEndpoint_);
  builder->appendComponent("/spi/v1/platforms/");
  builder->escapeAndAppendComponent("mac");
  builder->appendComponent("/apps/");
  builder->escapeAndAppendComponent(TSYGetEscapedBundleIdentifier());
  return builder->URL();
}

tw::URLRequest TSYOnboardingOperation::onboardingRequestForAppCreate(bool create) const {
  auto url = create ? appCreateURL() : appUpdateURL();
  tw::URLRequest request = mutableRequestWithDefaultHTTPHeadersForURL(url.value_or(""), 10);
  request.method = create ? "POST" : "PUT";
  return request;
}

void TSYOnboardingOperation::beginAppConfigure() {
  auto client = networkClient_.lock();
  tw::URLRequest request = onboardingRequestForAppCreate(shouldCreate_);
  const auto* model = appIdentifierModel_.get();
  const auto icon = iconUtility_.applicationIcon();
  const bool encoded = TSYMultipartMimeStreamEncoder::populateRequest(request, [&](auto& e) {
    e.addValue(TSYGetEscapedBundleIdentifier(), "app[identifier]");
    e.addValue(model ? tw::Value(model->instanceIdentifier()) : tw::Value(),
               "app[instance_identifier]");
    e.addValue(TSYGetApplicationDisplayName(), "app[name]");
    e.addValue(TSYGetBundleVersion(), "app[build_version]");
    e.addValue(TSYGetBundleShortVersionString(), "app[display_version]");
    e.addValue(std::to_string(TSYGetInstallSource()), "app[source]");
    e.addValue(model ? tw::Value(model->minimumSDKString()) : tw::Value(),
               "app[minimum_sdk_version]");
    e.addValue(model ? tw::Value(model->builtSDKString()) : tw::Value(), "app[built_sdk_version]");
    for (const auto& [bundle, version] : kitVersionsByKitBundleIdentifier_) {
      e.addValue(version, "app[build][libraries][" + bundle + "]");
    }
    if (model) {
      for (const auto& [arch, uuid] : model->architectureUUIDMap()) {
        e.addValue(arch, "app[slices][][arch]");
        e.addValue(uuid, "app[slices][][uuid]");
      }
    }
    if (icon && !icon->data().empty() && !icon->dataHash().empty()) {
      e.addValue(icon->dataHash(), "app[icon][hash]");
      e.addValue(icon->prerendered() ? "true" : "false", "app[icon][prerendered]");
      e.addValue(std::to_string(static_cast<unsigned long>(icon->size().width)),
                 "app[icon][width]");
      e.addValue(std::to_string(static_cast<unsigned long>(icon->size().height)),
                 "app[icon][height]");
      e.addFileData(icon->data(), "icon.png", std::string("image/png"), "app[icon][data]");
    }
  });
  if (!encoded) {
    tw::log("[Tessaly] configure failed during onboarding");
    finishWithError(
        errorForCode(0, {{tw::kLocalizedDescriptionKey, "Multipart mime encoder was nil"}}));
    return;
  }
  if (!client) {
    complete(TSYNetworkResponseHandler::errorForCode(-3, {}));
    return;
  }
  auto self = std::static_pointer_cast<TSYOnboardingOperation>(shared_from_this());
  client->startDataTaskWithRequest(
      request, shouldCreate_ ? 10 : 1,
      [self](const auto&, const auto&, const tw::ErrorPtr& error) { self->complete(error); });
}

void TSYOnboardingOperation::complete(const tw::ErrorPtr& error) {
  error_ = error;
  auto self = std::static_pointer_cast<TSYOnboardingOperation>(shared_from_this());
  if (auto delegate = delegate_.lock()) {
    if (shouldCreate_) {
      delegate->onboardingOperationDidCompleteAppCreationWithError(self, error);
    } else {
      delegate->onboardingOperationDidCompleteAppUpdateWithError(self, error);
    }
  }
  finishWithError(error);
}
