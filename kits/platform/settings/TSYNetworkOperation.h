#pragma once
// TSYNetworkOperation: the base of the platform's requests to the kits' web service (settings
// download, onboarding). Builds the default request every one of them sends: the platform's
// identity, locale, developer token and API key headers. Started directly by its owner; finishes
// on the network client's callback queue.

#include <memory>
#include <string>

#include "kits/platform/TSYAsyncOperation.h"
#include "kits/platform/net/URLRequest.h"

class TSYNetworkOperation : public TSYAsyncOperation {
 public:
  explicit TSYNetworkOperation(std::string apiKey) : APIKey_(std::move(apiKey)) {}

  // The default request with a 10-second time-out.
  virtual tw::URLRequest mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(
      const std::string& url) const;
  tw::URLRequest mutableRequestWithDefaultHTTPHeadersForURL(const std::string& url,
                                                            double timeout) const;
  static std::string userAgentString();
  // The current locale as language_REGION ("en_US" without a configured one).
  static std::string localeIdentifier();
  const std::string& APIKey() const { return APIKey_; }

 private:
  std::string APIKey_;
};
