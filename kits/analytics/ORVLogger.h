#pragma once
// ORVLogger: the analytics kit's debug log. Silent unless debug mode is on (set once at kit start
// from the kit platform's debug switch). One shared instance per process; any thread: the switch
// is published with release/acquire so a reader on another thread sees the value set at start.
#include <atomic>
#include <string>
#include <string_view>

#include "platform/foundation/Format.h"

class ORVLogger {
 public:
  static ORVLogger& sharedLogger();

  // "[Oriseth] " + the formatted text.
  template <class... Args>
  void log(std::string_view format, const Args&... args) {
    if (debugMode()) internalLog("[Oriseth] " + tw::format(format, args...));
  }
  // "[Oriseth:<label>] " + the formatted text.
  template <class... Args>
  void logWithLabel(std::string_view label, std::string_view format, const Args&... args) {
    if (debugMode()) internalLog(tw::format("[Oriseth:%@] %@", label, tw::format(format, args...)));
  }
  void internalLog(const std::string& text);

  bool debugMode() const { return debugMode_.load(std::memory_order_acquire); }
  void setDebugMode(bool on) { debugMode_.store(on, std::memory_order_release); }

 private:
  std::atomic<bool> debugMode_{false};
};
