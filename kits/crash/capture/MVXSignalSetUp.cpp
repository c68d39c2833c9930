#include "kits/crash/capture/MVXSignal.h"

#include <dlfcn.h>
#include <errno.h>

#include <cstdio>
#include <cstring>

#include "kits/crash/capture/MVXCrashContext.h"
#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXStackWalk.h"
#include "kits/crash/capture/MVXUtilities.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Thread.h"

bool MVXSignalInstallAlternateStack(MVXSignalContext* signal, void* stack, std::size_t size) {
  stack_t ours{};
  ours.ss_sp = stack;
  ours.ss_size = size;
  ours.ss_flags = 0;
  stack_t previous{};
  if (sigaltstack(&ours, &previous) != 0) {
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to setup stack %s\n", strerror(errno));
    return false;
  }
  if (signal != nullptr) {
    signal->previousStack = previous;
    signal->hasPreviousStack = (previous.ss_flags & SS_DISABLE) == 0 && previous.ss_sp != nullptr;
  }
  return true;
}

void MVXSignalInitialize(MVXSignalContext* signal) {
  if (signal == nullptr) return;
  // Every thread the dispatch layer starts from now on can be recorded after its stack ran out.
  tw::setThreadStartHook([] { tw::crash::installThreadAlternateStack(); });
  if (!MVXUnlinkIfExists(signal->path)) {
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to reset the signal log file %s\n", signal->path);
  }
  const char* const function = __func__;  // the lambda below logs under this name
  MVXSignalEnumerateHandledSignals([&](int index, int number) {
    struct sigaction action {};
    action.sa_sigaction = MVXSignalHandler;
    action.sa_flags = SA_ONSTACK | SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    if (sigaction(number, &action, &previous) != 0) {
      MVXSDKLOG_IN(function, 3, "WARN  [%s:%d] Unable to install handler for %d (%s)\n", index,
                   strerror(errno));
      return;
    }
    const bool hasHandler = (previous.sa_flags & SA_SIGINFO) != 0
                                ? previous.sa_sigaction != nullptr
                                : previous.sa_handler != SIG_DFL && previous.sa_handler != nullptr;
    if (hasHandler) {
      signal->previous[index] = previous;
    } else {
      std::memset(&signal->previous[index], 0, sizeof previous);
    }
  });
}

void MVXSignalCheckHandlers() {
  if (gMVXContext.readonly != nullptr && gMVXContext.readonly->debuggerAttached) return;
  MVXSignalEnumerateHandledSignals([](int, int number) {
    struct sigaction current {};
    if (sigaction(number, nullptr, &current) != 0) {
      std::fputs("Unable to read signal handler\n", stderr);
      return;
    }
    if ((current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == MVXSignalHandler) return;
    const void* handler = (current.sa_flags & SA_SIGINFO) != 0
                              ? reinterpret_cast<const void*>(current.sa_sigaction)
                              : reinterpret_cast<const void*>(current.sa_handler);
    Dl_info info{};
    const char* symbol =
        dladdr(handler, &info) != 0 && info.dli_sname != nullptr ? info.dli_sname : "unknown";
    std::fprintf(stderr,
                 "[Morvex] The signal %s has a non-Morvex handler (%s).  This will interfere with "
                 "reporting.\n",
                 MVXSignalNameForSignal(number), symbol);
  });
}

bool tw::crash::installThreadAlternateStack() {
  if (!tw::ensureAlternateSignalStack()) return false;
  MVXStackWalkRecordThreadStack();
  return true;
}
