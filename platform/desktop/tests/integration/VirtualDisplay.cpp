#include "platform/desktop/tests/integration/VirtualDisplay.h"

#include <cstdlib>
#include <sstream>

#include "platform/desktop/tests/integration/PrivateSessionBus.h"
#include "platform/testsupport/TestSupport.h"

namespace tw::test {
std::string startVirtualDisplay(const std::string& logFile, pid_t* pid, double timeoutSeconds) {
  // Xvfb writes the display number it chose to the descriptor named (its output: our log). It
  // must not reset when its last client leaves: the probe below is a client, and a program
  // connecting during the reset would find no display.
  *pid = spawnProcess(
      {"Xvfb", "-displayfd", "1", "-noreset", "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
      logFile);
  if (*pid <= 0) return {};
  std::string number;
  eventually(
      [&] {
        // Only a whole line counts: a number read before its newline may be cut short ("1" of
        // "12") and name another server's display.
        std::istringstream lines(fileText(logFile));
        std::string line;
        while (std::getline(lines, line) && !lines.eof())
          if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
            number = line;
            return true;
          }
        return false;
      },
      timeoutSeconds);
  if (number.empty() || !waitForSocket("/tmp/.X11-unix/X" + number, *pid, timeoutSeconds)) {
    stopProcess(*pid);
    *pid = -1;
    return {};
  }
  return ":" + number;
}

bool waitForWindowManager(const std::string& display, double timeoutSeconds) {
  const std::string probe = "DISPLAY=" + display +
                            " xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null"
                            " | grep -q 'window id'";
  return eventually([&] { return std::system(probe.c_str()) == 0; }, timeoutSeconds, 0.05);
}

}  // namespace tw::test
