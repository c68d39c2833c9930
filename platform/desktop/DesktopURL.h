#pragma once
// tw::openURLWithDefaultHandler: hands an address (https:, mailto:, file:, ...) to the handler
// the user's desktop has chosen for its scheme (GIO's default application for the URI scheme),
// without waiting for it. A malformed address or a desktop with no handler is logged and gives
// false; nothing is raised. Plain function; main thread.

#include <string>

namespace tw {

bool openURLWithDefaultHandler(const std::string& url);

}  // namespace tw
