#include "kits/crash/MVXWebViewErrorCapture.h"

#include <mutex>
#include <vector>

namespace {

// Guards gAdapters.
std::mutex gAdaptersMutex;
std::vector<std::shared_ptr<tw::crash::WebViewAdapter>> gAdapters;

constexpr const char* kScriptPartOne = R"JS(
var morvexOriginalOnLoad = window.onload;
var morvexOriginalOnError = window.onerror;
window.onerror = morvexOnError;
window.onload = morvexOnLoad;
function morvexOnLoad() {
  if (window.onerror !== morvexOnError) {
    morvexOriginalOnError = window.onerror;
    window.onerror = morvexOnError;
  }
  if (typeof morvexOriginalOnLoad === 'function') {
    morvexOriginalOnLoad();
  }
}
)JS";

constexpr const char* kScriptPartTwo = R"JS(
function morvexOnError(msg, url, line, column, error) {
  var report = {msg: msg, url: url, line: line, column: column};
  window.webkit.messageHandlers.morvex.postMessage(report);
  if (typeof morvexOriginalOnError === 'function') {
    morvexOriginalOnError(msg, url, line, column, error);
  }
}
)JS";

}  // namespace

std::string tw::crash::webViewErrorScriptSource() {
  return std::string(kScriptPartOne) + kScriptPartTwo;
}

void tw::crash::registerWebViewAdapter(std::shared_ptr<WebViewAdapter> adapter) {
  std::lock_guard lock(gAdaptersMutex);
  gAdapters.push_back(std::move(adapter));
}

std::shared_ptr<tw::crash::WebViewAdapter> tw::crash::webViewAdapterForConfiguration(
    const Object& configuration) {
  std::lock_guard lock(gAdaptersMutex);
  for (const auto& adapter : gAdapters) {
    if (adapter->handlesConfiguration(configuration)) return adapter;
  }
  return nullptr;
}
