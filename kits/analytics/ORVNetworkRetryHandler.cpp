#include "kits/analytics/ORVNetworkRetryHandler.h"

#include <cmath>
#include <cstdlib>

#include "kits/platform/Tessaly.h"
#include "kits/platform/net/TSYNetworkResponseHandler.h"
#include "kits/platform/net/TSYPinnedCertificates.h"
#include "platform/foundation/Exception.h"

ORVBackoffTimer::ORVBackoffTimer(double initialValue, double jitterCoefficient)
    : initialValue_(initialValue), jitterCoefficient_(jitterCoefficient) {
  TW_PARAMETER_ASSERT(jitterCoefficientIsValid(jitterCoefficient));
}

double ORVBackoffTimer::randomDoubleWithMin(double min, double max) {
  return min + drand48() * (max - min);
}

double ORVBackoffTimer::generateRandomJitter() const {
  double c = jitterCoefficientIsValid(jitterCoefficient_) ? jitterCoefficient_ : kDefaultJitter;
  return randomDoubleWithMin(1.0 - c, 1.0 + c);
}

double ORVBackoffTimer::computeDelayForInitialValue(double initialValue,
                                                    std::uint64_t retryCount) const {
  // A non-finite base counts as missing: the default base of 2 seconds.
  double base = std::isfinite(initialValue) ? std::max(2.0, initialValue) : 2.0;
  double n = retryCount == 0 ? 1.0 : static_cast<double>(retryCount);
  double delay = std::pow(base, n) * generateRandomJitter();
  if (!std::isfinite(delay) || delay > kMaximumDelay) return kMaximumDelay;
  return delay;
}

void ORVBackoffTimer::executeBlockAfterNextInterval(tw::Block block) {
  ++retryCount_;
  double delay = computeDelayForInitialValue(initialValue_, retryCount_);
  // Whole nanoseconds, as the scheduler counts them.
  delay = std::floor(delay * 1e9) / 1e9;
  tw::DispatchQueue::main()->after(delay, std::move(block));
}

ORVNetworkRetryHandler::ORVNetworkRetryHandler()
    : certPinner_(std::make_shared<TSYCertificatePinner>(TSYPinnedCertificates())) {}

void ORVNetworkRetryHandler::handleChallenge(const tw::URLAuthenticationChallenge& challenge,
                                             const std::shared_ptr<MVXURLSession>& session,
                                             const tw::ChallengeCompletionHandler& completion) {
  if (!certPinner_ || Tessaly::sharedSDK()->debug()) {
    completion(tw::URLSessionAuthChallengeDisposition::PerformDefaultHandling, nullptr);
    return;
  }
  certPinner_->handleChallenge(challenge, session, completion);
}

double ORVNetworkRetryHandler::retryValueForResponse(const tw::URLResponse* response) const {
  return TSYNetworkResponseHandler::retryValueForResponse(response);
}

tw::ErrorPtr ORVNetworkRetryHandler::errorWithCode(long code, const std::string& identifier,
                                                   const tw::URLRequest* request,
                                                   const tw::ErrorPtr& handlerError) const {
  if (handlerError) return handlerError;
  tw::Dictionary info{{"ORVNetworkRetryHandlerIdentifier",
                       identifier.empty() ? std::string("(null)") : identifier}};
  if (request && !request->url.empty()) info["NSErrorFailingURLKey"] = request->url;
  return tw::Error::make(TSYNetworkErrorDomain, code, std::move(info));
}

void ORVNetworkRetryHandler::handleCompletedRequest(const tw::URLRequest& request,
                                                    const tw::URLResponse* response,
                                                    const std::string& identifier,
                                                    const tw::ErrorPtr& error,
                                                    const Completion& completion) {
  handleCompletedRequest(request, response, identifier, kDefaultMaxRetries, error, completion);
}

void ORVNetworkRetryHandler::handleCompletedRequest(
    const tw::URLRequest& request, const tw::URLResponse* response, const std::string& identifier,
    std::uint64_t maxRetries, const tw::ErrorPtr& error, const Completion& completion) {
  bool retry = false;
  tw::ErrorPtr handlerError;
  TSYNetworkResponseHandler::handleCompletedResponse(response, request, error,
                                                     [&](bool shouldRetry, tw::ErrorPtr e) {
                                                       retry = shouldRetry;
                                                       handlerError = std::move(e);
                                                     });
  if (!retry) {
    // The upload has ended for good: its timer goes, so the map does not grow for ever.
    retryTimerMap_.erase(identifier);
    completion(false, handlerError);
    return;
  }
  auto timer = timerForIdentifier(identifier, retryValueForResponse(response));
  if (!timer) {
    completion(false, errorWithCode(-7, identifier, &request, handlerError));
    return;
  }
  if (timer->retryCount() <= maxRetries) {
    timer->executeBlockAfterNextInterval(
        [completion, handlerError] { completion(true, handlerError); });
    return;
  }
  retryTimerMap_.erase(identifier);
  completion(false, errorWithCode(-6, identifier, &request, handlerError));
}

std::shared_ptr<ORVBackoffTimer> ORVNetworkRetryHandler::timerForIdentifier(
    const std::string& identifier, double initialRetryValue) {
  if (identifier.empty()) return nullptr;
  auto& slot = retryTimerMap_[identifier];
  if (!slot) slot = std::make_shared<ORVBackoffTimer>(initialRetryValue);
  return slot;
}
