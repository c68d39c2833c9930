#pragma once
// Which sanitizer a test binary was built with, for the few tests whose subject a sanitizer's
// runtime changes. Test-only; any thread.

#include <cstdlib>
#include <string>

namespace tw::test {

#if defined(__SANITIZE_THREAD__)
// The thread sanitizer holds a signal sent to a thread until that thread reaches one of the
// runtime's own safe points (an intercepted call): a thread that spins or waits in a raw system
// call is never interrupted, so nothing that freezes other threads by signal can work.
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif

// For a child that is about to crash on purpose: a sanitizer's own fault handlers would stand in
// front of the crash kit's. Added to what the options already say (the suppressions of the
// test run, for one).
inline void leaveFaultsToTheProgram() {
  const auto add = [](const char* name, const char* options) {
    std::string value = options;
    if (const char* set = std::getenv(name); set && *set) value = std::string(set) + ":" + value;
    ::setenv(name, value.c_str(), 1);
  };
  constexpr const char* kFaults =
      "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0";
  add("ASAN_OPTIONS", (std::string(kFaults) + ":detect_leaks=0:use_sigaltstack=0").c_str());
  add("TSAN_OPTIONS", (std::string(kFaults) + ":report_signal_unsafe=0").c_str());
}

}  // namespace tw::test
