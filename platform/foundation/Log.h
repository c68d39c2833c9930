#pragma once
// Logging to the system log (syslog, identity "Tickwell"). Callers put the exact prefixes the
// system uses ("<BTUpdater> Starting Update Loop", "[Tessaly] ...") into the message themselves.
// Thread-safe. Tests install a capture hook to read what was logged.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tw {

enum class LogLevel { Debug, Info, Notice, Error, Fault };

void log(LogLevel level, std::string_view message);
inline void log(std::string_view message) { log(LogLevel::Notice, message); }

// Formats with tw::format's syntax (see Format.h) and logs at Notice.
template <class... Args>
void logf(std::string_view format, const Args&... args);

using LogHook = std::function<void(LogLevel, std::string_view)>;
// Replaces the hook (empty to remove); returns the previous one. While a hook is set, messages
// still go to the system log unless `exclusive` is true. The hook runs on the logging thread,
// outside any lock, so it may itself log.
LogHook setLogHook(LogHook hook, bool exclusive = false);
// Whether the installed hook keeps messages out of the system log.
bool logHookIsExclusive();

// Collects every message logged while it lives (and keeps them out of the system log). Captures
// nest: an inner capture also hands each message to the hook it replaced. Destroy captures in
// the reverse order of creation.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  std::vector<std::string> lines() const;
  bool contains(std::string_view needle) const;
  void clear();

 private:
  // Shared with the installed hook, so a message logged on another thread while the capture
  // goes away never touches freed memory.
  struct State {
    // Guards lines.
    std::mutex mutex;
    std::vector<std::string> lines;
  };
  std::shared_ptr<State> state_;
  LogHook previous_;
  bool previousExclusive_ = false;
};

}  // namespace tw

#include "platform/foundation/Format.h"

template <class... Args>
void tw::logf(std::string_view format, const Args&... args) {
  tw::log(tw::LogLevel::Notice, tw::format(format, args...));
}
