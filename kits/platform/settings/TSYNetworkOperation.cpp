#include "kits/platform/settings/TSYNetworkOperation.h"

#include <cstdlib>

#include "kits/platform/KitServiceEndpoints.h"
#include "kits/platform/Tessaly.h"

tw::URLRequest TSYNetworkOperation::mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(
    const std::string& url) const {
  return mutableRequestWithDefaultHTTPHeadersForURL(url, 10);
}

tw::URLRequest TSYNetworkOperation::mutableRequestWithDefaultHTTPHeadersForURL(
    const std::string& url, double timeout) const {
  tw::URLRequest request;
  request.url = url;
  request.timeoutInterval = timeout;
  const std::string locale = localeIdentifier();
  request.setValue(userAgentString(), "User-Agent");
  request.setValue("utf-8", "Accept-Charset");
  request.setValue(locale, "Accept-Language");
  request.setValue(locale, "Content-Language");
  request.setValue(tw::kitservice::kDeveloperToken, "X-Morvex-Developer-Token");
  request.setValue(TSYSDKBundleIdentifier, "X-Morvex-API-Client-Id");
  request.setValue(TSYSDKDisplayVersion, "X-Morvex-API-Client-Display-Version");
  request.setValue(TSYSDKBuildVersion, "X-Morvex-API-Client-Build-Version");
  request.setValue(APIKey_, "X-Morvex-API-Key");
  return request;
}

std::string TSYNetworkOperation::userAgentString() {
  return std::string(TSYSDKBundleIdentifier) + "/" + TSYSDKDisplayVersion + " (" +
         TSYSDKBuildVersion + ")";
}

std::string TSYNetworkOperation::localeIdentifier() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    std::string id(value);
    id = id.substr(0, id.find_first_of(".@"));
    if (id == "C" || id == "POSIX") break;
    return id;
  }
  return "en_US";
}
