#pragma once
// tw::URLRequest and tw::URLResponse: the request a kit hands to its URL session and the reply
// head the session hands back. Plain values owned by whoever holds them; copy freely between
// threads. Header names keep the spelling they were given (they go on the wire that way) and are
// looked up without regard to case.

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Value.h"

namespace tw {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The header's value (first match, case-insensitive), or nullopt.
std::optional<std::string> headerValue(const HeaderList& headers, std::string_view name);

struct URLRequest {
  std::string url;
  std::string method = "GET";
  HeaderList headers;
  Data body;
  // Set for a body streamed from a file (an upload task sets it; `body` is then ignored).
  std::optional<std::filesystem::path> bodyFile;
  double timeoutInterval = 60;

  std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const {
    return headerValue(headers, name);
  }
  // Replaces every header of that name (nullopt removes it).
  void setValue(const std::optional<std::string>& value, std::string_view name);
  // Appends to an existing value with ", " (one header line holding a list, as HTTP allows),
  // else adds it.
  void addValue(const std::string& value, std::string_view name);
};

struct URLResponse {
  std::string url;
  // Absent for a reply that carried no HTTP status.
  std::optional<long> statusCode;
  HeaderList headers;

  std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const {
    return headerValue(headers, name);
  }
};

// The URL-loading error domain and the codes the session reports.
inline constexpr const char* NSURLErrorDomain = "NSURLErrorDomain";
inline constexpr const char* NSURLErrorFailingURLStringErrorKey = "NSErrorFailingURLStringKey";
enum URLErrorCode : long {
  NSURLErrorCancelled = -999,
  NSURLErrorBadURL = -1000,
  NSURLErrorTimedOut = -1001,
  NSURLErrorUnsupportedURL = -1002,
  NSURLErrorCannotFindHost = -1003,
  NSURLErrorCannotConnectToHost = -1004,
  NSURLErrorNetworkConnectionLost = -1005,
  NSURLErrorHTTPTooManyRedirects = -1007,
  NSURLErrorCannotCreateFile = -3000,
  NSURLErrorSecureConnectionFailed = -1200,
  NSURLErrorServerCertificateUntrusted = -1202,
  NSURLErrorClientCertificateRejected = -1205,
  NSURLErrorClientCertificateRequired = -1206,
};

}  // namespace tw
