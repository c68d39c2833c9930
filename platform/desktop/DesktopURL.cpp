#include "platform/desktop/DesktopURL.h"

#include <gio/gio.h>

#include "platform/foundation/Log.h"

namespace tw {

namespace {

bool openWithGio(const std::string& url, std::string& reason) {
  GError* error = nullptr;
  const bool opened = g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error);
  if (!opened) reason = error && error->message ? error->message : "no application for it";
  if (error) g_error_free(error);
  return opened;
}

URLOpener& currentOpener() {
  static URLOpener opener;
  return opener;
}

}  // namespace

URLOpener setURLOpener(URLOpener opener) {
  URLOpener previous = std::move(currentOpener());
  currentOpener() = std::move(opener);
  return previous;
}

bool openURLWithDefaultHandler(const std::string& url, std::string* reason) {
  std::string why;
  bool opened = false;
  if (url.empty() || !g_uri_is_valid(url.c_str(), G_URI_FLAGS_NONE, nullptr)) {
    why = "not a valid address";
    logf("Cannot open \"%@\": %@", url, why);
  } else {
    const URLOpener& opener = currentOpener();
    opened = opener ? opener(url, why) : openWithGio(url, why);
    if (!opened && why.empty()) why = "no application for it";
    if (!opened) logf("Cannot open %@: %@", url, why);
  }
  if (reason) *reason = opened ? std::string() : why;
  return opened;
}

}  // namespace tw
