#pragma once
// A virtual X display for tests and benches that run real windowed programs: Xvfb on a display
// number it picks itself (so parallel runs never race for one), and the wait for a window manager
// on it. Test-only; the caller's thread.

#include <sys/types.h>

#include <string>

namespace tw::test {

// Starts Xvfb (1280x800, no TCP) with its output in `logFile`. Returns the display (":N") once its
// socket accepts connections, with the server's process in `*pid`; an empty string when it did
// not come up within `timeoutSeconds` (nothing is left running then, and `*pid` is -1).
std::string startVirtualDisplay(const std::string& logFile, pid_t* pid,
                                double timeoutSeconds = 15.0);
// Whether a window manager has announced itself on `display`'s root window within the timeout.
bool waitForWindowManager(const std::string& display, double timeoutSeconds);

}  // namespace tw::test
