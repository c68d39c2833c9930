#pragma once
// TSYCertificatePinner: settles the server-trust challenges of the kits' URL sessions by trusting
// only a fixed set of certificate authorities (chains are verified with OpenSSL against a store
// holding those roots alone, host name included). Immutable after creation; any thread.

#include <cstdint>
#include <memory>
#include <vector>

#include "kits/platform/net/ServerTrust.h"

class MVXURLSession;

// Trust results, as the evaluation reports them.
enum TSYTrustResult : std::uint32_t {
  TSYTrustResultInvalid = 0,
  TSYTrustResultProceed = 1,
  TSYTrustResultUnspecified = 4,
  TSYTrustResultRecoverableTrustFailure = 5,
  TSYTrustResultFatalTrustFailure = 6,
};

class TSYCertificatePinner {
 public:
  static std::shared_ptr<tw::Certificate> createCertificationWithData(const std::uint8_t* bytes,
                                                                      std::size_t length);
  explicit TSYCertificatePinner(std::vector<std::shared_ptr<tw::Certificate>> certificates)
      : certificates_(std::move(certificates)) {}

  // 0 on success (the verdict in `result`), else a failure status.
  std::int16_t evaluateTrust(const tw::ServerTrust& trust, std::uint32_t* result) const;
  // True when it settled the challenge with a credential.
  bool handleChallenge(const tw::URLAuthenticationChallenge& challenge,
                       const std::shared_ptr<MVXURLSession>& session,
                       const tw::ChallengeCompletionHandler& completionHandler) const;
  const std::vector<std::shared_ptr<tw::Certificate>>& certificates() const {
    return certificates_;
  }

 private:
  std::vector<std::shared_ptr<tw::Certificate>> certificates_;
};
