#pragma once
// The kits' URL session: MVXURLSessionConfiguration, MVXURLSession and its tasks (data, upload,
// download), over libcurl's multi interface on a worker thread of the session's own, with TLS by
// OpenSSL. Background sessions do not exist on this system: the background configuration is
// nullptr and NSURLSessionShouldBeUsed() is false, so callers take their foreground path.
//
// Threads: any thread may create tasks, resume and cancel them, and invalidate the session.
// Completion handlers and delegate messages run as operations on the session's delegate queue
// (a serial queue of the session's own unless one is given). Server-trust challenges reach a
// delegate that implements them, while the TLS handshake waits for its answer; a cancelled
// challenge fails the task with the cancelled error (-999). Each task completes exactly once.
// Running tasks keep their session alive; the session holds its delegate weakly.

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "kits/platform/net/ServerTrust.h"
#include "kits/platform/net/URLRequest.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/OperationQueue.h"

class MVXURLSession;
class MVXURLSessionTask;
class MVXURLSessionDataTask;
class MVXURLSessionDownloadTask;

inline constexpr const char* MVXURLSessionDownloadTaskErrorDomain =
    "MVXURLSessionDownloadTaskError";

class MVXURLSessionConfiguration {
 public:
  static std::shared_ptr<MVXURLSessionConfiguration> defaultSessionConfiguration();
  static std::shared_ptr<MVXURLSessionConfiguration> ephemeralSessionConfiguration();
  // nullptr: this system has no background sessions.
  static std::shared_ptr<MVXURLSessionConfiguration> backgroundSessionConfiguration(
      const std::string& identifier);
  static std::shared_ptr<MVXURLSessionConfiguration> backgroundSessionConfigurationWithIdentifier(
      const std::string& identifier);

  std::shared_ptr<MVXURLSessionConfiguration> copy() const;
  bool sessionSendsLaunchEvents() const { return false; }
  void setSessionSendsLaunchEvents(bool) {}

  tw::HeaderList HTTPAdditionalHeaders;
  long HTTPCookieAcceptPolicy = 0;
  // Idle time-out of a task (no bytes moving), and the whole task's limit.
  double timeoutIntervalForRequest = 60;
  double timeoutIntervalForResource = 7 * 24 * 3600;
  bool allowsCellularAccess = true;
};

// What a session tells its delegate. Optional messages: each has an implements...() query, and
// only implemented ones are sent.
class MVXURLSessionDelegate {
 public:
  virtual ~MVXURLSessionDelegate() = default;
  virtual bool implementsDidReceiveChallenge() const { return false; }
  virtual void URLSessionDidReceiveChallenge(const std::shared_ptr<MVXURLSession>& session,
                                             const tw::URLAuthenticationChallenge& challenge,
                                             const tw::ChallengeCompletionHandler& handler);
  virtual bool implementsDidReceiveResponse() const { return false; }
  virtual void URLSessionDataTaskDidReceiveResponse(const std::shared_ptr<MVXURLSession>&,
                                                    const std::shared_ptr<MVXURLSessionTask>&,
                                                    const tw::URLResponse&) {}
  virtual bool implementsDidReceiveData() const { return false; }
  virtual void URLSessionDataTaskDidReceiveData(const std::shared_ptr<MVXURLSession>&,
                                                const std::shared_ptr<MVXURLSessionTask>&,
                                                const tw::Data&) {}
  virtual bool implementsDidFinishDownloading() const { return false; }
  // The file exists until this returns.
  virtual void URLSessionDownloadTaskDidFinishDownloadingToURL(
      const std::shared_ptr<MVXURLSession>&, const std::shared_ptr<MVXURLSessionTask>&,
      const std::filesystem::path&) {}
  virtual bool implementsDidComplete() const { return false; }
  virtual void URLSessionTaskDidCompleteWithError(const std::shared_ptr<MVXURLSession>&,
                                                  const std::shared_ptr<MVXURLSessionTask>&,
                                                  const tw::ErrorPtr&) {}
  virtual void URLSessionDidBecomeInvalidWithError(const std::shared_ptr<MVXURLSession>&,
                                                   const tw::ErrorPtr&) {}
};

class MVXURLSessionTask : public std::enable_shared_from_this<MVXURLSessionTask> {
 public:
  enum class Kind { Data, Upload, Download };
  virtual ~MVXURLSessionTask();

  // Starts a suspended task; later calls do nothing.
  void resume();
  // Any thread; a task that has not completed completes with NSURLErrorCancelled.
  void cancel();

  Kind kind() const { return kind_; }
  std::uint64_t taskIdentifier() const { return identifier_; }
  const tw::URLRequest& originalRequest() const { return originalRequest_; }
  // Set once the reply head arrived (read it from the completion or delegate messages).
  std::optional<tw::URLResponse> response() const;
  tw::ErrorPtr error() const;
  bool invokesDelegate() const { return invokesDelegate_; }
  std::string taskDescription() const;
  void setTaskDescription(std::string description);
  bool hasCompletionHandler() const {
    return static_cast<bool>(completionHandler_) || static_cast<bool>(downloadCompletionHandler_);
  }

  // The running transfer's state (internal to the session).
  struct Transfer;

 protected:
  friend class MVXURLSession;
  MVXURLSessionTask(Kind kind, const std::shared_ptr<MVXURLSession>& session,
                    tw::URLRequest request);

  const Kind kind_;
  const std::uint64_t identifier_;
  std::weak_ptr<MVXURLSession> session_;
  tw::URLRequest originalRequest_;
  bool invokesDelegate_ = true;
  std::function<void(const tw::Data&, const std::optional<tw::URLResponse>&, tw::ErrorPtr)>
      completionHandler_;
  std::function<void(const std::optional<std::filesystem::path>&,
                     const std::optional<tw::URLResponse>&, tw::ErrorPtr)>
      downloadCompletionHandler_;

  // Guards the task's state below: the engine's thread completes it.
  mutable std::mutex mutex_;
  bool resumed_ = false;
  bool completed_ = false;
  std::optional<tw::URLResponse> response_;
  tw::ErrorPtr error_;
  std::string taskDescription_;
};

class MVXURLSessionDataTask : public MVXURLSessionTask {
 protected:
  friend class MVXURLSession;
  using MVXURLSessionTask::MVXURLSessionTask;
};

class MVXURLSessionUploadTask : public MVXURLSessionDataTask {
 protected:
  friend class MVXURLSession;
  using MVXURLSessionDataTask::MVXURLSessionDataTask;
};

class MVXURLSessionDownloadTask : public MVXURLSessionDataTask {
 public:
  // Where downloads are written while they run: the kits' cache folder of this application
  // ($XDG_CACHE_HOME/com.morvex.data/<escaped bundle id>/downloads), never the system's shared
  // temporary folder.
  static std::filesystem::path downloadsDirectory();
  // A new unique path in downloadsDirectory() for the downloaded body.
  static std::filesystem::path temporaryFileURL();
  // Removes the downloads that killed processes left behind: files nobody holds the write lock
  // of. Run when a session is made. The number removed.
  static std::size_t removeDownloadLeftovers();
  // Tests: every write of a download body goes through `write` (fwrite's contract); empty restores
  // fwrite.
  using WriteFunction = std::function<std::size_t(const char*, std::size_t, std::FILE*)>;
  static void setDownloadWriteForTesting(WriteFunction write);

 protected:
  friend class MVXURLSession;
  using MVXURLSessionDataTask::MVXURLSessionDataTask;
};

class MVXURLSession : public std::enable_shared_from_this<MVXURLSession> {
 public:
  using DataCompletion =
      std::function<void(const tw::Data&, const std::optional<tw::URLResponse>&, tw::ErrorPtr)>;
  using DownloadCompletion =
      std::function<void(const std::optional<std::filesystem::path>&,
                         const std::optional<tw::URLResponse>&, tw::ErrorPtr)>;
  struct TaskLists {
    std::vector<std::shared_ptr<MVXURLSessionTask>> dataTasks, uploadTasks, downloadTasks;
  };

  // False: no background sessions here (see the header comment).
  static bool NSURLSessionShouldBeUsed();
  static std::shared_ptr<MVXURLSession> sessionWithConfiguration(
      const std::shared_ptr<MVXURLSessionConfiguration>& configuration);
  // nullptr for a null configuration. Without a queue the session makes a serial one.
  static std::shared_ptr<MVXURLSession> sessionWithConfiguration(
      const std::shared_ptr<MVXURLSessionConfiguration>& configuration,
      const std::shared_ptr<MVXURLSessionDelegate>& delegate,
      std::shared_ptr<tw::OperationQueue> delegateQueue);
  static std::shared_ptr<tw::OperationQueue> newDefaultDelegateQueue();

  // Test-only: the CA file the default trust handling uses in place of the system's bundle
  // (empty restores the system's).
  static void setSystemTrustFileForTesting(const std::filesystem::path& caFile);

  ~MVXURLSession();

  // Each returns nullptr once the session is invalidated.
  std::shared_ptr<MVXURLSessionDataTask> dataTaskWithRequest(const tw::URLRequest& request,
                                                             DataCompletion completion = {});
  std::shared_ptr<MVXURLSessionUploadTask> uploadTaskWithRequest(
      const tw::URLRequest& request, const std::filesystem::path& fromFile,
      DataCompletion completion = {});
  std::shared_ptr<MVXURLSessionDownloadTask> downloadTaskWithRequest(
      const tw::URLRequest& request, DownloadCompletion completion = {});
  std::shared_ptr<MVXURLSessionDownloadTask> downloadTaskWithURL(const std::string& url);

  void invalidateAndCancel();
  void finishTasksAndInvalidate();
  // The live tasks, by kind, on the delegate queue.
  void getTasksWithCompletionHandler(std::function<void(const TaskLists&)> handler);
  // Runs a block as an operation on the delegate queue.
  void deliver(std::function<void()> block);

  std::shared_ptr<MVXURLSessionDelegate> delegate() const;
  const std::shared_ptr<tw::OperationQueue>& delegateQueue() const { return delegateQueue_; }
  std::shared_ptr<MVXURLSessionConfiguration> configuration() const { return configuration_; }
  std::string sessionDescription() const;
  void setSessionDescription(std::string description);

  struct Engine;

 private:
  friend class MVXURLSessionTask;
  MVXURLSession() = default;
  void configureTask(const std::shared_ptr<MVXURLSessionTask>& task);
  void startTask(const std::shared_ptr<MVXURLSessionTask>& task);
  void cancelTask(const std::shared_ptr<MVXURLSessionTask>& task);
  void removeTaskFromSet(const std::shared_ptr<MVXURLSessionTask>& task);
  // Runs on the worker when a transfer ends (or at once for a task that never started).
  void completeTask(const std::shared_ptr<MVXURLSessionTask>& task, const tw::ErrorPtr& error,
                    tw::Data data, std::optional<std::filesystem::path> file);

  std::weak_ptr<MVXURLSessionDelegate> delegate_;
  std::shared_ptr<tw::OperationQueue> delegateQueue_;
  std::shared_ptr<MVXURLSessionConfiguration> configuration_;
  std::shared_ptr<Engine> engine_;
  // Guards sessionDescription_, tasks_ and the invalidation flags.
  mutable std::mutex mutex_;
  std::string sessionDescription_;
  std::set<std::shared_ptr<MVXURLSessionTask>> tasks_;
  bool invalidated_ = false;
  bool invalidationAnnounced_ = false;
};
