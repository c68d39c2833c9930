#pragma once
// Certificates and server-trust challenges of the kits' URL sessions: tw::Certificate (one X.509
// certificate), tw::ServerTrust (the chain a TLS server presented for a host), the challenge a
// session hands its delegate and the dispositions that settle it. Immutable once built; shared
// freely between threads.

#include <functional>
#include <memory>
#include <string>
#include <vector>

typedef struct x509_st X509;

namespace tw {

class Certificate {
 public:
  // Takes ownership of one reference.
  explicit Certificate(X509* x509) : x509_(x509) {}
  ~Certificate();
  Certificate(const Certificate&) = delete;
  Certificate& operator=(const Certificate&) = delete;
  // nullptr for bytes that are not one DER certificate.
  static std::shared_ptr<Certificate> fromDER(const unsigned char* bytes, std::size_t length);
  X509* x509() const { return x509_; }

 private:
  X509* x509_;
};

class ServerTrust {
 public:
  ServerTrust(std::string host, std::vector<std::shared_ptr<Certificate>> chain)
      : host_(std::move(host)), chain_(std::move(chain)) {}
  const std::string& host() const { return host_; }
  // Leaf first, as the server sent it.
  const std::vector<std::shared_ptr<Certificate>>& chain() const { return chain_; }

 private:
  std::string host_;
  std::vector<std::shared_ptr<Certificate>> chain_;
};

enum class URLSessionAuthChallengeDisposition {
  UseCredential = 0,
  PerformDefaultHandling = 1,
  CancelAuthenticationChallenge = 2,
  RejectProtectionSpace = 3,
};

struct URLCredential {
  std::shared_ptr<const ServerTrust> trust;
};

struct URLAuthenticationChallenge {
  std::shared_ptr<const ServerTrust> serverTrust;  // the protection space's trust
};

using ChallengeCompletionHandler =
    std::function<void(URLSessionAuthChallengeDisposition, std::shared_ptr<URLCredential>)>;

}  // namespace tw
