#include "kits/analytics/ORVUploader.h"

#include <unistd.h>

#include "kits/analytics/ORVApplication.h"
#include "kits/analytics/ORVFileUtils.h"
#include "kits/analytics/ORVLogger.h"
#include "kits/platform/KitServiceEndpoints.h"
#include "kits/platform/net/TSYMultipartMimeStreamEncoder.h"
#include "kits/platform/net/TSYNetworkResponseHandler.h"
#include "platform/foundation/Clock.h"

std::shared_ptr<ORVUploader> ORVUploader::create(std::shared_ptr<tw::OperationQueue> queue,
                                                 std::weak_ptr<ORVUploaderDelegate> delegate) {
  return std::make_shared<ORVUploader>(std::move(queue), std::move(delegate));
}

ORVUploader::ORVUploader(std::shared_ptr<tw::OperationQueue> queue,
                         std::weak_ptr<ORVUploaderDelegate> delegate)
    : operationQueue_(std::move(queue)), delegate_(std::move(delegate)) {}

void ORVUploader::onQueue(std::function<void()> block) {
  std::weak_ptr<ORVUploader> weak = weak_from_this();
  operationQueue_->addOperationWithBlock([weak, block = std::move(block)] {
    if (weak.lock()) block();
  });
}

void ORVUploader::powerStageChanged() {
  onQueue([this] { session_.reset(); });
}

void ORVUploader::setLowPowerModeProvider(std::function<bool()> provider) {
  onQueue([this, provider = std::move(provider)] {
    lowPowerProvider_ = provider;
    session_.reset();
  });
}

bool ORVUploader::supportsBackgroundRequests() const {
  if (ORVApplication::hostApplication().isExtension()) return false;
  return shouldUseBackgroundRequests();
}

void ORVUploader::attemptToReconnectBackgroundSessionWithCompletionBlock(
    std::function<void()> block) {
  onQueue([this, block = std::move(block)] {
    if (!supportsBackgroundRequests()) {
      if (block) block();
      return;
    }
    auto queue = operationQueue_;
    tw::DispatchQueue::main()->async([queue, block] { queue->addOperationWithBlock(block); });
  });
}

void ORVUploader::setDefaultUploadTimeout(double seconds) {
  onQueue([this, seconds] {
    defaultUploadTimeout_ = seconds;
    session_.reset();
  });
}

void ORVUploader::setLowPowerUploadTimeout(double seconds) {
  onQueue([this, seconds] {
    lowPowerUploadTimeout_ = seconds;
    session_.reset();
  });
}

std::shared_ptr<MVXURLSession> ORVUploader::session() {
  // The power daemon's changes are not watched (that would keep a connection and a thread for
  // the life of the process); the state is read when a session is wanted, which is the only
  // moment it matters, and a change is treated as powerStageChanged would be.
  if (session_ && lowPowerProvider_ && lowPowerMode() != sessionLowPower_) session_.reset();
  if (session_) return session_;
  std::shared_ptr<MVXURLSessionConfiguration> configuration;
  if (supportsBackgroundRequests())
    configuration = MVXURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier(
        "io.oriseth.background-session");
  if (!configuration) configuration = MVXURLSessionConfiguration::defaultSessionConfiguration();
  bool lowPower = lowPowerMode();
  sessionLowPower_ = lowPower;
  configuration->allowsCellularAccess = !lowPower;
  configuration->timeoutIntervalForResource =
      lowPower ? lowPowerUploadTimeout_ : defaultUploadTimeout_;
  session_ =
      MVXURLSession::sessionWithConfiguration(configuration, shared_from_this(), operationQueue_);
  return session_;
}

tw::ErrorPtr ORVUploader::errorWithCode(long code, const tw::Dictionary& userInfo) {
  return tw::Error::make(TSYNetworkErrorDomain, code, userInfo);
}

tw::Dictionary ORVUploader::errorUserInfoWithFilePath(const std::filesystem::path& filePath,
                                                      const std::string& uniqueName) {
  return {{"NSFilePath", filePath.empty() ? std::string("(null)") : filePath.string()},
          {"ORVUploaderUniqueName", uniqueName}};
}

void ORVUploader::startUploadRequest(const tw::URLRequest& request,
                                     const std::filesystem::path& filePath,
                                     const std::string& uniqueName) {
  onQueue([this, request, filePath, uniqueName] {
    auto s = session();
    if (!s) return;
    std::weak_ptr<ORVUploader> weak = weak_from_this();
    s->getTasksWithCompletionHandler(
        [weak, request, filePath, uniqueName](const MVXURLSession::TaskLists& lists) {
          auto self = weak.lock();
          if (!self) return;
          bool exists = self->inFlight_.count(uniqueName) != 0;
          for (const auto* list : {&lists.uploadTasks, &lists.dataTasks, &lists.downloadTasks})
            for (const auto& task : *list)
              exists = exists || (task && task->taskDescription() == uniqueName);
          if (exists) {
            ORVLogger::sharedLogger().logWithLabel(
                "ORVUploader", "A task currently exists for '%@', skipping", uniqueName);
            return;
          }
          self->startNewUploadRequest(request, filePath, uniqueName);
        });
  });
}

void ORVUploader::startNewUploadRequest(const tw::URLRequest& request,
                                        const std::filesystem::path& filePath,
                                        const std::string& uniqueName) {
  auto refuse = [this, &filePath, &uniqueName](long code) {
    auto error = errorWithCode(code, errorUserInfoWithFilePath(filePath, uniqueName));
    onQueue(
        [this, uniqueName, error] { handleTaskDescriptionCompletedWithError(uniqueName, error); });
  };
  if (request.url.empty() || filePath.empty() || uniqueName.empty()) return refuse(-2);
  if (::access(filePath.c_str(), R_OK) != 0) return refuse(-8);
  auto task = session()->uploadTaskWithRequest(request, filePath);
  if (!task) return refuse(-2);
  task->setTaskDescription(uniqueName);
  inFlight_.insert(uniqueName);
  task->resume();
}

void ORVUploader::handleTaskDescriptionCompletedWithError(const std::string& description,
                                                          const tw::ErrorPtr& error) {
  inFlight_.erase(description);
  if (auto delegate = delegate_.lock())
    delegate->uploaderDidFinishUpload(*this, description, error);
}

void ORVUploader::restartTask(const tw::URLRequest& request, const std::string& uniqueName) {
  onQueue([this, request, uniqueName] {
    auto delegate = delegate_.lock();
    if (!delegate) return;
    auto path = delegate->uploaderFilePathForUniqueName(*this, uniqueName);
    startUploadRequest(request, path, uniqueName);
  });
}

void ORVUploader::URLSessionDidReceiveChallenge(const std::shared_ptr<MVXURLSession>& session,
                                                const tw::URLAuthenticationChallenge& challenge,
                                                const tw::ChallengeCompletionHandler& handler) {
  auto delegate = delegate_.lock();
  if (delegate && delegate->implementsDidReceiveChallenge()) {
    delegate->uploaderDidReceiveChallenge(*this, session, challenge, handler);
    return;
  }
  handler(tw::URLSessionAuthChallengeDisposition::PerformDefaultHandling, nullptr);
}

void ORVUploader::URLSessionTaskDidCompleteWithError(const std::shared_ptr<MVXURLSession>&,
                                                     const std::shared_ptr<MVXURLSessionTask>& task,
                                                     const tw::ErrorPtr& error) {
  auto delegate = delegate_.lock();
  std::string name = task->taskDescription();
  if (!delegate) {
    inFlight_.erase(name);
    return;
  }
  tw::URLRequest request = task->originalRequest();
  std::weak_ptr<ORVUploader> weak = weak_from_this();
  delegate->uploaderCompletedRequest(
      *this, request, task->response(), name, error,
      [weak, request, name](bool retry, const tw::ErrorPtr& handlerError) {
        auto self = weak.lock();
        if (!self) return;
        if (!retry) {
          self->onQueue([self, name, handlerError] {
            self->handleTaskDescriptionCompletedWithError(name, handlerError);
          });
          return;
        }
        ORVLogger::sharedLogger().log("Retrying task with name %@", name);
        self->onQueue([self, request, name] {
          // The old task is over; the restart makes a new one under the same name.
          self->inFlight_.erase(name);
          self->restartTask(request, name);
        });
      });
}

void ORVUploader::URLSessionDidBecomeInvalidWithError(const std::shared_ptr<MVXURLSession>&,
                                                      const tw::ErrorPtr& error) {
  ORVLogger::sharedLogger().logWithLabel("ORVUploader", "Error: session has become invalid %@",
                                         error ? error->localizedDescription() : "(null)");
}

ORVUploadOperation::ORVUploadOperation(std::shared_ptr<ORVUploader> uploader,
                                       std::string orisethURL, std::optional<std::string> apiKey,
                                       std::filesystem::path multipartURL,
                                       std::string multipartMimeBoundary)
    : uploader_(std::move(uploader)),
      orisethURL_(std::move(orisethURL)),
      apiKey_(std::move(apiKey)),
      multipartURL_(std::move(multipartURL)),
      multipartMimeBoundary_(std::move(multipartMimeBoundary)) {}

std::string ORVUploadOperation::currentTimestampString() {
  double now = tw::clock::wallNow();
  return std::to_string(now > 0 ? static_cast<unsigned long long>(now) : 0ULL);
}

tw::URLRequest ORVUploadOperation::makeRequest() const {
  tw::URLRequest request;
  request.url = orisethURL_;
  request.method = "POST";
  request.setValue(
      TSYMultipartMimeStreamEncoder::contentTypeHTTPHeaderValueWithBoundary(multipartMimeBoundary_),
      "Content-Type");
  request.setValue(std::to_string(ORVFileUtils::fileSizeAtURL(multipartURL_)), "Content-Length");
  request.setValue("Oriseth Mac SDK/1.4.0", "User-Agent");
  request.setValue(tw::kitservice::kDeveloperToken, "X-MORVEX-DEVELOPER-TOKEN");
  request.setValue("Oriseth Mac SDK", "X-MORVEX-API-CLIENT-TYPE");
  request.setValue("31", "X-MORVEX-API-CLIENT-VERSION");
  request.setValue("1.4.0", "X-MORVEX-API-CLIENT-DISPLAY-VERSION");
  request.setValue("31", "X-MORVEX-API-CLIENT-BUILD-VERSION");
  request.setValue(apiKey_, "X-MORVEX-API-KEY");
  request.setValue(currentTimestampString(), "X-Morvex-Api-Client-Packaged-Timestamp");
  return request;
}

void ORVUploadOperation::main() {
  std::string uniqueName = multipartURL_.stem().string();
  ORVLogger::sharedLogger().log("Transmitting packaged events for '%@'.", uniqueName);
  if (uploader_) uploader_->startUploadRequest(makeRequest(), multipartURL_, uniqueName);
}
