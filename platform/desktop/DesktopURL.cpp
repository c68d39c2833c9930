#include "platform/desktop/DesktopURL.h"

#include <gio/gio.h>

#include "platform/foundation/Log.h"

namespace tw {

bool openURLWithDefaultHandler(const std::string& url) {
  if (url.empty() || !g_uri_is_valid(url.c_str(), G_URI_FLAGS_NONE, nullptr)) {
    logf("Cannot open \"%@\": not a valid address", url);
    return false;
  }
  GError* error = nullptr;
  const bool opened = g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error);
  if (!opened) {
    logf("Cannot open %@: %@", url, error ? error->message : "no application for it");
    if (error) g_error_free(error);
  }
  return opened;
}

}  // namespace tw
