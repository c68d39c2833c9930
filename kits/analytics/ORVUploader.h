#pragma once
// ORVUploader: sends packaged event files over the kit's URL session, one task per file (a file
// whose upload is already under way is not started again), and reports each finished task to its
// delegate, the analytics controller, which decides on retries. ORVUploadOperation: builds the
// request for one packaged file and hands it to the uploader. All uploader state lives on the
// operation queue given at creation (the controller's serial event queue), which is also the
// session's delegate queue.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "kits/platform/net/MVXURLSession.h"
#include "platform/foundation/OperationQueue.h"

class ORVUploader;

class ORVUploaderDelegate {
 public:
  using RetryHandler = std::function<void(bool retry, tw::ErrorPtr error)>;
  virtual ~ORVUploaderDelegate() = default;
  virtual std::filesystem::path uploaderFilePathForUniqueName(ORVUploader& uploader,
                                                              const std::string& uniqueName) = 0;
  virtual void uploaderDidFinishUpload(ORVUploader& uploader, const std::string& uniqueName,
                                       const tw::ErrorPtr& error) = 0;
  virtual bool implementsDidReceiveChallenge() const { return false; }
  virtual void uploaderDidReceiveChallenge(ORVUploader&, const std::shared_ptr<MVXURLSession>&,
                                           const tw::URLAuthenticationChallenge&,
                                           const tw::ChallengeCompletionHandler&) {}
  virtual void uploaderCompletedRequest(ORVUploader& uploader, const tw::URLRequest& request,
                                        const std::optional<tw::URLResponse>& response,
                                        const std::string& uniqueName, const tw::ErrorPtr& error,
                                        RetryHandler completionHandler) = 0;
};

class ORVUploader : public MVXURLSessionDelegate, public std::enable_shared_from_this<ORVUploader> {
 public:
  static std::shared_ptr<ORVUploader> create(std::shared_ptr<tw::OperationQueue> queue,
                                             std::weak_ptr<ORVUploaderDelegate> delegate);
  ORVUploader(std::shared_ptr<tw::OperationQueue> queue,
              std::weak_ptr<ORVUploaderDelegate> delegate);

  // This system reports no thermal state; the power source may say "low power" through
  // setLowPowerModeProvider (nullptr: never).
  void powerStageChanged();
  bool supportsThermalNotifications() const { return static_cast<bool>(lowPowerProvider_); }
  bool lowPowerMode() const { return lowPowerProvider_ && lowPowerProvider_(); }
  void setLowPowerModeProvider(std::function<bool()> provider);
  bool shouldUseBackgroundRequests() const { return false; }
  bool supportsBackgroundRequests() const;
  void attemptToReconnectBackgroundSessionWithCompletionBlock(std::function<void()> block);
  void setDefaultUploadTimeout(double seconds);
  void setLowPowerUploadTimeout(double seconds);
  std::shared_ptr<MVXURLSession> session();

  void startUploadRequest(const tw::URLRequest& request, const std::filesystem::path& filePath,
                          const std::string& uniqueName);
  static tw::ErrorPtr errorWithCode(long code, const tw::Dictionary& userInfo);
  static tw::Dictionary errorUserInfoWithFilePath(const std::filesystem::path& filePath,
                                                  const std::string& uniqueName);
  void handleTaskDescriptionCompletedWithError(const std::string& description,
                                               const tw::ErrorPtr& error);

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

  double defaultUploadTimeout() const { return defaultUploadTimeout_; }
  double lowPowerUploadTimeout() const { return lowPowerUploadTimeout_; }
  const std::shared_ptr<tw::OperationQueue>& operationQueue() const { return operationQueue_; }

 private:
  void startNewUploadRequest(const tw::URLRequest& request, const std::filesystem::path& filePath,
                             const std::string& uniqueName);
  void restartTask(const tw::URLRequest& request, const std::string& uniqueName);
  void onQueue(std::function<void()> block);

  std::shared_ptr<tw::OperationQueue> operationQueue_;
  std::weak_ptr<ORVUploaderDelegate> delegate_;
  std::shared_ptr<MVXURLSession> session_;
  double defaultUploadTimeout_ = 3600.0;
  double lowPowerUploadTimeout_ = 21600.0;
  std::function<bool()> lowPowerProvider_;
  bool sessionLowPower_ = false;  // the power mode session_ was built for
  // Unique names with a task started and not yet finished for good, so that a second start
  // queued before the first task exists is refused as well.
  std::set<std::string> inFlight_;
};

class ORVUploadOperation : public tw::Operation {
 public:
  ORVUploadOperation(std::shared_ptr<ORVUploader> uploader, std::string orisethURL,
                     std::optional<std::string> apiKey, std::filesystem::path multipartURL,
                     std::string multipartMimeBoundary);
  void main() override;
  static std::string currentTimestampString();
  // The request main() sends (exposed for its header order).
  tw::URLRequest makeRequest() const;

  const std::shared_ptr<ORVUploader>& uploader() const { return uploader_; }
  const std::string& orisethURL() const { return orisethURL_; }
  const std::optional<std::string>& apiKey() const { return apiKey_; }
  const std::filesystem::path& multipartURL() const { return multipartURL_; }
  const std::string& multipartMimeBoundary() const { return multipartMimeBoundary_; }

 private:
  std::shared_ptr<ORVUploader> uploader_;
  std::string orisethURL_;
  std::optional<std::string> apiKey_;
  std::filesystem::path multipartURL_;
  std::string multipartMimeBoundary_;
};
