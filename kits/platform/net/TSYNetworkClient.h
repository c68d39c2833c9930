#pragma once
// TSYNetworkClient: the kits' HTTP client. Starts data and download tasks on its URL session,
// hands every finished attempt to TSYNetworkResponseHandler and repeats retryable requests after
// an exponential, jittered delay (on the global queue, through tw::clock), up to a per-request
// limit. As the session's delegate it settles server-trust challenges with its pinner.
//
// Owned by its creator (create() returns shared_ptr; a series of attempts keeps the client alive
// until its handler ran). No lock: completions arrive on the session's delegate queue, retries
// start from the global default-priority queue; handlers may run on either.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "kits/platform/net/MVXURLSession.h"
#include "kits/platform/net/TSYCertificatePinner.h"

class TSYNetworkClient : public MVXURLSessionDelegate,
                         public std::enable_shared_from_this<TSYNetworkClient> {
 public:
  using DataHandler =
      std::function<void(const std::optional<tw::Data>& data,
                         const std::optional<tw::URLResponse>& response, tw::ErrorPtr error)>;
  using DownloadHandler =
      std::function<void(const std::optional<std::filesystem::path>& location,
                         const std::optional<tw::URLResponse>& response, tw::ErrorPtr error)>;

  static constexpr std::uint64_t kDefaultRetryLimit = 10;
  // The longest wait a computed delay may ask for; a server's own Retry-After is honoured beyond
  // it up to kMaxRetryAfterSeconds.
  static constexpr double kMaxRetryDelaySeconds = 3600;
  static constexpr double kMaxRetryAfterSeconds = 86400;

  static std::shared_ptr<TSYNetworkClient> create();
  static std::shared_ptr<TSYNetworkClient> createWithQueue(
      std::shared_ptr<tw::OperationQueue> queue);
  static std::shared_ptr<TSYNetworkClient> createWithQueue(
      std::shared_ptr<tw::OperationQueue> queue,
      std::optional<std::vector<std::shared_ptr<tw::Certificate>>> pinnedCertificates);
  // nullptr when no session results.
  static std::shared_ptr<TSYNetworkClient> createWithSessionConfiguration(
      const std::shared_ptr<MVXURLSessionConfiguration>& configuration,
      std::shared_ptr<tw::OperationQueue> queue,
      std::optional<std::vector<std::shared_ptr<tw::Certificate>>> pinnedCertificates);
  ~TSYNetworkClient() override;

  static double randomDoubleWithMin(double min, double max);
  static double generateRandomJitter();
  // Seconds before retry number `retryCount` (see the .cpp for the bounds).
  static double computeDelayForResponse(const tw::URLResponse* response, std::uint64_t retryCount);
  static double computeDelayForResponse(const tw::URLResponse* response, std::uint64_t retryCount,
                                        double jitter);
  static void runAfterRetryValueFromResponse(const tw::URLResponse* response,
                                             std::uint64_t attempts,
                                             const std::shared_ptr<tw::DispatchQueue>& queue,
                                             tw::Block block);
  static void runAfterRetryValueFromResponse(const tw::URLResponse* response,
                                             std::uint64_t attempts, tw::Block block);

  void startDataTaskWithRequest(const tw::URLRequest& request, std::uint64_t retryLimit,
                                std::uint64_t tries, DataHandler handler);
  void startDataTaskWithRequest(const tw::URLRequest& request, std::uint64_t retryLimit,
                                DataHandler handler);
  void startDataTaskWithRequest(const tw::URLRequest& request, DataHandler handler);
  void startDownloadTaskWithRequest(const tw::URLRequest& request, std::uint64_t retryLimit,
                                    std::uint64_t tries, DownloadHandler handler);
  void startDownloadTaskWithRequest(const tw::URLRequest& request, std::uint64_t retryLimit,
                                    DownloadHandler handler);
  void startDownloadTaskWithRequest(const tw::URLRequest& request, DownloadHandler handler);
  void invalidateAndCancel();

  void URLSessionDidBecomeInvalidWithError(const std::shared_ptr<MVXURLSession>&,
                                           const tw::ErrorPtr&) override {}
  bool implementsDidReceiveChallenge() const override { return true; }
  void URLSessionDidReceiveChallenge(const std::shared_ptr<MVXURLSession>& session,
                                     const tw::URLAuthenticationChallenge& challenge,
                                     const tw::ChallengeCompletionHandler& handler) override;

  const std::shared_ptr<TSYCertificatePinner>& certPinner() const { return certPinner_; }
  const std::shared_ptr<MVXURLSession>& session() const { return session_; }

 private:
  TSYNetworkClient() = default;
  // The settled outcome of one attempt: retry after the delay, or report.
  void handleAttempt(const tw::URLRequest& request, const std::optional<tw::URLResponse>& response,
                     const tw::ErrorPtr& transportError, std::uint64_t retryLimit,
                     std::uint64_t tries, const std::function<void(tw::ErrorPtr)>& report,
                     tw::Block retry);
  // One attempt of a data or download task and its retries: `makeTask(client, request,
  // finished)` asks the session for the task, whose completion hands `finished` the payload in
  // the handler's form, the response and the error.
  template <class Handler, class MakeTask>
  void startTask(const tw::URLRequest& request, std::uint64_t retryLimit, std::uint64_t tries,
                 Handler handler, MakeTask makeTask);

  std::shared_ptr<MVXURLSession> session_;
  std::shared_ptr<TSYCertificatePinner> certPinner_;
};
