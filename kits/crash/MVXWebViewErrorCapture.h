#pragma once
// Web-view error capture: the script that forwards a page's JavaScript errors to the kit (posted
// to the message handler "morvex"), the handler interface the facade implements, and the adapter
// through which a web engine lets the facade install both into a web view's configuration.
//
// This system ships no web view, so no adapter is registered and every configuration handed to
// the facade is reported as one it cannot monitor. Adapters are registered once at start-up;
// lookups and calls from any thread (the adapter keeps its engine's own rules).

#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

// What a page's script posts reaches this handler
// ("userContentController:didReceiveScriptMessage:").
class WKScriptMessageHandler {
 public:
  virtual ~WKScriptMessageHandler() = default;
  virtual void userContentControllerDidReceiveScriptMessage(const tw::Value& body) = 0;
};

namespace tw::crash {

// The name the script posts to.
inline constexpr const char* kWebViewMessageHandlerName = "morvex";

// The error script, its two parts joined in order: the first saves and replaces the page's
// onload/onerror and re-installs the kit's onerror when the page replaced it; the second posts
// each error's msg, url, line and column, then calls the page's own handler.
std::string webViewErrorScriptSource();

class WebViewAdapter {
 public:
  virtual ~WebViewAdapter() = default;
  // Whether `configuration` is a web view configuration of this adapter's engine.
  virtual bool handlesConfiguration(const Object& configuration) const = 0;
  virtual void addScriptMessageHandler(Object& configuration,
                                       std::shared_ptr<WKScriptMessageHandler> handler,
                                       const std::string& name) = 0;
  // Injects a user script at document end for the main frame only; false when the engine has no
  // user scripts.
  virtual bool addUserScript(Object& configuration, const std::string& source) = 0;
};

void registerWebViewAdapter(std::shared_ptr<WebViewAdapter> adapter);
// The adapter that handles `configuration`, or nullptr.
std::shared_ptr<WebViewAdapter> webViewAdapterForConfiguration(const Object& configuration);

}  // namespace tw::crash
