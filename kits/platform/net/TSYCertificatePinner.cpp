#include "kits/platform/net/TSYCertificatePinner.h"

#include <arpa/inet.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace {

bool isIPAddress(const std::string& host) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
         inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

std::shared_ptr<tw::Certificate> TSYCertificatePinner::createCertificationWithData(
    const std::uint8_t* bytes, std::size_t length) {
  return tw::Certificate::fromDER(bytes, length);
}

std::int16_t TSYCertificatePinner::evaluateTrust(const tw::ServerTrust& trust,
                                                 std::uint32_t* result) const {
  std::uint32_t verdict = TSYTrustResultInvalid;
  std::int16_t status = 0;
  if (!certificates_.empty()) {
    X509_STORE* store = X509_STORE_new();
    bool anchored = store != nullptr;
    for (const auto& certificate : certificates_) {
      if (!anchored || !certificate || X509_STORE_add_cert(store, certificate->x509()) != 1) {
        anchored = false;
        break;
      }
    }
    if (!anchored) {
      verdict = TSYTrustResultFatalTrustFailure;
      status = -1;
    } else if (trust.chain().empty() || !trust.chain().front()) {
      verdict = TSYTrustResultRecoverableTrustFailure;
    } else {
      STACK_OF(X509)* untrusted = sk_X509_new_null();
      for (std::size_t i = 1; i < trust.chain().size(); ++i) {
        if (trust.chain()[i]) sk_X509_push(untrusted, trust.chain()[i]->x509());
      }
      X509_STORE_CTX* ctx = X509_STORE_CTX_new();
      bool ok = ctx && X509_STORE_CTX_init(ctx, store, trust.chain().front()->x509(), untrusted);
      if (ok) {
        X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx);
        X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
        if (!trust.host().empty()) {
          if (isIPAddress(trust.host())) {
            X509_VERIFY_PARAM_set1_ip_asc(param, trust.host().c_str());
          } else {
            X509_VERIFY_PARAM_set1_host(param, trust.host().c_str(), trust.host().size());
          }
        }
        verdict = X509_verify_cert(ctx) == 1 ? TSYTrustResultUnspecified
                                             : TSYTrustResultRecoverableTrustFailure;
      } else {
        verdict = TSYTrustResultInvalid;
        status = -1;
      }
      X509_STORE_CTX_free(ctx);
      sk_X509_free(untrusted);
    }
    X509_STORE_free(store);
  }
  if (result) *result = verdict;
  return status;
}

bool TSYCertificatePinner::handleChallenge(const tw::URLAuthenticationChallenge& challenge,
                                           const std::shared_ptr<MVXURLSession>&,
                                           const tw::ChallengeCompletionHandler& handler) const {
  using D = tw::URLSessionAuthChallengeDisposition;
  if (!challenge.serverTrust) {
    if (handler) handler(D::CancelAuthenticationChallenge, nullptr);
    return false;
  }
  std::uint32_t result = TSYTrustResultInvalid;
  if (evaluateTrust(*challenge.serverTrust, &result) != 0) result = TSYTrustResultFatalTrustFailure;
  if (result == TSYTrustResultProceed || result == TSYTrustResultUnspecified) {
    if (handler) {
      handler(D::UseCredential,
              std::make_shared<tw::URLCredential>(tw::URLCredential{challenge.serverTrust}));
    }
    return true;
  }
  if (handler) handler(D::CancelAuthenticationChallenge, nullptr);
  return false;
}
