#include "kits/analytics/ORVOrisethController.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "kits/analytics/ORVLogRotation.h"
#include "kits/analytics/ORVLogger.h"
#include "kits/analytics/ORVWriteEventOperation.h"
#include "kits/platform/Tessaly.h"
#include "kits/platform/net/TSYMultipartMimeStreamEncoder.h"
#include "kits/platform/settings/TSYSettingsOnboardingManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UUID.h"

namespace fs = std::filesystem;

namespace {
constexpr std::uint64_t kRecordOptions = 0xC000;
constexpr std::uint64_t kRotateOptions = 0xC0FF;
}  // namespace

std::shared_ptr<ORVOrisethController> ORVOrisethController::create(
    std::shared_ptr<ORVMetadata> metadata, fs::path rootDirectory, bool isFirstInstall,
    std::optional<tw::Dictionary> settings) {
  std::shared_ptr<ORVOrisethController> c(
      new ORVOrisethController(std::move(metadata), std::move(rootDirectory)));
  c->startUp(isFirstInstall, std::move(settings));
  return c;
}

ORVOrisethController::ORVOrisethController(std::shared_ptr<ORVMetadata> metadata, fs::path root)
    : eventQueue_(tw::OperationQueue::create("io.oriseth.EventQueue")),
      root_(std::move(root)),
      metadata_(std::move(metadata)) {
  eventQueue_->setMaxConcurrentOperationCount(1);
}

ORVOrisethController::~ORVOrisethController() {
  if (lockFd_ >= 0) ::close(lockFd_);
}

void ORVOrisethController::setRetryHandlerForTesting(
    std::shared_ptr<ORVNetworkRetryHandler> handler) {
  eventQueue_->addOperationWithBlock(
      [this, handler = std::move(handler)] { networkRetryHandler_ = handler; });
}

void ORVOrisethController::startUp(bool isFirstInstall, std::optional<tw::Dictionary> settings) {
  std::weak_ptr<ORVOrisethController> weak = shared_from_this();
  eventQueue_->addOperationWithBlock([this, weak] {
    auto self = weak.lock();
    if (!self) return;
    rootEventDirectory_ = eventDirectoryForRootDirectory(root_);
    std::error_code ec;
    fs::create_directories(rootEventDirectory_, ec);
    // One process owns the folder; a second one must not take over its live log files.
    int fd = ::open((root_ / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      lockFd_ = fd;
    } else {
      if (fd >= 0) ::close(fd);
      ORVLogger::sharedLogger().log("Analytics folder %@ is in use by another process.",
                                    root_.string());
    }
    currentLogURL_ = generateNewLogPath();
    settings_ = std::make_shared<ORVSettings>(std::nullopt);
    if (ownsFolder()) {
      ORVRotateCrashMetadataOperation rotate(crashMetadataPathForRootDirectory(root_), metadata_);
      rotate.main();
      previousExecutionMetadata_ = rotate.crashMetadata();
    } else {
      previousExecutionMetadata_ = std::make_shared<ORVCrashMetadata>(tw::Dictionary{});
    }
    if (!networkRetryHandler_) networkRetryHandler_ = std::make_shared<ORVNetworkRetryHandler>();
    uploader_ = ORVUploader::create(eventQueue_, weak);
    if (ownsFolder()) cleanupAndProcessExistingFiles();
  });
  registerForApplicationLifecycleEvents();
  auto center = tw::NotificationCenter::defaultCenter();
  center->addObserver(
      TSYSettingsAvailableNotification, nullptr, nullptr,
      [weak](const tw::Notification&) {
        auto self = weak.lock();
        if (!self) return;
        auto value = Tessaly::sharedSDK()->settings();
        std::optional<tw::Dictionary> settings;
        if (value.dictionary()) settings = *value.dictionary();
        self->initializeSettingsIfNeededWithTessalySettings(std::move(settings));
      },
      weak);
  if (isFirstInstall) enqueueEvent(ORVLifecycleEvent::installEvent());
  enqueueEvent(ORVLifecycleEvent::appLaunchedEvent());
  initializeSettingsIfNeededWithTessalySettings(std::move(settings));
}

void ORVOrisethController::registerForApplicationLifecycleEvents() {
  std::weak_ptr<ORVOrisethController> weak = weak_from_this();
  auto center = tw::NotificationCenter::defaultCenter();
  for (const auto& [name, eventName] : ORVLifecycleEvent::notificationNameMap()) {
    center->addObserver(
        name, nullptr, nullptr,
        [weak](const tw::Notification& n) {
          if (auto self = weak.lock())
            self->enqueueEvent(ORVLifecycleEvent::eventWithNotification(n.name));
        },
        weak);
  }
}

fs::path ORVOrisethController::generateNewLogPath() const {
  return rootEventDirectory_ / (tw::makeUUIDString() + ".log");
}

void ORVOrisethController::initializeSettingsIfNeededWithTessalySettings(
    std::optional<tw::Dictionary> settings) {
  std::weak_ptr<ORVOrisethController> weak = weak_from_this();
  eventQueue_->addOperationWithBlock([this, weak, settings = std::move(settings)] {
    auto self = weak.lock();
    if (!self || !settings || settings_->valid()) return;
    settings_ = std::make_shared<ORVSettings>(settings);
    auto& logger = ORVLogger::sharedLogger();
    if (settings_->shouldCollectAnalytics()) {
      auto it = settings->find("analytics");
      logger.log("Oriseth enabled with settings: %@",
                 it == settings->end() ? tw::Value() : it->second);
      logger.log("Logging events to %@", rootEventDirectory_.string());
      setupFlushTimer();
      uploader_->setDefaultUploadTimeout(settings_->defaultUploadTimeout());
      uploader_->setLowPowerUploadTimeout(settings_->lowPowerUploadTimeout());
      uploadAllMultipartFiles();
    } else {
      logger.log("Oriseth is disabled. Cleaning up.");
      removeAllLogs();
    }
  });
}

bool ORVOrisethController::shouldLogEvent() const {
  if (!settings_ || !ownsFolder()) return false;
  if (!settings_->valid()) return true;
  return settings_->shouldCollectAnalytics();
}

bool ORVOrisethController::isDiscarded(const ORVEvent& event) const {
  if (!eventFilter_.shouldDiscardEvent(&event, metadata_->fields().betaToken,
                                       metadata_->fields().installationId,
                                       settings_->samplingRate()))
    return false;
  ORVLogger::sharedLogger().log("Application is enabled for sampling, skipping %@",
                                event.description());
  return true;
}

bool ORVOrisethController::shouldSubmitLogAtURL(const fs::path& url) const {
  return ORVFileUtils::fileSizeAtURL(url) > settings_->maximumPayloadSize();
}

void ORVOrisethController::logEvent(std::shared_ptr<ORVEvent> event) {
  if (!event) return;
  ORVLogger::sharedLogger().log("Logging Oriseth event: %@", event->description());
  enqueueEvent(std::move(event));
}

void ORVOrisethController::scheduleWrite(const std::shared_ptr<const ORVEvent>& event,
                                         std::shared_ptr<const ORVMetadataSerializable> metadata,
                                         const std::shared_ptr<tw::Operation>& activity) {
  auto write = std::make_shared<ORVWriteEventOperation>(event, std::move(metadata), currentLogURL_);
  currentLogHasScheduledWrite_ = true;
  activity->addDependency(write);
  eventQueue_->addOperation(write);
}

void ORVOrisethController::enqueueEvent(std::shared_ptr<ORVEvent> event) {
  auto activity = ORVActivityOperation::operationByStartingActivityName("io.oriseth.RecordEvent",
                                                                        kRecordOptions);
  std::weak_ptr<ORVOrisethController> weak = weak_from_this();
  auto block =
      std::make_shared<tw::BlockOperation>([this, weak, event = std::move(event), activity] {
        auto self = weak.lock();
        if (!self || !shouldLogEvent() || isDiscarded(*event)) return;
        scheduleWrite(event, metadata_, activity);
        if (shouldSubmitLogAtURL(currentLogURL_) || event->triggersFlush())
          rotateAndSubmitCurrentLog();
      });
  activity->addDependency(block);
  eventQueue_->addOperations({block, activity}, false);
}

void ORVOrisethController::logCrashEvent(std::shared_ptr<ORVCrashEvent> event) {
  auto activity = ORVActivityOperation::operationByStartingActivityName(
      "io.oriseth.RecordCrashEvent", kRecordOptions);
  std::weak_ptr<ORVOrisethController> weak = weak_from_this();
  auto block =
      std::make_shared<tw::BlockOperation>([this, weak, event = std::move(event), activity] {
        auto self = weak.lock();
        if (!self) return;
        ORVLogger::sharedLogger().log("Attempting to log %@", event->name());
        if (!shouldLogEvent() || isDiscarded(*event)) return;
        // A write already scheduled for the current file decides, not whether it exists yet.
        if (currentLogHasScheduledWrite_ || fs::exists(currentLogURL_)) rotateAndSubmitCurrentLog();
        scheduleWrite(event, previousExecutionMetadata_, activity);
        rotateAndSubmitCurrentLog();
      });
  activity->addDependency(block);
  eventQueue_->addOperations({block, activity}, false);
}

void ORVOrisethController::rotateAndSubmitCurrentLog() {
  auto activity = ORVActivityOperation::operationByStartingActivityName(
      "io.oriseth.RotateAndSubmit", kRotateOptions);
  fs::path old = currentLogURL_;
  currentLogURL_ = generateNewLogPath();
  currentLogHasScheduledWrite_ = false;
  auto ops = operationsForUncompressedLog(old);
  for (auto& op : ops) activity->addDependency(op);
  ops.push_back(activity);
  eventQueue_->addOperations(ops, false);
}

std::vector<std::shared_ptr<tw::Operation>> ORVOrisethController::operationsForUncompressedLog(
    const fs::path& url) {
  if (url.extension() != ".log")
    ORVLogger::sharedLogger().log(
        "Error: attempted to submit file with invalid extension %@, should be %@",
        url.extension().string(), "log");
  auto gz = ORVCompressLogOperation::compressedURLForUncompressedURL(url);
  auto compress = std::make_shared<ORVCompressLogOperation>(url, gz);
  std::weak_ptr<ORVCompressLogOperation> weakCompress = compress;
  compress->setCompletionBlock([weakCompress, url] {
    // Only a complete archive replaces the log; otherwise the next start retries it.
    auto op = weakCompress.lock();
    std::error_code ec;
    if (op && op->success()) fs::remove(url, ec);
  });
  auto rest = operationsForCompressedLog(gz);
  rest.front()->addDependency(compress);
  rest.insert(rest.begin(), compress);
  return rest;
}

std::vector<std::shared_ptr<tw::Operation>> ORVOrisethController::operationsForCompressedLog(
    const fs::path& url) {
  if (url.extension() != ".gz")
    ORVLogger::sharedLogger().log(
        "Error: attempted to submit file with invalid extension %@, should be %@",
        url.extension().string(), "gz");
  std::string boundary = TSYMultipartMimeStreamEncoder::generateBoundary();
  auto multipart = rootEventDirectory_ / (boundary + ".multipartmime");
  auto package = std::make_shared<ORVPackageLogOperation>(url, multipart, boundary);
  std::weak_ptr<ORVPackageLogOperation> weakPackage = package;
  package->setCompletionBlock([weakPackage, url] {
    auto op = weakPackage.lock();
    std::error_code ec;
    if (op && op->success()) fs::remove(url, ec);
  });
  auto upload = uploadOperationForFileAtURL(multipart, boundary);
  upload->addDependency(package);
  return {package, upload};
}

std::shared_ptr<tw::Operation> ORVOrisethController::uploadOperationForFileAtURL(
    const fs::path& url, const std::string& boundary) {
  auto op = std::make_shared<ORVUploadOperation>(uploader_, settings_->orisethURL(),
                                                 metadata_->fields().APIKey, url, boundary);
  // No file leaves before the kit has its settings; it waits on disk for them.
  if (!settings_->valid()) op->cancel();
  return op;
}

void ORVOrisethController::cleanupAndProcessExistingFiles() {
  auto cleanup = std::make_shared<ORVCleanupFilesOperation>(
      rootEventDirectory_, static_cast<std::size_t>(settings_->maxPendingSendFiles()));
  std::weak_ptr<ORVOrisethController> weak = weak_from_this();
  cleanup->setSuccessBlock([this, weak](const auto& logs, const auto& gzs, const auto& multipart) {
    auto self = weak.lock();
    if (!self) return;
    for (const auto& log : logs)
      eventQueue_->addOperations(operationsForUncompressedLog(log), false);
    for (const auto& gz : gzs) eventQueue_->addOperations(operationsForCompressedLog(gz), false);
    uploader_->attemptToReconnectBackgroundSessionWithCompletionBlock([weak, multipart] {
      if (auto s = weak.lock()) s->uploadMultipartFiles(multipart);
    });
  });
  eventQueue_->addOperation(cleanup);
}

void ORVOrisethController::uploadAllMultipartFiles() {
  uploadMultipartFiles(ORVFileUtils::filesWithExtension("multipartmime", rootEventDirectory_));
}

void ORVOrisethController::uploadMultipartFiles(const ORVFileUtils::URLSet& files) {
  for (const auto& file : files) {
    if (file.extension() != ".multipartmime") continue;
    eventQueue_->addOperation(uploadOperationForFileAtURL(file, file.stem().string()));
  }
}

void ORVOrisethController::setupFlushTimer() {
  double interval = settings_->flushInterval();
  if (!(interval > 0)) {
    flushTimer_.reset();
    return;
  }
  std::weak_ptr<ORVOrisethController> weak = weak_from_this();
  flushTimer_ = ORVTimer::create(interval, eventQueue_, "io.oriseth.TimedEventsFlush", [weak] {
    if (auto self = weak.lock()) self->flushTimerFired();
  });
}

void ORVOrisethController::flushTimerFired() {
  if (!(settings_->flushInterval() > 0)) {
    flushTimer_.reset();
    return;
  }
  if (shouldSubmitLogAtURL(currentLogURL_)) rotateAndSubmitCurrentLog();
}

void ORVOrisethController::removeAllLogs() {
  if (!ownsFolder()) return;
  for (const auto& file : ORVFileUtils::allFilesInDirectory(rootEventDirectory_)) {
    std::error_code ec;
    fs::remove(file, ec);
  }
}

fs::path ORVOrisethController::uploaderFilePathForUniqueName(ORVUploader&,
                                                             const std::string& uniqueName) {
  return rootEventDirectory_ / (uniqueName + ".multipartmime");
}

void ORVOrisethController::uploaderDidFinishUpload(ORVUploader&, const std::string& uniqueName,
                                                   const tw::ErrorPtr& error) {
  auto& logger = ORVLogger::sharedLogger();
  if (error) logger.log("Failed to upload '%@': %@", uniqueName, error->localizedDescription());
  logger.log("Finished transmission of '%@'.", uniqueName);
  if (uniqueName.empty()) return;
  std::error_code ec;
  fs::remove(rootEventDirectory_ / (uniqueName + ".multipartmime"), ec);
}

void ORVOrisethController::uploaderDidReceiveChallenge(
    ORVUploader&, const std::shared_ptr<MVXURLSession>& session,
    const tw::URLAuthenticationChallenge& challenge,
    const tw::ChallengeCompletionHandler& handler) {
  networkRetryHandler_->handleChallenge(challenge, session, handler);
}

void ORVOrisethController::uploaderCompletedRequest(ORVUploader&, const tw::URLRequest& request,
                                                    const std::optional<tw::URLResponse>& response,
                                                    const std::string& uniqueName,
                                                    const tw::ErrorPtr& error,
                                                    RetryHandler completionHandler) {
  networkRetryHandler_->handleCompletedRequest(
      request, response ? &*response : nullptr, uniqueName, error,
      [uniqueName, completionHandler](bool retry, const tw::ErrorPtr& e) {
        auto& logger = ORVLogger::sharedLogger();
        if (e) logger.log("Error transmitting '%@': %@", uniqueName, e->localizedDescription());
        if (retry) logger.log("Scheduling retry for '%@'.", uniqueName);
        completionHandler(retry, e);
      });
}
