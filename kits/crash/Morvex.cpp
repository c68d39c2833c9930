#include "kits/crash/Morvex.h"

#include <sys/stat.h>

#include "kits/analytics/Oriseth.h"
#include "kits/crash/capture/MVXSetUp.h"
#include "kits/crash/capture/MVXUserLogging.h"
#include "kits/crash/reports/MVXFileManager.h"
#include "kits/crash/reports/MVXReport.h"
#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/TSYKit.h"
#include "kits/platform/Tessaly.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"

namespace {

// Guards *gShared.
std::mutex gSharedMutex;
// Never released: the kit's queues and the crashing thread may use it until the process ends.
auto* gShared = new std::shared_ptr<Morvex>();

bool debugEnabled() { return Tessaly::sharedSDK()->debug(); }

template <class... Args>
void debugLog(std::string_view format, const Args&... args) {
  if (debugEnabled()) tw::log(tw::format(format, args...));
}

std::optional<std::string> textOf(const tw::Value& value) {
  if (value.isNull()) return std::nullopt;
  return value.description();
}

}  // namespace

std::shared_ptr<Morvex> Morvex::sharedInstance() {
  std::lock_guard lock(gSharedMutex);
  if (!*gShared) *gShared = std::make_shared<Morvex>();
  return *gShared;
}

void Morvex::resetSharedInstanceForTesting() {
  std::lock_guard lock(gSharedMutex);
  gShared->reset();
}

void Morvex::initializeIfNeeded() { sharedInstance()->start(); }

void Morvex::disableUninitializedKitMessaging() {
  MVXUserLoggingDisableUninitializedKitMessaging();
}

std::shared_ptr<Morvex> Morvex::startWithAPIKey(const std::string& apiKey) {
  return startWithAPIKey(apiKey, nullptr);
}

std::shared_ptr<Morvex> Morvex::startWithAPIKey(const std::string& apiKey,
                                                std::shared_ptr<MorvexDelegate> delegate) {
  auto shared = sharedInstance();
  if (delegate) shared->setDelegate(std::move(delegate));
  // The registry has no kit-initialising class message of its own; it always knows its mode.
  auto sdk = Tessaly::sharedSDK();
  const long mode = sdk->installationMode();
  sdk->setInstallationMode(1);
  if (mode == 2) {
    tw::log(
        "[Morvex] Warning, calling startWithAPIKey:... after [EBNApp configure] or "
        "EmberlynApp.configure() is not supported");
    return shared;
  }
  sdk->setAPIKey(apiKey);
  Tessaly::with({tw::kitClass<Morvex>()});
  return shared;
}

std::shared_ptr<Morvex> Morvex::startWithAPIKey(const std::string& apiKey, double) {
  tw::log("[Morvex] Warning, startWithAPIKey:afterDelay: is deprecated.");
  return startWithAPIKey(apiKey);
}

std::shared_ptr<Morvex> Morvex::startWithAPIKey(const std::string& apiKey,
                                                std::shared_ptr<MorvexDelegate> delegate, double) {
  tw::log("[Morvex] Warning, startWithAPIKey:delegate:afterDelay: is deprecated.");
  return startWithAPIKey(apiKey, std::move(delegate));
}

void Morvex::setUserIdentifier(const std::optional<std::string>& identifier) {
  MVXUserLoggingRecordInternalKeyValue("com.morvex.user-id", identifier);
}

void Morvex::setUserName(const std::optional<std::string>& name) {
  MVXUserLoggingRecordInternalKeyValue("com.morvex.user-name", name);
}

void Morvex::setUserEmail(const std::optional<std::string>& email) {
  MVXUserLoggingRecordInternalKeyValue("com.morvex.user-email", email);
}

void Morvex::setObjectValue(const tw::Value& value, const std::string& key) {
  MVXUserLoggingRecordUserKeyValue(key.c_str(), textOf(value));
}

void Morvex::setIntValue(int value, const std::string& key) {
  setObjectValue(tw::Value(value), key);
}

void Morvex::setBoolValue(bool value, const std::string& key) {
  setObjectValue(tw::Value(value), key);
}

void Morvex::setFloatValue(float value, const std::string& key) {
  setObjectValue(tw::Value(value), key);
}

void Morvex::setDevelopmentPlatformName(const std::optional<std::string>& name) {
  MVXUserLoggingRecordInternalKeyValue("com.morvex.development-platform-name", name);
}

void Morvex::setDevelopmentPlatformVersion(const std::optional<std::string>& version) {
  MVXUserLoggingRecordInternalKeyValue("com.morvex.development-platform-version", version);
}

void Morvex::logEvent(const std::string& name) { logEvent(name, std::nullopt); }

void Morvex::logEvent(const std::string& name, const std::optional<tw::Dictionary>& attributes) {
  Oriseth::logCustomEventWithName(name, attributes);
}

void Morvex::start() {
  if (!Tessaly::isMorvexCollectionEnabled()) {
    tw::log("[Morvex] Not starting up because data collection is disabled");
    return;
  }
  std::call_once(startOnce_, [this] { runStart(); });
}

void Morvex::runStart() {
  const std::uint64_t mark = MVXProfileMark();
  tw::log(tw::format("[Morvex] Version %@ (%@)", kitDisplayVersion(), kitBuildVersion()));
  debugLog("[Morvex] Running on %@, %@ (%@)", TSYGetHardwareModel(), TSYGetOSDisplayVersion(),
           TSYGetOSBuildVersion());
  std::weak_ptr<Morvex> weak = weak_from_this();
  tw::OperationQueue::main()->addOperationWithBlock([weak] {
    if (auto self = weak.lock()) self->warnDelegateAboutMethods();
  });
  auto fileManager = std::make_shared<MVXFileManager>();
  std::shared_ptr<MVXBetaController> beta;
  if (MVXBetaController::isBetaSupported()) {
    beta = MVXBetaController::initWithDelegate(weak);
    {
      std::lock_guard lock(mutex_);
      betaController_ = beta;
    }
    if (!beta->start()) tw::log("[Morvex] Beta could not be initialized");
  }
  const std::optional<std::string> token = beta ? beta->betaToken() : std::nullopt;
  auto controller = MVXCrashReportingController::initWithFileManager(fileManager, weak);
  {
    std::lock_guard lock(mutex_);
    crashReportingController_ = controller;
  }
  if (!controller->startWithProfilingMark(mark, token)) {
    tw::log("[Morvex] Crash reporting could not be initialized");
  }
  Oriseth::startWithBetaToken(token);
}

std::optional<std::string> Morvex::APIKey() const {
  try {
    return Tessaly::sharedSDK()->APIKey();
  } catch (const tw::Exception&) {
    // A broken configuration was reported when the registry started; no key then.
    return std::nullopt;
  }
}

std::string Morvex::installID() const {
  if (auto historic = getHistoricInstallID()) return *historic;
  return Tessaly::sharedSDK()->installID();
}

bool Morvex::isFirstInstall() const { return Tessaly::sharedSDK()->isFirstInstall(); }

std::optional<std::string> Morvex::getHistoricInstallID() const {
  auto defaults = attemptToLoadMacHistoricDefaults();
  if (!defaults) return std::nullopt;
  auto it = defaults->find("com.morvex.iuuid");
  if (it == defaults->end() || !it->second.isString()) return std::nullopt;
  return *it->second.string();
}

std::optional<tw::Dictionary> Morvex::attemptToLoadMacHistoricDefaults() const {
  const auto path = tw::paths::dataHome() / "com.morvex" / "MVXUserDefaults.plist";
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return std::nullopt;
  auto bytes = tw::paths::readFile(path);
  if (!bytes.ok()) return std::nullopt;
  auto plist = tw::PropertyList::read(*bytes);
  if (!plist.ok() || !plist->dictionary()) return std::nullopt;
  return *plist->dictionary();
}

bool Morvex::isMorvexStarted() const {
  std::lock_guard lock(mutex_);
  return crashReportingController_ != nullptr;
}

void Morvex::setDebugMode(bool) {
  Tessaly::sharedSDK()->setDebug(true);
  if (isMorvexStarted())
    tw::log("[Morvex] Warning, consider enabling debug mode before starting Morvex");
}

bool Morvex::debugMode() const { return Tessaly::sharedSDK()->debug(); }

void Morvex::setDelegate(std::shared_ptr<MorvexDelegate> delegate) {
  {
    std::lock_guard lock(mutex_);
    // The crashing thread may read the old delegate at any moment: it is kept alive for the
    // process, as the application's delegate always was.
    static std::vector<std::shared_ptr<MorvexDelegate>> retired;
    if (delegate_) retired.push_back(delegate_);
    crashDelegate_.store(delegate.get());
    delegate_ = std::move(delegate);
  }
  if (isMorvexStarted()) {
    tw::log(
        "[Morvex] Warning, setting delegate after start. Make sure to set the Morvex delegate "
        "before calling startWithAPIKey:.., or +[Tessaly with...] to avoid missing some delegate "
        "callbacks.");
  }
}

std::shared_ptr<MorvexDelegate> Morvex::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

void Morvex::crash() { __builtin_trap(); }

void Morvex::throwException() { MVXThrowObjCTestException(); }

std::optional<std::string> Morvex::developmentPlatformName() const {
  tw::log("[Morvex] developmentPlatformName is write-only");
  return std::nullopt;
}

std::optional<std::string> Morvex::developmentPlatformVersion() const {
  tw::log("[Morvex] developmentPlatformVersion is write-only");
  return std::nullopt;
}

void Morvex::recordError(const tw::Error& error) { recordError(error, std::nullopt); }

void Morvex::recordError(const tw::Error& error,
                         const std::optional<tw::Dictionary>& additionalUserInfo) {
  MVXUserLoggingRecordError(error, additionalUserInfo.value_or(tw::Dictionary{}));
}

void Morvex::recordCustomExceptionName(
    const std::string& name, const std::string& reason,
    const std::vector<std::shared_ptr<MVXStackFrame>>& frameArray) {
  std::vector<MVXExceptionFrame> frames;
  for (const auto& frame : frameArray) {
    if (!frame) continue;
    MVXExceptionFrame copy;
    copy.address = frame->address();
    copy.symbol = frame->symbol();
    copy.offset = frame->offset();
    copy.library = frame->library();
    copy.fileName = frame->fileName();
    copy.lineNumber = frame->lineNumber();
    frames.push_back(std::move(copy));
  }
  MVXExceptionRecord(kMVXExceptionCustom, name, reason, frames, false);
}

void Morvex::monitorErrorsForWKWebViewConfiguration(
    const std::shared_ptr<tw::Object>& configuration) {
  auto adapter =
      configuration ? tw::crash::webViewAdapterForConfiguration(*configuration) : nullptr;
  bool injected = false;
  if (adapter) {
    adapter->addScriptMessageHandler(*configuration, shared_from_this(),
                                     tw::crash::kWebViewMessageHandlerName);
    injected = adapter->addUserScript(*configuration, tw::crash::webViewErrorScriptSource());
  }
  if (!injected) {
    tw::log(tw::format("[Morvex] Unable to monitor %@",
                       configuration ? tw::Value(configuration->description()) : tw::Value()));
  }
}

void Morvex::userContentControllerDidReceiveScriptMessage(const tw::Value& body) {
  if (body.dictionary() == nullptr) {
    tw::log("[Morvex] Unable to record exception from WKWebView");
    return;
  }
  const std::string reason = textOf(body["msg"]).value_or(std::string());
  MVXExceptionRecord(kMVXExceptionJavaScript, "exception", reason, {}, false);
}

bool Morvex::delegateRespondsToLegacyMethods() const {
  auto d = delegate();
  return d && (d->implements("morvex:didDetectCrashDuringPreviousExecution:") ||
               d->implements("morvexDidDetectCrashDuringPreviousExecution:"));
}

void Morvex::warnDelegateAboutMethods() const {
  auto d = delegate();
  if (!d) return;
  if (delegateRespondsToLegacyMethods()) {
    tw::log(tw::format(
        "[Morvex] The Morvex delegate '%@' implements deprecated methods.  Please see Morvex "
        "for details.",
        d->description()));
  }
  if (d->implements("morvexCanUseBackgroundSessions:") &&
      d->morvexCanUseBackgroundSessions(*sharedInstance()) && MVXApplicationIsExtension()) {
    tw::log(
        "[Morvex] Background sessions are not supported in extensions. Please see Morvex for "
        "details.");
  }
}

std::shared_ptr<MVXBetaController> Morvex::betaController() const {
  std::lock_guard lock(mutex_);
  return betaController_;
}

std::shared_ptr<MVXCrashReportingController> Morvex::crashReportingController() const {
  std::lock_guard lock(mutex_);
  return crashReportingController_;
}

MVXSettings Morvex::settingsForCrashReportingController(MVXCrashReportingController&) {
  return MVXSettings::withSettingsValue(Tessaly::sharedSDK()->settings());
}

std::shared_ptr<MVXSettings> Morvex::settingsForBetaController(const MVXBetaController&) {
  return std::make_shared<MVXSettings>(
      MVXSettings::withSettingsValue(Tessaly::sharedSDK()->settings()));
}

bool Morvex::shouldInstallCrashCallback() {
  auto d = delegate();
  return d && d->implements("morvexDidDetectCrash:");
}

void Morvex::detectedCrash() {
  if (MorvexDelegate* d = crashDelegate_.load()) d->morvexDidDetectCrash(*this);
}

bool Morvex::reportingControllerEnsureDeliveryOfUnixSignal(MVXCrashReportingController&,
                                                           int signal) {
  auto d = delegate();
  return d && d->implements("morvex:ensureDeliveryOfUnixSignal:") &&
         d->morvexEnsureDeliveryOfUnixSignal(*this, signal);
}

bool Morvex::reportingControllerMustInformDelegateOfReports(MVXCrashReportingController&) {
  auto d = delegate();
  return d && (d->implements("morvexDidDetectReportForLastExecution:completionHandler:") ||
               delegateRespondsToLegacyMethods());
}

bool Morvex::reportingControllerCanUseBackgroundSessions(MVXCrashReportingController&) {
  auto d = delegate();
  if (d && d->implements("morvexCanUseBackgroundSessions:")) {
    return d->morvexCanUseBackgroundSessions(*this);
  }
  return !MVXApplicationIsExtension();
}

void Morvex::reportingControllerInternalDidDetectReportForLastExecution(
    MVXCrashReportingController&, const std::shared_ptr<MVXInternalReport>& report) {
  auto wrapped = std::make_shared<MVXReport>(report);
  if (!wrapped->isCrash()) return;
  auto date = wrapped->dateCreated();
  tw::DispatchQueue::main()->async([date] { Oriseth::logPreviousSessionCrashedOnDate(date); });
}

void Morvex::reportingControllerDidDetectReportForLastExecution(
    MVXCrashReportingController& controller, const std::shared_ptr<MVXInternalReport>& report,
    SubmitCompletion completion) {
  auto d = delegate();
  std::shared_ptr<MVXReport> prefetched;
  if (d && d->implements("morvexDidDetectReportForLastExecution:")) {
    prefetched = std::make_shared<MVXReport>(report, true);
    tw::DispatchQueue::main()->async(
        [d, prefetched] { d->morvexDidDetectReportForLastExecution(prefetched); });
  }
  if (!reportingControllerMustInformDelegateOfReports(controller)) {
    completion(true);
    return;
  }
  std::shared_ptr<MVXCrashReport> wrapped =
      prefetched ? prefetched : std::make_shared<MVXReport>(report);
  if (d->implements("morvexDidDetectReportForLastExecution:completionHandler:")) {
    d->morvexDidDetectReportForLastExecution(wrapped, completion);
  } else {
    completion(true);
  }
  auto self = shared_from_this();
  tw::DispatchQueue::main()->async([self, d, wrapped] {
    if (d->implements("morvex:didDetectCrashDuringPreviousExecution:")) {
      d->morvexDidDetectCrashDuringPreviousExecution(*self, wrapped);
    }
    if (d->implements("morvexDidDetectCrashDuringPreviousExecution:")) {
      d->morvexDidDetectCrashDuringPreviousExecution(*self);
    }
  });
}

namespace {
// The class's load hook: make "Morvex" findable by name before main.
[[maybe_unused]] const bool kMorvexRegistered =
    (tw::runtime::registerClass(tw::kitClass<Morvex>()), true);
}  // namespace
