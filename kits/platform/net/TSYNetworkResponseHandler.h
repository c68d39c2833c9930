#pragma once
// TSYNetworkResponseHandler: the one decision every finished request of the kits goes through:
// success, a failure to report, or a failure worth retrying; HTTP failures become errors in
// "TSYNetworkError". Class methods without state; any thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "kits/platform/net/URLRequest.h"
#include "platform/foundation/Error.h"

inline constexpr const char* TSYNetworkErrorDomain = "TSYNetworkError";

// Response types passed between the classifier's steps.
enum TSYNetworkResponseType : long {
  TSYNetworkResponseTypeSuccess = 0,
  TSYNetworkResponseTypeUnexpected = 1,
  TSYNetworkResponseTypeClientError = 2,
  TSYNetworkResponseTypeServerError = 3,
  TSYNetworkResponseTypeRateLimited = 4,
};

class TSYNetworkResponseHandler {
 public:
  static std::optional<std::string> headerForResponse(const tw::URLResponse* response,
                                                      const std::string& key);
  // "Retry-After" in seconds; 2.0 when missing, negative or not finite; text that is no number
  // reads as 0.
  static double retryValueForResponse(const tw::URLResponse* response);
  static std::optional<std::string> requestIdForResponse(const tw::URLResponse* response);
  static bool contentTypeForResponse(const tw::URLResponse* response,
                                     const tw::URLRequest& request);
  static long cancelReasonFromURLError(const tw::ErrorPtr& error);
  static bool retryableURLError(const tw::ErrorPtr& error);
  static tw::ErrorPtr errorForCode(long code, tw::Dictionary userInfo);
  static tw::ErrorPtr errorForResponse(const tw::URLResponse* response, long type, long status);
  static void clientResponseType(const tw::URLResponse* response,
                                 const std::function<void(long type, long status)>& handler);
  static void handleCompletedResponse(
      const tw::URLResponse* response, const tw::URLRequest& originalRequest,
      const tw::ErrorPtr& error,
      const std::function<void(bool shouldRetry, tw::ErrorPtr error)>& block);
};

// The user-info key under which a cancelled background task carries its reason.
inline constexpr const char* NSURLErrorBackgroundTaskCancelledReasonKey =
    "NSURLErrorBackgroundTaskCancelledReasonKey";
