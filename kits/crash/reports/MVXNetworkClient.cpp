#include "kits/crash/reports/MVXNetworkClient.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>

#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXSetUp.h"
#include "kits/platform/Tessaly.h"
#include "kits/platform/net/TSYNetworkClient.h"
#include "kits/platform/net/TSYNetworkResponseHandler.h"
#include "kits/platform/net/TSYPinnedCertificates.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"

namespace {

bool readable(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

}  // namespace

std::shared_ptr<TSYCertificatePinner> MVXNetworkClient::pinner() {
  return std::make_shared<TSYCertificatePinner>(TSYPinnedCertificates());
}

bool MVXNetworkClient::debugMode() { return Tessaly::sharedSDK()->debug(); }

MVXNetworkClient::MVXNetworkClient(std::shared_ptr<tw::OperationQueue> queue,
                                   std::shared_ptr<MVXFileManager> fileManager,
                                   std::shared_ptr<TSYCertificatePinner> pinner)
    : operationQueue_(std::move(queue)),
      fileManager_(std::move(fileManager)),
      certPinner_(pinner ? std::move(pinner) : MVXNetworkClient::pinner()) {}

std::shared_ptr<MVXNetworkClient> MVXNetworkClient::create(
    std::shared_ptr<tw::OperationQueue> queue, std::shared_ptr<MVXFileManager> fileManager,
    const std::shared_ptr<MVXNetworkClientDelegate>& delegate,
    std::shared_ptr<TSYCertificatePinner> pinner) {
  std::shared_ptr<MVXNetworkClient> client(
      new MVXNetworkClient(std::move(queue), std::move(fileManager), std::move(pinner)));
  client->delegate_ = delegate;
  if (delegate)
    client->canUseBackgroundSession_ = delegate->networkClientCanUseBackgroundSessions(*client);
  if (!client->supportsBackgroundRequests() && debugMode()) {
    tw::log(
        "[Morvex:Crash:Client] Background session uploading not supported, asynchronous "
        "uploading will be used");
  }
  return client;
}

MVXNetworkClient::~MVXNetworkClient() {
  if (session_) session_->invalidateAndCancel();
}

void MVXNetworkClient::onQueue(std::function<void()> block) {
  std::weak_ptr<MVXNetworkClient> weak = weak_from_this();
  operationQueue_->addOperationWithBlock([weak, block = std::move(block)] {
    if (weak.lock()) block();
  });
}

bool MVXNetworkClient::NSURLSessionAvailable() { return MVXURLSession::NSURLSessionShouldBeUsed(); }

bool MVXNetworkClient::supportsBackgroundRequests() const {
  return !MVXApplicationExtensionPointIdentifier() && NSURLSessionAvailable() &&
         canUseBackgroundSession_;
}

std::shared_ptr<MVXURLSession> MVXNetworkClient::session() {
  if (session_) return session_;
  std::shared_ptr<MVXURLSessionConfiguration> configuration;
  if (supportsBackgroundRequests())
    configuration =
        MVXURLSessionConfiguration::backgroundSessionConfiguration(kBackgroundSessionIdentifier);
  if (!configuration) configuration = MVXURLSessionConfiguration::defaultSessionConfiguration();
  if (configuration)
    session_ =
        MVXURLSession::sessionWithConfiguration(configuration, shared_from_this(), operationQueue_);
  if (!session_) tw::log("[Morvex:Crash:Client] Failed to initialize");
  return session_;
}

void MVXNetworkClient::attemptToReconnectBackgroundSessionWithCompletionBlock(
    std::function<void()> block) {
  if (!block) return;
  if (supportsBackgroundRequests()) {
    tw::OperationQueue::main()->addOperationWithBlock(std::move(block));
  } else {
    block();
  }
}

void MVXNetworkClient::setBackgroundCompletionHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  backgroundCompletionHandler_ = std::move(handler);
}

std::string MVXNetworkClient::absolutePathForRelativeTaskPath(const std::string& relative) const {
  return rootPath() + "/" + relative;
}

std::optional<std::string> MVXNetworkClient::relativeTaskPathForAbsolutePath(
    const std::string& path) const {
  const std::string prefix = rootPath() + "/";
  if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) {
    MVXSDKLOG(4, "ERROR [%s:%d] Error: path '%s' is not at the root '%s'\n", path.c_str(),
              rootPath().c_str());
    return std::nullopt;
  }
  return path.substr(prefix.size());
}

bool MVXNetworkClient::taskArrayHasTaskMatchingDescription(
    const std::vector<std::shared_ptr<MVXURLSessionTask>>& tasks, const std::string& description) {
  return std::any_of(tasks.begin(), tasks.end(), [&](const auto& task) {
    return task && task->taskDescription() == description;
  });
}

void MVXNetworkClient::checkForExistingTaskMatchingDescription(
    const std::string& description, std::function<void(bool exists)> completion) {
  onQueue([this, description, completion = std::move(completion)] {
    // Reserved at once: a second start queued before the task exists is refused as well.
    if (!reserve(description)) return completion(true);
    auto s = session();
    if (!s) return completion(false);
    std::weak_ptr<MVXNetworkClient> weak = weak_from_this();
    s->getTasksWithCompletionHandler(
        [weak, description, completion](const MVXURLSession::TaskLists& lists) {
          if (!weak.lock()) return;
          completion(taskArrayHasTaskMatchingDescription(lists.uploadTasks, description) ||
                     taskArrayHasTaskMatchingDescription(lists.dataTasks, description) ||
                     taskArrayHasTaskMatchingDescription(lists.downloadTasks, description));
        });
  });
}

void MVXNetworkClient::startUploadRequest(const tw::URLRequest& request,
                                          const std::string& filePath, bool immediately) {
  if (immediately) return startImmediateUploadRequest(request, filePath);
  const auto description = relativeTaskPathForAbsolutePath(filePath);
  if (!description) return;
  std::weak_ptr<MVXNetworkClient> weak = weak_from_this();
  checkForExistingTaskMatchingDescription(*description, [weak, request, filePath](bool exists) {
    auto self = weak.lock();
    if (!self) return;
    if (exists) {
      if (debugMode())
        tw::log("[Morvex:Crash:Client] A task currently exists for this upload, skipping");
      return;
    }
    self->startNewUploadRequest(request, filePath);
  });
}

void MVXNetworkClient::startImmediateUploadRequest(const tw::URLRequest& request,
                                                   const std::string& filePath) {
  if (supportsBackgroundRequests()) return startNewUploadRequest(request, filePath);
  if (!readable(filePath)) {
    MVXSDKLOG(3, "WARN  [%s:%d] Error: file unreadable\n");
    return;
  }
  const auto description = relativeTaskPathForAbsolutePath(filePath);
  // A file that a task is already sending is not sent a second time.
  if (description && !reserve(*description)) return;
  auto configuration = MVXURLSessionConfiguration::ephemeralSessionConfiguration();
  const double timeout = request.timeoutInterval > 0 ? request.timeoutInterval : 10;
  configuration->timeoutIntervalForRequest = timeout;
  configuration->timeoutIntervalForResource = timeout;
  auto session =
      MVXURLSession::sessionWithConfiguration(configuration, shared_from_this(), nullptr);
  std::optional<tw::URLResponse> response;
  if (session) {
    auto done = std::make_shared<std::promise<std::optional<tw::URLResponse>>>();
    auto result = done->get_future();
    auto task = session->uploadTaskWithRequest(
        request, filePath,
        [done](const tw::Data&, const std::optional<tw::URLResponse>& reply,
               const tw::ErrorPtr& error) { done->set_value(error ? std::nullopt : reply); });
    if (task) {
      task->resume();
      // The transfer's own limit ends it; the wait is bounded as well, in case it does not.
      if (result.wait_for(std::chrono::duration<double>(timeout + 1)) ==
          std::future_status::ready) {
        response = result.get();
      } else {
        task->cancel();
      }
    }
    session->finishTasksAndInvalidate();
  }
  bool success = false;
  TSYNetworkResponseHandler::clientResponseType(
      response ? &*response : nullptr,
      [&](long type, long) { success = type == TSYNetworkResponseTypeSuccess; });
  if (description) {
    std::lock_guard lock(mutex_);
    inFlight_.erase(*description);
  }
  // Anything but success leaves the package for the next attempt.
  if (!success) return;
  if (auto delegate = delegate_.lock())
    delegate->networkClientDidFinishUploadWithPath(*this, filePath, nullptr);
}

void MVXNetworkClient::startNewUploadRequest(const tw::URLRequest& request,
                                             const std::string& filePath) {
  auto s = readable(filePath) ? session() : nullptr;
  auto task = s ? s->uploadTaskWithRequest(request, filePath) : nullptr;
  const auto description = relativeTaskPathForAbsolutePath(filePath);
  if (!task || !description) {
    tw::Dictionary info{{"path", filePath}};
    auto error = tw::Error::make(MVXNetworkErrorDomain, -2, info);
    onQueue([this, filePath, description, error] {
      if (description) finishDescription(*description);
      if (auto delegate = delegate_.lock())
        delegate->networkClientDidFinishUploadWithPath(*this, filePath, error);
    });
    return;
  }
  {
    std::lock_guard lock(mutex_);
    inFlight_.try_emplace(*description);  // a direct start without a reservation
  }
  task->setTaskDescription(*description);
  task->resume();
}

void MVXNetworkClient::restartTask(const tw::URLRequest& originalRequest,
                                   const std::string& description,
                                   const std::optional<tw::URLResponse>& response) {
  const double delay =
      std::clamp(TSYNetworkResponseHandler::retryValueForResponse(response ? &*response : nullptr),
                 0.0, TSYNetworkClient::kMaxRetryAfterSeconds);
  std::weak_ptr<MVXNetworkClient> weak = weak_from_this();
  tw::DispatchQueue::global()->after(delay, [weak, originalRequest, description] {
    auto self = weak.lock();
    if (!self) return;
    self->onQueue([self, originalRequest, description] {
      self->startNewUploadRequest(originalRequest,
                                  self->absolutePathForRelativeTaskPath(description));
    });
  });
}

bool MVXNetworkClient::reserve(const std::string& description) {
  std::lock_guard lock(mutex_);
  if (inFlight_.count(description) != 0) return false;
  const std::string path = absolutePathForRelativeTaskPath(description);
  auto fileLock = tw::FileLock::tryLock(path, false);
  // A missing file is reserved all the same: starting it reports the failure.
  if (!fileLock && readable(path)) return false;
  inFlight_.emplace(description, std::move(fileLock));
  return true;
}

void MVXNetworkClient::finishDescription(const std::string& description) {
  std::lock_guard lock(mutex_);
  inFlight_.erase(description);
  attempts_.erase(description);
}

void MVXNetworkClient::handleTaskDescriptionCompletedWithError(const std::string& description,
                                                               const tw::ErrorPtr& error) {
  finishDescription(description);
  if (auto delegate = delegate_.lock())
    delegate->networkClientDidFinishUploadWithPath(
        *this, absolutePathForRelativeTaskPath(description), error);
}

void MVXNetworkClient::URLSessionTaskDidCompleteWithError(
    const std::shared_ptr<MVXURLSession>& session, const std::shared_ptr<MVXURLSessionTask>& task,
    const tw::ErrorPtr& error) {
  if (!task || session != session_) return;
  const std::string description = task->taskDescription();
  if (description.empty()) return;
  const auto response = task->response();
  TSYNetworkResponseHandler::handleCompletedResponse(
      response ? &*response : nullptr, task->originalRequest(), error,
      [&](bool retry, const tw::ErrorPtr& outcome) {
        if (!retry) return handleTaskDescriptionCompletedWithError(description, outcome);
        std::uint64_t attempts;
        {
          std::lock_guard lock(mutex_);
          attempts = ++attempts_[description];
        }
        if (attempts > TSYNetworkClient::kDefaultRetryLimit) {
          // The client's rule: a bounded number of retries, then the caller's own schedule.
          tw::Dictionary info;
          info["retryLimit"] = static_cast<std::uint64_t>(TSYNetworkClient::kDefaultRetryLimit);
          info[tw::NSURLErrorFailingURLStringErrorKey] = task->originalRequest().url;
          return handleTaskDescriptionCompletedWithError(
              description, TSYNetworkResponseHandler::errorForCode(-6, std::move(info)));
        }
        restartTask(task->originalRequest(), description, response);
      });
}

void MVXNetworkClient::URLSessionDidReceiveChallenge(
    const std::shared_ptr<MVXURLSession>& session, const tw::URLAuthenticationChallenge& challenge,
    const tw::ChallengeCompletionHandler& handler) {
  if (debugMode() || !certPinner_) {
    handler(tw::URLSessionAuthChallengeDisposition::PerformDefaultHandling, nullptr);
    return;
  }
  certPinner_->handleChallenge(challenge, session, handler);
}

void MVXNetworkClient::URLSessionDidBecomeInvalidWithError(const std::shared_ptr<MVXURLSession>&,
                                                           const tw::ErrorPtr& error) {
  if (debugMode())
    tw::log(tw::format("[Morvex:Crash:Client] session became invalid: %@",
                       error ? error->localizedDescription() : std::string("(null)")));
}

void MVXNetworkClient::URLSessionDidFinishEventsForBackgroundURLSession(
    const std::shared_ptr<MVXURLSession>&) {
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    handler = backgroundCompletionHandler_;
  }
  if (!handler) {
    tw::log("[Morvex:Crash:Client] background callback is nil?");
    return;
  }
  tw::DispatchQueue::main()->async([handler] { handler(); });
  onQueue([this] { setBackgroundCompletionHandler(nullptr); });
}
