#pragma once
// tw::openURLWithDefaultHandler: hands an address (https:, mailto:, file:, ...) to the handler
// the user's desktop has chosen for its scheme (GIO's default application for the URI scheme),
// without waiting for it. A malformed address or a desktop with no handler is logged and gives
// false, with the reason in `*reason` when asked for; nothing is raised. Plain functions; main
// thread.

#include <functional>
#include <string>

namespace tw {

bool openURLWithDefaultHandler(const std::string& url, std::string* reason = nullptr);

// What hands a valid address over: GIO's default handler unless replaced (tests put one that
// fails, so no desktop is needed). Gives false with the reason when the address did not open.
using URLOpener = std::function<bool(const std::string& url, std::string& reason)>;
// Replaces the opener and returns the one it replaced; an empty function restores GIO's.
URLOpener setURLOpener(URLOpener opener);

}  // namespace tw
