#include "kits/crash/beta/MVXBetaController.h"

#include "kits/crash/capture/MVXSetUp.h"
#include "kits/platform/KitServiceEndpoints.h"
#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/TSYKitQueues.h"
#include "kits/platform/Tessaly.h"
#include "kits/platform/net/TSYNetworkClient.h"
#include "kits/platform/net/TSYPinnedCertificates.h"
#include "kits/platform/net/TSYURLBuilder.h"
#include "kits/platform/settings/TSYApplicationIdentiferModel.h"
#include "kits/platform/settings/TSYNetworkOperation.h"
#include "kits/platform/settings/TSYSettingsOnboardingManager.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"

namespace {

// Guards gTokenSource.
std::mutex gTokenSourceMutex;
std::function<std::optional<std::string>()> gTokenSource;

template <class... Args>
void debugLog(std::string_view format, const Args&... args) {
  if (Tessaly::sharedSDK()->debug()) tw::log(tw::format(format, args...));
}

tw::Value errorValue(const tw::ErrorPtr& error) {
  return error ? tw::Value(error->localizedDescription()) : tw::Value();
}

}  // namespace

std::optional<std::string> MVXGetBetaToken() {
  std::lock_guard lock(gTokenSourceMutex);
  if (gTokenSource) return gTokenSource();
  return std::nullopt;
}

void tw::crash::setBetaTokenSourceForTesting(std::function<std::optional<std::string>()> source) {
  std::lock_guard lock(gTokenSourceMutex);
  gTokenSource = std::move(source);
}

bool MVXBetaController::isBetaSupported() {
  return !MVXApplicationIsExtension() && TSYGetInstallSource() == 3;
}

const std::vector<std::shared_ptr<tw::Certificate>>& MVXBetaController::pinnnedCertificates() {
  return TSYPinnedCertificates();
}

std::shared_ptr<MVXBetaController> MVXBetaController::initWithDelegate(
    const std::weak_ptr<MVXBetaControllerDelegate>& delegate) {
  std::shared_ptr<MVXBetaController> controller(new MVXBetaController());
  controller->delegate_ = delegate;
  controller->queue_ = TSYCreateSerialQueue(kQueueLabel);
  controller->networkClient_ = TSYNetworkClient::createWithQueue(nullptr, pinnnedCertificates());
  if (!controller->networkClient_) debugLog("[Morvex:Beta] Failed to configure networking");
  return controller;
}

MVXBetaController::~MVXBetaController() {
  settingsObservation_.remove();
  std::lock_guard lock(mutex_);
  checkSuspensionTimer_.cancel();
}

bool MVXBetaController::start() {
  if (!betaToken()) return false;
  std::weak_ptr<MVXBetaController> weak = weak_from_this();
  settingsObservation_ = tw::NotificationCenter::defaultCenter()->addObserver(
      TSYSettingsAvailableNotification, nullptr, nullptr,
      [weak](const tw::Notification&) {
        if (auto self = weak.lock()) self->tessalySettingsDownloaded();
      },
      weak);
  return true;
}

std::optional<std::string> MVXBetaController::betaToken() {
  std::lock_guard lock(mutex_);
  if (!betaToken_) betaToken_ = MVXGetBetaToken();
  return betaToken_;
}

std::shared_ptr<MVXSettings> MVXBetaController::settings() const {
  auto delegate = this->delegate().lock();
  return delegate ? delegate->settingsForBetaController(*this) : nullptr;
}

std::optional<double> MVXBetaController::betaUpdateSuspendDurationSecs() const {
  auto s = settings();
  if (!s) return std::nullopt;
  return s->betaSuspendDuration();
}

std::string MVXBetaController::betaEndpoint() const {
  auto s = settings();
  return s ? s->betaEndpoint() : MVXSettings().betaEndpoint();
}

std::string MVXBetaController::appBundleIdentifier() const {
  return TSYGetEscapedBundleIdentifier();
}

std::string MVXBetaController::appBuildVersion() const { return TSYGetBundleVersion(); }

std::string MVXBetaController::appDisplayVersion() const {
  return TSYGetBundleShortVersionString();
}

std::optional<std::string> MVXBetaController::appInstanceIdentifier() const {
  // The registry keeps no instance identifier of its own: it is derived from the running
  // executable once, as the settings flow derives it.
  std::lock_guard lock(mutex_);
  if (!instanceIdentifier_) {
    auto model = TSYApplicationIdentiferModel::create(Tessaly::sharedSDK()->installID());
    instanceIdentifier_ = model ? std::optional(model->instanceIdentifier()) : std::nullopt;
  }
  return *instanceIdentifier_;
}

int MVXBetaController::appInstallationSource() const { return TSYGetInstallSource(); }

std::optional<std::string> MVXBetaController::APIKey() const {
  auto delegate = this->delegate().lock();
  return delegate ? delegate->APIKeyForBetaController(*this) : std::nullopt;
}

std::optional<std::string> MVXBetaController::betaUpdateURL() const {
  auto builder = TSYURLBuilder::URLWithBase(betaEndpoint());
  builder->appendComponent("/spi/v2/platforms/");
  builder->appendComponent("mac");
  builder->appendComponent("/apps/");
  builder->appendComponent(appBundleIdentifier());
  builder->appendComponent("/beta_update_check");
  auto orNull = [](const std::string& s) { return s.empty() ? tw::Value() : tw::Value(s); };
  builder->appendValue(orNull(appBuildVersion()), "build_version");
  builder->appendValue(orNull(appDisplayVersion()), "display_version");
  auto instance = appInstanceIdentifier();
  builder->appendValue(instance ? tw::Value(*instance) : tw::Value(), "instance");
  builder->appendValue(tw::Value(appInstallationSource()), "source");
  return builder->URL();
}

void MVXBetaController::checkForUpdate() {
  std::weak_ptr<MVXBetaController> weak = weak_from_this();
  maybeGetUpdate([weak](const std::shared_ptr<MVXBetaUpdate>& update) {
    if (auto self = weak.lock()) self->didGetUpdate(update);
  });
}

void MVXBetaController::maybeGetUpdate(UpdateCompletion completion) {
  auto self = shared_from_this();
  queue_->async([self, completion = std::move(completion)] {
    if (!self->shouldGetUpdates() || self->retrying_.load()) return;
    debugLog("[Morvex:Beta] Loading beta update");
    self->loadUpdateWithCompletionBlock(
        [completion](std::shared_ptr<MVXBetaUpdate> update, const tw::ErrorPtr&) {
          completion(std::move(update));
        });
  });
}

void MVXBetaController::loadUpdateWithCompletionBlock(LoadCompletion completion) {
  auto url = betaUpdateURL();
  debugLog("[Morvex:Beta] Beta Update-Check url string: '%@'", url ? tw::Value(*url) : tw::Value());
  tw::URLRequest request;
  request.url = url.value_or(std::string());
  request.method = "GET";
  request.timeoutInterval = kRequestTimeout;
  const std::string locale = TSYNetworkOperation::localeIdentifier();
  request.setValue("Morvex Mac SDK/3.12.0", "User-Agent");
  request.setValue("application/json", "Accept");
  request.setValue("utf-8", "Accept-Charset");
  request.setValue(locale, "Accept-Language");
  request.setValue(locale, "Content-Language");
  request.setValue(tw::kitservice::kDeveloperToken, "X-Morvex-Developer-Token");
  request.setValue("com.pelworth.morvex.mac", "X-Morvex-API-Client-Id");
  request.setValue("3.12.0", "X-Morvex-API-Client-Display-Version");
  request.setValue("136", "X-Morvex-API-Client-Build-Version");
  request.setValue(APIKey(), "X-Morvex-API-Key");
  request.setValue(betaToken(), "X-Morvex-Beta-Token");
  auto self = shared_from_this();
  queue_->async([self, request, completion = std::move(completion)]() mutable {
    self->sendRequest(request, completion);
  });
}

void MVXBetaController::sendRequest(const tw::URLRequest& request,
                                    const LoadCompletion& completion) {
  if (retrying_.load()) return;
  retrying_.store(true);
  // Without a client nothing is sent and `retrying` stays set: checks halt.
  if (!networkClient_) return;
  std::weak_ptr<MVXBetaController> weak = weak_from_this();
  networkClient_->startDataTaskWithRequest(
      request, kRetryLimit,
      [weak, completion](const std::optional<tw::Data>& data, const std::optional<tw::URLResponse>&,
                         const tw::ErrorPtr& error) {
        if (auto self = weak.lock()) {
          self->handledCompletedBetaRequestWithData(data, error, completion);
        }
      });
}

void MVXBetaController::handledCompletedBetaRequestWithData(const std::optional<tw::Data>& data,
                                                            const tw::ErrorPtr& error,
                                                            LoadCompletion completion) {
  if (error || !data || data->empty()) {
    debugLog("[Morvex:Beta] Failed to load update '%@'", errorValue(error));
    return;
  }
  auto self = shared_from_this();
  queue_->async([self, data, completion = std::move(completion)] {
    debugLog("[Morvex:Beta] Beta update loaded");
    // The suspension is in force before `retrying` clears, so no trigger in between can send a
    // second check.
    self->temporarilySuspendChecks();
    self->retrying_.store(false);
    tw::ErrorPtr parseError;
    auto update = self->updateWithData(data, &parseError);
    completion(update, parseError);
  });
}

std::shared_ptr<MVXBetaUpdate> MVXBetaController::updateWithData(
    const std::optional<tw::Data>& data, tw::ErrorPtr* error) {
  std::string_view text;
  if (data) text = {reinterpret_cast<const char*>(data->data()), data->size()};
  auto parsed = tw::Json::parse(text);
  if (!parsed.ok()) {
    auto decodeError = tw::Error::make("NSCocoaErrorDomain", 3840,
                                       {{tw::kLocalizedDescriptionKey, parsed.error()}});
    debugLog("[Morvex:Beta] Unable to deserialize beta update data: %@", errorValue(decodeError));
    if (error) *error = decodeError;
    return nullptr;
  }
  tw::ErrorPtr readError;
  auto update = MVXBetaUpdate::betaUpdateWithDictionary(*parsed, &readError);
  if (!update) {
    debugLog("[Morvex:Beta] Unable to read beta update data: %@", errorValue(readError));
    if (error) *error = readError;
    return nullptr;
  }
  return update;
}

void MVXBetaController::temporarilySuspendChecks() {
  auto duration = betaUpdateSuspendDurationSecs();
  if (!duration) return;
  checksSuspended_.store(true);
  const std::uint64_t suspension = ++suspension_;
  std::weak_ptr<MVXBetaController> weak = weak_from_this();
  tw::DispatchQueue::main()->async([weak, suspension, seconds = *duration] {
    auto self = weak.lock();
    if (!self) return;
    auto timer = tw::DispatchQueue::main()->after(seconds, [weak, suspension] {
      auto owner = weak.lock();
      if (owner && owner->suspension_.load() == suspension) owner->allowChecks();
    });
    std::lock_guard lock(self->mutex_);
    // The replaced timer must never fire: it belongs to an earlier suspension.
    self->checkSuspensionTimer_.cancel();
    self->checkSuspensionTimer_ = timer;
  });
}

void MVXBetaController::allowChecks() {
  checksSuspended_.store(false);
  std::lock_guard lock(mutex_);
  checkSuspensionTimer_.cancel();
  checkSuspensionTimer_ = {};
}

bool MVXBetaController::shouldGetUpdates() const {
  return isBetaSupported() && !checksSuspended_.load();
}

void MVXBetaController::didGetUpdate(const std::shared_ptr<MVXBetaUpdate>& update) {
  if (update && update->url()) {
    std::weak_ptr<MVXBetaController> weak = weak_from_this();
    tw::DispatchQueue::main()->async([weak, update] {
      if (auto self = weak.lock()) self->showBetaAlertForUpdate(update);
    });
    return;
  }
  debugLog("[Morvex:Beta] Beta update url is invalid");
}

void MVXBetaController::showBetaAlertForUpdate(const std::shared_ptr<MVXBetaUpdate>& update) {
  setActiveUpdate(update);
}

std::weak_ptr<MVXBetaControllerDelegate> MVXBetaController::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

void MVXBetaController::setDelegate(std::weak_ptr<MVXBetaControllerDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

std::shared_ptr<MVXBetaUpdate> MVXBetaController::activeUpdate() const {
  std::lock_guard lock(mutex_);
  return activeUpdate_;
}

void MVXBetaController::setActiveUpdate(std::shared_ptr<MVXBetaUpdate> update) {
  std::lock_guard lock(mutex_);
  activeUpdate_ = std::move(update);
}
