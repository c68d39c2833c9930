#pragma once
// MVXNetworkClient: uploads packaged crash reports to the kits' web service over the kit's URL
// session, with the service's certificates pinned. This system has no background sessions, so
// an upload either runs as a task of the client's foreground session (the work queue is its
// delegate queue; a file that already has a task, here or in another process, is not started
// twice) or, for the urgent path,
// as a synchronous request on the caller's thread, bounded by the request's time-out.
//
// When the service asks for a retry (429, 503, time-outs), the same file is sent again after its
// Retry-After delay (2 s without one), at most TSYNetworkClient::kDefaultRetryLimit times; then
// the delegate hears the network client's "retries used up" error (TSYNetworkError -6).
//
// Owned by the reports controller (create() returns shared_ptr); holds its delegate weakly.
// Everything but the synchronous upload runs on the work queue.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "kits/crash/reports/MVXFileManager.h"
#include "kits/platform/net/MVXURLSession.h"
#include "kits/platform/net/TSYCertificatePinner.h"
#include "platform/foundation/OperationQueue.h"

inline constexpr const char* MVXNetworkErrorDomain = "MVXNetworkError";

class MVXNetworkClient;

class MVXNetworkClientDelegate {
 public:
  virtual ~MVXNetworkClientDelegate() = default;
  virtual bool networkClientCanUseBackgroundSessions(MVXNetworkClient& client) = 0;
  virtual void networkClientDidFinishUploadWithPath(MVXNetworkClient& client,
                                                    const std::string& path,
                                                    const tw::ErrorPtr& error) = 0;
};

class MVXNetworkClient : public MVXURLSessionDelegate,
                         public std::enable_shared_from_this<MVXNetworkClient> {
 public:
  static constexpr const char* kBackgroundSessionIdentifier =
      "com.pelworth.morvex.mac.crash.background-session";

  static std::shared_ptr<TSYCertificatePinner> pinner();
  // `pinner` nullptr: the pinned certificate set of the kits (tests give their own).
  static std::shared_ptr<MVXNetworkClient> create(
      std::shared_ptr<tw::OperationQueue> queue, std::shared_ptr<MVXFileManager> fileManager,
      const std::shared_ptr<MVXNetworkClientDelegate>& delegate,
      std::shared_ptr<TSYCertificatePinner> pinner = nullptr);
  ~MVXNetworkClient() override;

  std::shared_ptr<MVXURLSession> session();
  static bool NSURLSessionAvailable();
  bool supportsBackgroundRequests() const;
  void attemptToReconnectBackgroundSessionWithCompletionBlock(std::function<void()> block);
  void startUploadRequest(const tw::URLRequest& request, const std::string& filePath,
                          bool immediately);
  void startImmediateUploadRequest(const tw::URLRequest& request, const std::string& filePath);
  void startNewUploadRequest(const tw::URLRequest& request, const std::string& filePath);
  std::string rootPath() const { return fileManager_->rootPath(); }
  std::string absolutePathForRelativeTaskPath(const std::string& relative) const;
  std::optional<std::string> relativeTaskPathForAbsolutePath(const std::string& path) const;
  static bool taskArrayHasTaskMatchingDescription(
      const std::vector<std::shared_ptr<MVXURLSessionTask>>& tasks, const std::string& description);
  void checkForExistingTaskMatchingDescription(const std::string& description,
                                               std::function<void(bool exists)> completion);
  void restartTask(const tw::URLRequest& originalRequest, const std::string& description,
                   const std::optional<tw::URLResponse>& response);
  void handleTaskDescriptionCompletedWithError(const std::string& description,
                                               const tw::ErrorPtr& error);

  const std::shared_ptr<tw::OperationQueue>& operationQueue() const { return operationQueue_; }
  const std::shared_ptr<TSYCertificatePinner>& certPinner() const { return certPinner_; }
  void setBackgroundCompletionHandler(std::function<void()> handler);

  // MVXURLSessionDelegate
  bool implementsDidReceiveChallenge() const override { return true; }
  void URLSessionDidReceiveChallenge(const std::shared_ptr<MVXURLSession>& session,
                                     const tw::URLAuthenticationChallenge& challenge,
                                     const tw::ChallengeCompletionHandler& handler) override;
  bool implementsDidComplete() const override { return true; }
  void URLSessionTaskDidCompleteWithError(const std::shared_ptr<MVXURLSession>& session,
                                          const std::shared_ptr<MVXURLSessionTask>& task,
                                          const tw::ErrorPtr& error) override;
  void URLSessionDidBecomeInvalidWithError(const std::shared_ptr<MVXURLSession>& session,
                                           const tw::ErrorPtr& error) override;
  void URLSessionDidFinishEventsForBackgroundURLSession(
      const std::shared_ptr<MVXURLSession>& session);

 private:
  MVXNetworkClient(std::shared_ptr<tw::OperationQueue> queue,
                   std::shared_ptr<MVXFileManager> fileManager,
                   std::shared_ptr<TSYCertificatePinner> pinner);
  void onQueue(std::function<void()> block);
  void finishDescription(const std::string& description);
  static bool debugMode();

  std::shared_ptr<tw::OperationQueue> operationQueue_;
  std::weak_ptr<MVXNetworkClientDelegate> delegate_;
  std::shared_ptr<MVXFileManager> fileManager_;
  std::shared_ptr<TSYCertificatePinner> certPinner_;
  bool canUseBackgroundSession_ = false;
  std::shared_ptr<MVXURLSession> session_;  // work queue only

  // Claims the package for this process: false when this process or another live one is
  // already sending it (the package file's flock is held until the upload settles).
  bool reserve(const std::string& description);

  // Descriptions with an upload started and not settled (with the package's lock), and their
  // attempts so far; guarded, since the synchronous path runs on its caller's thread.
  std::mutex mutex_;
  std::map<std::string, std::unique_ptr<tw::FileLock>> inFlight_;
  std::map<std::string, std::uint64_t> attempts_;
  std::function<void()> backgroundCompletionHandler_;
};
