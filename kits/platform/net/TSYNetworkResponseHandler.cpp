#include "kits/platform/net/TSYNetworkResponseHandler.h"

#include <strings.h>
#include <string_view>

#include <cmath>
#include <cstdlib>

namespace {

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::optional<std::string> TSYNetworkResponseHandler::headerForResponse(
    const tw::URLResponse* response, const std::string& key) {
  if (!response) return std::nullopt;
  return response->valueForHTTPHeaderField(key);
}

double TSYNetworkResponseHandler::retryValueForResponse(const tw::URLResponse* response) {
  auto text = headerForResponse(response, "Retry-After");
  if (!text) return 2.0;
  const char* begin = text->c_str();
  char* end = nullptr;
  double value = std::strtod(begin, &end);
  if (end == begin) value = 0;  // no number at all reads as 0
  // A non-finite value would poison the delay arithmetic: treat it as missing.
  if (!std::isfinite(value) || value < 0) return 2.0;
  return value;
}

std::optional<std::string> TSYNetworkResponseHandler::requestIdForResponse(
    const tw::URLResponse* response) {
  return headerForResponse(response, "X-Request-Id");
}

bool TSYNetworkResponseHandler::contentTypeForResponse(const tw::URLResponse* response,
                                                       const tw::URLRequest& request) {
  auto accept = request.valueForHTTPHeaderField("Accept");
  if (!accept) return true;
  auto contentType = headerForResponse(response, "Content-Type");
  if (!contentType) return false;
  constexpr std::string_view kSeparator = "; charset=";
  std::string type = *contentType;
  std::optional<std::string> charset;
  if (auto at = contentType->find(kSeparator); at != std::string::npos) {
    type = contentType->substr(0, at);
    charset = contentType->substr(at + kSeparator.size());
  }
  if (!equalsIgnoringCase(type, *accept)) return false;
  auto acceptCharset = request.valueForHTTPHeaderField("Accept-Charset");
  if (acceptCharset && charset) return equalsIgnoringCase(*charset, *acceptCharset);
  return true;
}

long TSYNetworkResponseHandler::cancelReasonFromURLError(const tw::ErrorPtr& error) {
  if (!error || error->domain() != tw::NSURLErrorDomain || error->code() != -999) return -1;
  auto it = error->userInfo().find(NSURLErrorBackgroundTaskCancelledReasonKey);
  if (it == error->userInfo().end() || !it->second.isNumber()) return -1;
  return static_cast<long>(it->second.integerValue());
}

bool TSYNetworkResponseHandler::retryableURLError(const tw::ErrorPtr& error) {
  if (!error || error->domain() != tw::NSURLErrorDomain) return false;
  const auto code = error->code();
  switch (code) {
    case -1022:
    case -1013:
    case -1012:
    case -1010:
    case -1007:
    case -1002:
    case -1000:
    case -995:
    case -1103:
    case -1101:
    case -1100:
      return false;
    default:
      return !(code >= -1206 && code <= -1200);
  }
}

tw::ErrorPtr TSYNetworkResponseHandler::errorForCode(long code, tw::Dictionary userInfo) {
  return tw::Error::make(TSYNetworkErrorDomain, code, std::move(userInfo));
}

tw::ErrorPtr TSYNetworkResponseHandler::errorForResponse(const tw::URLResponse* response, long type,
                                                         long status) {
  long code;
  switch (type) {
    case TSYNetworkResponseTypeSuccess:
      return nullptr;
    case TSYNetworkResponseTypeUnexpected:
      code = -4;
      break;
    case TSYNetworkResponseTypeClientError:
      code = -5;
      break;
    default:
      code = -1;
      break;
  }
  tw::Dictionary info;
  info["type"] = type;
  info["status_code"] = status;
  info["request_id"] = requestIdForResponse(response).value_or("");
  info["content_type"] = headerForResponse(response, "Content-Type").value_or("");
  return errorForCode(code, std::move(info));
}

void TSYNetworkResponseHandler::clientResponseType(const tw::URLResponse* response,
                                                   const std::function<void(long, long)>& handler) {
  if (!handler) return;
  if (!response || !response->statusCode) {
    handler(TSYNetworkResponseTypeUnexpected, 0);
    return;
  }
  const long s = *response->statusCode;
  long type;
  switch (s) {
    case 400:
    case 401:
    case 403:
    case 404:
    case 406:
    case 410:
    case 411:
    case 413:
    case 419:
    case 422:
    case 431:
      type = TSYNetworkResponseTypeClientError;
      break;
    case 420:
    case 429:
      type = TSYNetworkResponseTypeRateLimited;
      break;
    case 408:
      type = TSYNetworkResponseTypeServerError;
      break;
    case 200:
    case 201:
    case 202:
    case 204:
    case 304:
      type = TSYNetworkResponseTypeSuccess;
      break;
    default:
      type = (s >= 500 && s <= 599) ? TSYNetworkResponseTypeServerError
                                    : TSYNetworkResponseTypeUnexpected;
  }
  handler(type, s);
}

void TSYNetworkResponseHandler::handleCompletedResponse(
    const tw::URLResponse* response, const tw::URLRequest& originalRequest,
    const tw::ErrorPtr& error, const std::function<void(bool, tw::ErrorPtr)>& block) {
  if (!block) return;
  if (error) {
    block(retryableURLError(error), error);
    return;
  }
  clientResponseType(response, [&](long type, long status) {
    switch (type) {
      case TSYNetworkResponseTypeSuccess:
        if (contentTypeForResponse(response, originalRequest)) {
          block(false, nullptr);
        } else {
          block(false, errorForResponse(response, TSYNetworkResponseTypeUnexpected, status));
        }
        break;
      case TSYNetworkResponseTypeUnexpected:
      case TSYNetworkResponseTypeClientError:
        block(false, errorForResponse(response, type, status));
        break;
      default:
        block(true, errorForResponse(response, type, status));
    }
  });
}
