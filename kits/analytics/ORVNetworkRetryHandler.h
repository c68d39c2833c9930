#pragma once
// ORVBackoffTimer: counts one upload's retries and runs each retry after an exponentially growing,
// jittered delay on the main queue (delays are computed in floating point and capped at
// kMaximumDelay; a non-finite delay counts as the cap). ORVNetworkRetryHandler: decides for each
// finished upload task whether it is tried again, keeping one timer per upload identifier until
// that upload ends for good, and answers the session's certificate challenges. Both live on the
// analytics controller's event queue; only the retry blocks run on the main queue.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "kits/platform/net/MVXURLSession.h"
#include "kits/platform/net/ServerTrust.h"
#include "kits/platform/net/TSYCertificatePinner.h"
#include "kits/platform/net/URLRequest.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Error.h"

class ORVBackoffTimer {
 public:
  // One day: beyond it a retry would outlive any sensible run of the application.
  static constexpr double kMaximumDelay = 86400.0;
  static constexpr double kDefaultJitter = static_cast<double>(0.1f);

  ORVBackoffTimer() : ORVBackoffTimer(0.0) {}
  explicit ORVBackoffTimer(double initialValue) : ORVBackoffTimer(initialValue, kDefaultJitter) {}
  // Throws NSInternalInconsistencyException when the coefficient is outside [0, 1).
  ORVBackoffTimer(double initialValue, double jitterCoefficient);

  void executeBlockAfterNextInterval(tw::Block block);
  static double randomDoubleWithMin(double min, double max);
  double generateRandomJitter() const;
  double computeDelayForInitialValue(double initialValue, std::uint64_t retryCount) const;
  static bool jitterCoefficientIsValid(double c) { return c >= 0.0 && c < 1.0; }

  std::uint64_t retryCount() const { return retryCount_; }
  double initialValue() const { return initialValue_; }
  double jitterCoefficient() const { return jitterCoefficient_; }

 private:
  std::uint64_t retryCount_ = 0;
  double initialValue_;
  double jitterCoefficient_;
};

class ORVNetworkRetryHandler {
 public:
  using Completion = std::function<void(bool retry, tw::ErrorPtr error)>;
  static constexpr std::uint64_t kDefaultMaxRetries = 10;

  ORVNetworkRetryHandler();
  // With a pinner of the caller's (nullptr: challenges get default handling).
  explicit ORVNetworkRetryHandler(std::shared_ptr<TSYCertificatePinner> pinner)
      : certPinner_(std::move(pinner)) {}

  void handleChallenge(const tw::URLAuthenticationChallenge& challenge,
                       const std::shared_ptr<MVXURLSession>& session,
                       const tw::ChallengeCompletionHandler& completionHandler);
  double retryValueForResponse(const tw::URLResponse* response) const;
  tw::ErrorPtr errorWithCode(long code, const std::string& identifier,
                             const tw::URLRequest* request, const tw::ErrorPtr& handlerError) const;
  void handleCompletedRequest(const tw::URLRequest& request, const tw::URLResponse* response,
                              const std::string& identifier, const tw::ErrorPtr& error,
                              const Completion& completion);
  void handleCompletedRequest(const tw::URLRequest& request, const tw::URLResponse* response,
                              const std::string& identifier, std::uint64_t maxRetries,
                              const tw::ErrorPtr& error, const Completion& completion);
  std::shared_ptr<ORVBackoffTimer> timerForIdentifier(const std::string& identifier,
                                                      double initialRetryValue);

  const std::shared_ptr<TSYCertificatePinner>& certPinner() const { return certPinner_; }
  const std::map<std::string, std::shared_ptr<ORVBackoffTimer>>& retryTimerMap() const {
    return retryTimerMap_;
  }

 private:
  std::shared_ptr<TSYCertificatePinner> certPinner_;
  std::map<std::string, std::shared_ptr<ORVBackoffTimer>> retryTimerMap_;
};
