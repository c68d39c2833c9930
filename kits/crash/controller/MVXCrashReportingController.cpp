#include "kits/crash/controller/MVXCrashReportingController.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "kits/crash/bridge/MVXEBVAnalytics.h"
#include "kits/crash/capture/MVXException.h"
#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXSetUp.h"
#include "kits/crash/capture/MVXSignal.h"
#include "kits/crash/capture/MVXUserLogging.h"
#include "kits/crash/symbols/MVXProcessReportOperation.h"
#include "kits/crash/symbols/MVXSymbolResolver.h"
#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/TSYKitQueues.h"
#include "kits/platform/Tessaly.h"
#include "kits/platform/net/TSYMultipartMimeStreamEncoder.h"
#include "kits/platform/settings/TSYSettingsOnboardingManager.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"

namespace {

// Guards gPresenter and gContextInitializer.
std::mutex gHooksMutex;
tw::crash::PermissionAlertPresenter gPresenter;
std::function<bool(const MVXContextSettings*)> gContextInitializer;

bool debugMode() { return Tessaly::sharedSDK()->debug(); }

template <class... Args>
void debugLog(std::string_view format, const Args&... args) {
  if (debugMode()) tw::log(tw::format(format, args...));
}

std::string millisecondsText(std::uint64_t mark) {
  return tw::Value(MVXProfileElapsedMilliseconds(mark)).description();
}

// Internal keys are written on the capture core's logging queue; without a context (crash
// capture did not start) there is nowhere to write them.
void recordInternalKeyLater(const char* key, std::string value) {
  auto queue = MVXContextLoggingQueue();
  if (!queue) return;
  queue->async(
      [key, value = std::move(value)] { MVXUserLoggingRecordInternalKeyValue(key, value); });
}

}  // namespace

void tw::crash::setPermissionAlertPresenter(PermissionAlertPresenter presenter) {
  std::lock_guard lock(gHooksMutex);
  gPresenter = std::move(presenter);
}

void tw::crash::setContextInitializerForTesting(
    std::function<bool(const MVXContextSettings*)> initializer) {
  std::lock_guard lock(gHooksMutex);
  gContextInitializer = std::move(initializer);
}

std::shared_ptr<MVXCrashReportingController> MVXCrashReportingController::initWithFileManager(
    std::shared_ptr<MVXFileManager> fileManager,
    const std::weak_ptr<MVXCrashReportingControllerDelegate>& delegate) {
  std::shared_ptr<MVXCrashReportingController> controller(new MVXCrashReportingController());
  controller->fileManager_ = std::move(fileManager);
  controller->delegate_ = delegate;
  controller->operationQueue_ = TSYCreateOperationQueue(kWorkQueueName);
  controller->networkClient_ =
      MVXNetworkClient::create(controller->operationQueue_, controller->fileManager_, controller);
  controller->promptChoice_.store(kNotAsked);
  return controller;
}

MVXCrashReportingController::~MVXCrashReportingController() {
  settingsObservation_.remove();
  becomeActiveObservation_.remove();
  resignActiveObservation_.remove();
}

void MVXCrashReportingController::onWorkQueue(std::function<void()> block) {
  operationQueue_->addOperationWithBlock(std::move(block));
}

bool MVXCrashReportingController::startWithProfilingMark(
    std::uint64_t mark, const std::optional<std::string>& betaToken) {
  if (!checkPreconditions()) return false;
  if (!settings().crashReportingEnabled()) {
    tw::log("[Morvex:Crash] Reporting is disabled");
    fileManager_->removeContentsOfAllPaths();
    return false;
  }
  if (!prepareForNewLaunch()) return false;
  const bool urgent = checkForAndCreateLaunchMarker();
  // The earlier runs' directories, listed before this run's exists and before any queued work
  // can move one of them.
  const std::vector<std::string> leftovers = fileManager_->activePathContents();
  auto report = setupCurrentReport();
  auto delegate = this->delegate();
  const auto apiKey = delegate ? delegate->APIKeyForCrashReportingController(*this) : std::nullopt;
  if (!startCrashReporterWithAPIKey(apiKey, betaToken, mark, report)) {
    tw::log("[Morvex:Crash] Unable to start crash reporter");
    report = nullptr;
  }
  {
    std::lock_guard lock(mutex_);
    currentReport_ = report;
  }
  processExistingReportPaths(leftovers, urgent);
  handleContentsInOtherReportingDirectories();
  if (!report) return false;
  recordInternalKeyLater("com.morvex.kit-start-time", millisecondsText(mark));
  return true;
}

bool MVXCrashReportingController::checkPreconditions() {
  if (!TSYGetEscapedBundleIdentifier().empty()) return true;
  tw::log("[Morvex] An application must have a valid bundle idenifier in its Info.plist");
  return false;
}

bool MVXCrashReportingController::prepareForNewLaunch() {
  // Before the store is readied and synchronously: a queued removal could otherwise run while
  // this launch already works in the tree.
  fileManager_->removeLegacyDirectories();
  return fileManager_->prepareForNewLaunch();
}

bool MVXCrashReportingController::checkForAndCreateLaunchMarker() {
  if (launchFailureMarkerPresent()) {
    debugLog(
        "[Morvex:Crash] Last launch failed: this may indicate a crash shortly after app launch.");
    return true;
  }
  createLaunchFailureMarker();
  return false;
}

std::shared_ptr<MVXInternalReport> MVXCrashReportingController::setupCurrentReport() {
  createLaunchFailureMarker();
  const std::string identifier = Tessaly::sharedSDK()->executionIdentifier();
  std::shared_ptr<MVXInternalReport> report;
  if (auto path = fileManager_->setupNewPathForExecutionIdentifier(identifier)) {
    report = MVXInternalReport::create(*path, identifier);
  }
  if (!report) tw::log("[Morvex:Crash] Unable to setup a new report");
  return report;
}

bool MVXCrashReportingController::startCrashReporterWithAPIKey(
    const std::optional<std::string>& apiKey, const std::optional<std::string>& betaToken,
    std::uint64_t mark, const std::shared_ptr<MVXInternalReport>& report) {
  if (!report) return false;
  auto delegate = this->delegate();
  const MVXSettings s = settings();
  const std::string path = report->path();
  const std::string installID =
      delegate ? delegate->installIDForCrashReportingController(*this) : std::string();
  MVXContextSettings context;
  context.apiKey = apiKey ? apiKey->c_str() : nullptr;
  context.immediateDeliveryDelegate = nullptr;
  context.firstInstall = delegate && delegate->isFirstInstallForCrashReportingController(*this);
  context.crashCallbackTarget =
      (delegate && delegate->shouldInstallCrashCallback()) ? this : nullptr;
  context.customBundleIdentifier = nullptr;
  context.reportDirectory = path.c_str();
  context.reportIdentifier = report->identifier().c_str();
  context.installIdentifier = installID.c_str();
  context.betaToken = betaToken ? betaToken->c_str() : nullptr;
  context.machExceptionMask = machExceptionMask();
  context.errorReportingEnabled = s.errorReportingEnabled();
  context.customExceptionsEnabled = s.customExceptionsEnabled();
  context.maxCustomExceptions = s.maxCustomExceptions();
  context.errorLogBufferSize = s.errorLogBufferSize();
  context.logBufferSize = s.logBufferSize();
  context.maxCustomKeys = s.maxCustomKeys();
  if (!installCrashReportingHandlers(context)) return false;
  if (s.emberlynMorvexEnabled()) registerAnalyticsEventListener();
  std::weak_ptr<MVXCrashReportingController> weak = weak_from_this();
  settingsObservation_ = tw::NotificationCenter::defaultCenter()->addObserver(
      TSYSettingsAvailableNotification, nullptr, nullptr,
      [weak](const tw::Notification&) {
        if (auto self = weak.lock()) self->tessalySettingsDownloaded();
      },
      weak);
  crashReportingSetupCompleted(mark);
  return true;
}

bool MVXCrashReportingController::installCrashReportingHandlers(const MVXContextSettings& context) {
  std::function<bool(const MVXContextSettings*)> initializer;
  {
    std::lock_guard lock(gHooksMutex);
    initializer = gContextInitializer;
  }
  const bool ok = initializer ? initializer(&context) : MVXContextInitialize(&context);
  if (!ok) return false;
  setupStateNotifications();
  return true;
}

std::uint32_t MVXCrashReportingController::machExceptionMask() {
  // No exception ports on this system: the mask keeps one bit per signal number whose delivery
  // the delegate asks for, for whoever reads the context.
  std::uint32_t mask = 0;
  auto delegate = this->delegate();
  if (!delegate) return mask;
  MVXSignalEnumerateHandledSignals([&](int, int signal) {
    if (delegate->reportingControllerEnsureDeliveryOfUnixSignal(*this, signal)) {
      mask |= 1u << signal;
    }
  });
  return mask;
}

void MVXCrashReportingController::crashReportingSetupCompleted(std::uint64_t mark) {
  std::weak_ptr<MVXCrashReportingController> weak = weak_from_this();
  tw::DispatchQueue::main()->after(kHandlerCheckDelaySeconds, [weak] {
    auto self = weak.lock();
    if (!self) return;
    MVXExceptionCheckHandlers();
    MVXSignalCheckHandlers();
    self->checkForUserPromptSetting();
  });
  tw::DispatchQueue::main()->async([weak, mark] {
    if (auto self = weak.lock()) self->removeLaunchFailureMarker();
    recordInternalKeyLater("com.morvex.first-run-loop-time", millisecondsText(mark));
  });
}

void MVXCrashReportingController::checkForUserPromptSetting() {
  if (!settings().userPromptEnabled() || delegateNeedsToBeInformedOfReports()) return;
  tw::log(
      "[Morvex:Crash] WARNING: the user prompt feature is enabled. As of Morvex 3.0.0, "
      "implementing a user prompt is the application's responsibility. See Morvex's notes about "
      "-morvexDidDetectReportForLastExecution:completionHandler:");
}

void MVXCrashReportingController::processExistingReportPaths(const std::vector<std::string>& paths,
                                                             bool urgent) {
  for (const std::string& path : paths) processExistingActiveReportPath(path, urgent);
}

void MVXCrashReportingController::processExistingActiveReportPath(const std::string& path,
                                                                  bool urgent) {
  // A directory a live process holds belongs to that process's run.
  if (MVXFileManager::isReportDirectoryLocked(path)) return;
  auto report = MVXInternalReport::reportWithPath(path);
  if (!report) {
    auto self = shared_from_this();
    onWorkQueue([self, path] { self->disposeOfUnreadableReport(path); });
    return;
  }
  if (!report->needsToBeSubmitted()) {
    // Nothing worth sending: it goes.
    auto fileManager = fileManager_;
    onWorkQueue([fileManager, path] { fileManager->removeItemAtPath(path); });
    return;
  }
  auto delegate = this->delegate();
  if (delegate) delegate->reportingControllerInternalDidDetectReportForLastExecution(*this, report);
  if (urgent && canProcessUrgentReports()) {
    reportsController()->prepareAndSubmitReport(report, true, true);
    return;
  }
  std::weak_ptr<MVXCrashReportingController> weak = weak_from_this();
  auto completion = [weak, report](bool submit) {
    if (auto self = weak.lock()) self->handleDelegateCompletionForReport(report, submit);
  };
  if (delegate) {
    delegate->reportingControllerDidDetectReportForLastExecution(*this, report, completion);
  } else {
    completion(true);
  }
}

void MVXCrashReportingController::handleDelegateCompletionForReport(
    const std::shared_ptr<MVXInternalReport>& report, bool submit) {
  auto self = shared_from_this();
  onWorkQueue([self, report, submit] {
    if (!submit) {
      debugLog("[Morvex:Crash] Removing report at request of delegate");
      self->removeReport(report);
    } else if (self->needsToPrompt()) {
      self->displayPermissionAlertForReport(report);
    } else {
      self->submit(report);
    }
  });
}

void MVXCrashReportingController::submit(const std::shared_ptr<MVXInternalReport>& report) {
  reportsController()->prepareAndSubmitReport(report, false, true);
}

void MVXCrashReportingController::removeReport(const std::shared_ptr<MVXInternalReport>& report) {
  fileManager_->removeItemAtPath(report->path());
}

void MVXCrashReportingController::disposeOfUnreadableReport(const std::string& path) {
  std::error_code ec;
  const auto metadata =
      std::filesystem::symlink_status(path + "/" + MVXInternalReport::kMetadataFile, ec);
  if (!std::filesystem::exists(metadata)) {
    debugLog("[Morvex:Crash] Removing report without metadata at '%@'", path);
    fileManager_->removeItemAtPath(path);
    return;
  }
  fileManager_->moveDamagedItemAtPath(path, "its metadata cannot be read");
}

bool MVXCrashReportingController::isUploadablePackage(const std::string& path) {
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(path, ec);
  if (!std::filesystem::exists(status)) return false;
  if (!std::filesystem::is_regular_file(status)) {
    fileManager_->moveDamagedItemAtPath(path, "it is not a package file");
    return false;
  }
  const std::string header = TSYMultipartMimeStreamEncoder::headerData();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT)
      tw::log(tw::format("[Morvex:Crash] Unable to read the package %@: %@", path,
                         std::error_code(errno, std::generic_category()).message()));
    return false;
  }
  std::string start(header.size(), '\0');
  const ssize_t n = ::read(fd, start.data(), start.size());
  const int readError = errno;
  ::close(fd);
  if (n < 0) {
    tw::log(tw::format("[Morvex:Crash] Unable to read the package %@: %@", path,
                       std::error_code(readError, std::generic_category()).message()));
    return false;
  }
  // An empty file is a package already sent (see the reports controller).
  if (n == 0) return true;
  if (static_cast<std::size_t>(n) == header.size() && start == header) return true;
  fileManager_->moveDamagedItemAtPath(path, "it is not a package the kit wrote");
  return false;
}

void MVXCrashReportingController::handleContentsInOtherReportingDirectories() {
  handleExistingFilesInProcessing();
  handleExistingFilesInPrepared();
}

void MVXCrashReportingController::handleExistingFilesInProcessing() {
  const std::vector<std::string> paths = fileManager_->processingPathContents();
  auto self = shared_from_this();
  onWorkQueue([self, paths] {
    for (const std::string& path : paths) {
      // Listed before this launch's queued work ran: a report this launch already submitted has
      // since gone from here.
      std::error_code ec;
      if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) continue;
      if (MVXFileManager::isReportDirectoryLocked(path)) continue;
      auto report = MVXInternalReport::reportWithPath(path);
      if (!report) {
        self->disposeOfUnreadableReport(path);
        continue;
      }
      self->reportsController()->prepareAndSubmitReport(report, false, false);
    }
  });
}

void MVXCrashReportingController::handleExistingFilesInPrepared() {
  const std::vector<std::string> paths = fileManager_->preparedPathContents();
  std::weak_ptr<MVXCrashReportingController> weak = weak_from_this();
  networkClient_->attemptToReconnectBackgroundSessionWithCompletionBlock([weak, paths] {
    auto self = weak.lock();
    if (!self) return;
    self->onWorkQueue([weak, paths] {
      if (auto owner = weak.lock()) owner->uploadPreexistingFiles(paths);
    });
  });
}

void MVXCrashReportingController::uploadPreexistingFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (!isUploadablePackage(path)) continue;
    reportsController()->uploadPackagedReportAtPath(path, false);
  }
}

void MVXCrashReportingController::retryUploadForReportAtPath(const std::string& path) {
  std::weak_ptr<MVXCrashReportingController> weak = weak_from_this();
  tw::DispatchQueue::global()->after(kRetryDelaySeconds, [weak, path] {
    auto self = weak.lock();
    if (!self) return;
    self->onWorkQueue([weak, path] {
      auto owner = weak.lock();
      if (!owner) return;
      debugLog("[Morvex:Crash] re-attempting report submission");
      owner->reportsController()->uploadPackagedReportAtPath(path, false);
    });
  });
}

void MVXCrashReportingController::displayPermissionAlertForReport(
    const std::shared_ptr<MVXInternalReport>& report) {
  if (MVXApplicationIsExtension()) {
    auto self = shared_from_this();
    onWorkQueue([self, report] { self->submit(report); });
    return;
  }
  const MVXSettings s = settings();
  const std::string title = s.interactivePromptTitle();
  const std::string message = s.interactivePromptMessage();
  const std::string cancel = s.interactivePromptCancelTitle();
  const std::string send = s.interactivePromptSendTitle();
  const std::string always = s.interactivePromptAlwaysSendTitle();
  debugLog("[Morvex:Crash] Displaying permission alert");
  auto self = shared_from_this();
  tw::DispatchQueue::main()->async([self, title, message, cancel, send, always, report] {
    self->setupAndDisplayAlertWithTitle(title, message, cancel, send, always, report);
  });
}

void MVXCrashReportingController::setupAndDisplayAlertWithTitle(
    const std::string& title, const std::string& message, const std::string& cancel,
    const std::string& send, const std::optional<std::string>& alwaysSend,
    const std::shared_ptr<MVXInternalReport>& report) {
  const int choice = promptChoice_.load();
  if (choice == kSend || choice == kAlwaysSend) {
    handlePromptCompleteForReport(report, true, false);
    return;
  }
  if (choice == kDoNotSend) {
    handlePromptCompleteForReport(report, false, false);
    return;
  }
  tw::crash::PermissionAlert alert{title, message, {send}};
  if (alwaysSend) alert.buttons.push_back(*alwaysSend);
  alert.buttons.push_back(cancel);
  tw::crash::PermissionAlertPresenter presenter;
  {
    std::lock_guard lock(gHooksMutex);
    presenter = gPresenter;
  }
  // Without a presenter no alert can run; the result is then none of the buttons' and counts as
  // a plain send.
  const long result = presenter ? presenter(alert) : 0;
  const bool three = alert.buttons.size() == 3;
  const long cancelResult = three ? 1002 : 1001;
  const bool shouldSubmit = result != cancelResult;
  const bool always = three && result == 1001;
  // Recorded here, on the main queue, before the next waiting alert reads it.
  promptChoice_.store(!shouldSubmit ? kDoNotSend : (always ? kAlwaysSend : kSend));
  handlePromptCompleteForReport(report, shouldSubmit, always);
}

void MVXCrashReportingController::handlePromptCompleteForReport(
    const std::shared_ptr<MVXInternalReport>& report, bool shouldSubmit,
    bool shouldMarkAlwaysSubmit) {
  auto self = shared_from_this();
  onWorkQueue([self, report, shouldSubmit, shouldMarkAlwaysSubmit] {
    if (!shouldSubmit) {
      debugLog("[Morvex:Crash] Removing report at request of user");
      self->removeReport(report);
      return;
    }
    self->submit(report);
    if (shouldMarkAlwaysSubmit) debugLog("should set always submit here");
  });
}

std::string MVXCrashReportingController::launchFailureMarkerPath() const {
  return fileManager_->structurePath() + "/" + kLaunchMarkerName;
}

bool MVXCrashReportingController::createLaunchFailureMarker() const {
  const int fd = ::open(launchFailureMarkerPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  return ::close(fd) == 0;
}

bool MVXCrashReportingController::launchFailureMarkerPresent() const {
  return ::access(launchFailureMarkerPath().c_str(), F_OK) == 0;
}

bool MVXCrashReportingController::removeLaunchFailureMarker() const {
  return fileManager_->removeItemAtPath(launchFailureMarkerPath());
}

bool MVXCrashReportingController::packagingEnabled() { return settings().shouldPackageReports(); }

bool MVXCrashReportingController::delegateNeedsToBeInformedOfReports() {
  auto delegate = this->delegate();
  return delegate && delegate->reportingControllerMustInformDelegateOfReports(*this);
}

bool MVXCrashReportingController::canProcessUrgentReports() {
  return settings().canProcessUrgentReports() && !needsToPrompt() &&
         !delegateNeedsToBeInformedOfReports();
}

bool MVXCrashReportingController::needsToPrompt() {
  const int choice = promptChoice_.load();
  if (choice == kSend || choice == kAlwaysSend) return false;
  return settings().userPromptEnabled();
}

void MVXCrashReportingController::registerAnalyticsEventListener() {
  if (listenerRegistered_.exchange(true)) return;
  MVXEBVAnalytics::registerAnalyticsEventListener(tw::MVXEmberlynUserLogListener());
}

void MVXCrashReportingController::setupStateNotifications() {
  captureInitialNotificationStates();
  auto center = tw::NotificationCenter::defaultCenter();
  std::weak_ptr<MVXCrashReportingController> weak = weak_from_this();
  becomeActiveObservation_ = center->addObserver(
      "NSApplicationWillBecomeActiveNotification", nullptr, nullptr,
      [weak](const tw::Notification&) {
        if (auto self = weak.lock()) self->willBecomeActive();
      },
      weak);
  resignActiveObservation_ = center->addObserver(
      "NSApplicationDidResignActiveNotification", nullptr, nullptr,
      [weak](const tw::Notification&) {
        if (auto self = weak.lock()) self->didBecomeInactive();
      },
      weak);
}

void MVXCrashReportingController::captureInitialNotificationStates() {
  auto queue = MVXContextLoggingQueue();
  if (!queue) return;
  queue->async([] { MVXUserLoggingRecordInternalKeyValueDirect("com.morvex.in-background", "0"); });
}

void MVXCrashReportingController::willBecomeActive() {
  MVXUserLoggingRecordInternalKeyValue("com.morvex.in-background", "0");
}

void MVXCrashReportingController::didBecomeInactive() {
  MVXUserLoggingRecordInternalKeyValue("com.morvex.in-background", "1");
}

void MVXCrashReportingController::tessalySettingsDownloaded() {
  auto delegate = this->delegate();
  if (delegate && delegate->settingsForCrashReportingController(*this).emberlynMorvexEnabled()) {
    registerAnalyticsEventListener();
  }
  settingsObservation_.remove();
}

MVXSettings MVXCrashReportingController::settings() {
  std::lock_guard lock(mutex_);
  if (!settings_) {
    auto delegate = delegate_.lock();
    settings_ = delegate ? delegate->settingsForCrashReportingController(*this) : MVXSettings();
  }
  return *settings_;
}

std::shared_ptr<MVXReportsController> MVXCrashReportingController::reportsController() {
  std::lock_guard lock(mutex_);
  if (!reportsController_) {
    reportsController_ = std::make_shared<MVXReportsController>(operationQueue_, shared_from_this(),
                                                                networkClient_, fileManager_);
  }
  return reportsController_;
}

std::shared_ptr<MVXInternalReport> MVXCrashReportingController::currentReport() const {
  std::lock_guard lock(mutex_);
  return currentReport_;
}

void MVXCrashReportingController::deliverCrashDelegateCallback() {
  // The crashing thread: the delegate pointer is read without locking anything new.
  if (auto delegate = delegate_.lock()) delegate->detectedCrash();
}

bool MVXCrashReportingController::networkClientCanUseBackgroundSessions(MVXNetworkClient&) {
  auto delegate = this->delegate();
  return delegate && delegate->reportingControllerCanUseBackgroundSessions(*this);
}

void MVXCrashReportingController::networkClientDidFinishUploadWithPath(MVXNetworkClient&,
                                                                       const std::string& path,
                                                                       const tw::ErrorPtr& error) {
  reportsController()->reportUploadAtPath(path, error);
}

MVXSettings MVXCrashReportingController::settingsForReportsController(MVXReportsController&) {
  return settings();
}

std::optional<std::string> MVXCrashReportingController::APIKeyForReportsController(
    MVXReportsController&) {
  auto delegate = this->delegate();
  return delegate ? delegate->APIKeyForCrashReportingController(*this) : std::nullopt;
}

std::string MVXCrashReportingController::bundleIdentifierForReportsController(
    MVXReportsController&) {
  return TSYGetEscapedBundleIdentifier();
}

void MVXCrashReportingController::reportsControllerDidCompletePackageSubmission(
    MVXReportsController&, const std::string& packagePath, const tw::ErrorPtr& error) {
  if (!error) {
    debugLog("[Morvex:Crash] report submission successful");
    return;
  }
  debugLog("[Morvex:Crash] report submission failed with error %@", error->localizedDescription());
  const std::string description = error->localizedDescription();
  MVXSDKLOG(3, "WARN  [%s:%d] Error: failed to submit report '%s'\n", description.c_str());
  if (MVXReportsController::shouldRetrySubmissionAfterError(error)) {
    retryUploadForReportAtPath(packagePath);
  }
}
