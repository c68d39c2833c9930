#include "kits/platform/net/TSYNetworkClient.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "kits/platform/Tessaly.h"
#include "kits/platform/net/TSYNetworkResponseHandler.h"

std::shared_ptr<TSYNetworkClient> TSYNetworkClient::create() { return createWithQueue(nullptr); }

std::shared_ptr<TSYNetworkClient> TSYNetworkClient::createWithQueue(
    std::shared_ptr<tw::OperationQueue> queue) {
  return createWithQueue(std::move(queue), std::nullopt);
}

std::shared_ptr<TSYNetworkClient> TSYNetworkClient::createWithQueue(
    std::shared_ptr<tw::OperationQueue> queue,
    std::optional<std::vector<std::shared_ptr<tw::Certificate>>> pinnedCertificates) {
  return createWithSessionConfiguration(MVXURLSessionConfiguration::defaultSessionConfiguration(),
                                        std::move(queue), std::move(pinnedCertificates));
}

std::shared_ptr<TSYNetworkClient> TSYNetworkClient::createWithSessionConfiguration(
    const std::shared_ptr<MVXURLSessionConfiguration>& configuration,
    std::shared_ptr<tw::OperationQueue> queue,
    std::optional<std::vector<std::shared_ptr<tw::Certificate>>> pinnedCertificates) {
  std::shared_ptr<TSYNetworkClient> client(new TSYNetworkClient());
  if (pinnedCertificates) {
    client->certPinner_ = std::make_shared<TSYCertificatePinner>(std::move(*pinnedCertificates));
  }
  client->session_ =
      MVXURLSession::sessionWithConfiguration(configuration, client, std::move(queue));
  if (!client->session_) return nullptr;
  return client;
}

TSYNetworkClient::~TSYNetworkClient() {
  if (session_) session_->finishTasksAndInvalidate();
}

double TSYNetworkClient::randomDoubleWithMin(double min, double max) {
  return min + drand48() * (max - min);
}

double TSYNetworkClient::generateRandomJitter() {
  return randomDoubleWithMin(static_cast<double>(0.9f), static_cast<double>(1.1f));
}

double TSYNetworkClient::computeDelayForResponse(const tw::URLResponse* response,
                                                 std::uint64_t retryCount) {
  return computeDelayForResponse(response, retryCount, generateRandomJitter());
}

// pow(max(2, Retry-After), n or 1) x jitter, in floating point. The product is clamped to
// kMaxRetryDelaySeconds so that large counts or values cannot overflow the scheduler's clock,
// and never falls below the server's own Retry-After (itself honoured up to a day).
double TSYNetworkClient::computeDelayForResponse(const tw::URLResponse* response,
                                                 std::uint64_t retryCount, double jitter) {
  const double retryAfter = TSYNetworkResponseHandler::retryValueForResponse(response);
  const double base = std::max(2.0, retryAfter);
  const double exponent = retryCount == 0 ? 1.0 : static_cast<double>(retryCount);
  double delay = std::pow(base, exponent) * jitter;
  if (!std::isfinite(delay) || delay > kMaxRetryDelaySeconds) delay = kMaxRetryDelaySeconds;
  const bool serverAsked = response && response->valueForHTTPHeaderField("Retry-After");
  if (serverAsked) delay = std::max(delay, std::min(retryAfter, kMaxRetryAfterSeconds));
  return std::max(0.0, delay);
}

void TSYNetworkClient::runAfterRetryValueFromResponse(
    const tw::URLResponse* response, std::uint64_t attempts,
    const std::shared_ptr<tw::DispatchQueue>& queue, tw::Block block) {
  queue->after(computeDelayForResponse(response, attempts), std::move(block));
}

void TSYNetworkClient::runAfterRetryValueFromResponse(const tw::URLResponse* response,
                                                      std::uint64_t attempts, tw::Block block) {
  runAfterRetryValueFromResponse(response, attempts, tw::DispatchQueue::global(tw::QoS::Default),
                                 std::move(block));
}

void TSYNetworkClient::handleAttempt(const tw::URLRequest& request,
                                     const std::optional<tw::URLResponse>& response,
                                     const tw::ErrorPtr& transportError, std::uint64_t retryLimit,
                                     std::uint64_t tries,
                                     const std::function<void(tw::ErrorPtr)>& report,
                                     tw::Block retry) {
  const tw::URLResponse* head = response ? &*response : nullptr;
  TSYNetworkResponseHandler::handleCompletedResponse(
      head, request, transportError, [&](bool shouldRetry, const tw::ErrorPtr& error) {
        if (!shouldRetry) {
          report(error);
        } else if (tries >= retryLimit) {
          tw::Dictionary info;
          info["retryLimit"] = static_cast<std::uint64_t>(retryLimit);
          info[tw::NSURLErrorFailingURLStringErrorKey] = request.url;
          report(TSYNetworkResponseHandler::errorForCode(-6, std::move(info)));
        } else {
          runAfterRetryValueFromResponse(head, tries, std::move(retry));
        }
      });
}

namespace {

// The retry rule gave up: the handler hears only the error, without the last attempt's data.
bool retriesUsedUp(const tw::ErrorPtr& outcome) {
  return outcome && outcome->code() == -6 && outcome->domain() == TSYNetworkErrorDomain;
}

// The session made no task (it was invalidated): the caller hears so at once.
template <class Handler>
void failWithoutTask(const Handler& handler) {
  if (handler) handler(std::nullopt, std::nullopt, TSYNetworkResponseHandler::errorForCode(-3, {}));
}

}  // namespace

template <class Handler, class MakeTask>
void TSYNetworkClient::startTask(const tw::URLRequest& request, std::uint64_t retryLimit,
                                 std::uint64_t tries, Handler handler, MakeTask makeTask) {
  auto self = shared_from_this();
  auto task = makeTask(*this, request,
                       [self, request, retryLimit, tries, handler, makeTask](
                           const auto& payload, const std::optional<tw::URLResponse>& response,
                           const tw::ErrorPtr& error) {
                         self->handleAttempt(
                             request, response, error, retryLimit, tries,
                             [&](const tw::ErrorPtr& outcome) {
                               if (!handler) return;
                               if (retriesUsedUp(outcome)) {
                                 handler(std::nullopt, std::nullopt, outcome);
                               } else {
                                 handler(payload, response, outcome);
                               }
                             },
                             [self, request, retryLimit, tries, handler, makeTask] {
                               self->startTask(request, retryLimit, tries + 1, handler, makeTask);
                             });
                       });
  if (task) {
    task->resume();
  } else {
    failWithoutTask(handler);
  }
}

void TSYNetworkClient::startDataTaskWithRequest(const tw::URLRequest& request,
                                                std::uint64_t retryLimit, std::uint64_t tries,
                                                DataHandler handler) {
  startTask(request, retryLimit, tries, std::move(handler),
            [](TSYNetworkClient& client, const tw::URLRequest& r, auto finished) {
              return client.session_->dataTaskWithRequest(
                  r,
                  [finished](const tw::Data& data, const std::optional<tw::URLResponse>& response,
                             tw::ErrorPtr error) {
                    // A failed attempt hands over no data.
                    finished(error ? std::nullopt : std::optional<tw::Data>(data), response, error);
                  });
            });
}

void TSYNetworkClient::startDataTaskWithRequest(const tw::URLRequest& request,
                                                std::uint64_t retryLimit, DataHandler handler) {
  startDataTaskWithRequest(request, retryLimit, 0, std::move(handler));
}

void TSYNetworkClient::startDataTaskWithRequest(const tw::URLRequest& request,
                                                DataHandler handler) {
  startDataTaskWithRequest(request, kDefaultRetryLimit, 0, std::move(handler));
}

void TSYNetworkClient::startDownloadTaskWithRequest(const tw::URLRequest& request,
                                                    std::uint64_t retryLimit, std::uint64_t tries,
                                                    DownloadHandler handler) {
  startTask(request, retryLimit, tries, std::move(handler),
            [](TSYNetworkClient& client, const tw::URLRequest& r, auto finished) {
              return client.session_->downloadTaskWithRequest(r, finished);
            });
}

void TSYNetworkClient::startDownloadTaskWithRequest(const tw::URLRequest& request,
                                                    std::uint64_t retryLimit,
                                                    DownloadHandler handler) {
  startDownloadTaskWithRequest(request, retryLimit, 0, std::move(handler));
}

void TSYNetworkClient::startDownloadTaskWithRequest(const tw::URLRequest& request,
                                                    DownloadHandler handler) {
  startDownloadTaskWithRequest(request, kDefaultRetryLimit, 0, std::move(handler));
}

void TSYNetworkClient::invalidateAndCancel() { session_->invalidateAndCancel(); }

void TSYNetworkClient::URLSessionDidReceiveChallenge(
    const std::shared_ptr<MVXURLSession>& session, const tw::URLAuthenticationChallenge& challenge,
    const tw::ChallengeCompletionHandler& handler) {
  if (Tessaly::sharedSDK()->debug() || !certPinner_) {
    handler(tw::URLSessionAuthChallengeDisposition::PerformDefaultHandling, nullptr);
    return;
  }
  certPinner_->handleChallenge(challenge, session, handler);
}
