#include "kits/crash/capture/MVXSignal.h"

#include <dlfcn.h>
#include <errno.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "kits/crash/capture/MVXContext.h"
#include "kits/crash/capture/MVXHandler.h"
#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXStackWalk.h"
#include "kits/crash/capture/MVXUtilities.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Thread.h"
#include "platform/machine/Machine.h"

namespace {

bool kernelRaised(const siginfo_t* info) { return info->si_code > 0; }

bool faultCarriesAddress(int number) {
  return number == SIGSEGV || number == SIGBUS || number == SIGILL || number == SIGFPE;
}

// Another thread found the gate closed: it waits, frozen but still answering the capture signal,
// until the recording thread's re-raise ends the process.
[[noreturn]] void waitForRecordingThread() {
  sigset_t onlyCapture;
  sigfillset(&onlyCapture);
  if (tw::machine::captureSignal() != 0) sigdelset(&onlyCapture, tw::machine::captureSignal());
  pthread_sigmask(SIG_SETMASK, &onlyCapture, nullptr);
  for (;;) sigsuspend(&onlyCapture);
}

}  // namespace

const char* MVXSignalNameForSignal(int number) {
  switch (number) {
    case SIGILL:
      return "SIGILL";
    case SIGTRAP:
      return "SIGTRAP";
    case SIGABRT:
      return "SIGABRT";
    case SIGFPE:
      return "SIGFPE";
    case SIGBUS:
      return "SIGBUS";
    case SIGSEGV:
      return "SIGSEGV";
    case SIGSYS:
      return "SIGSYS";
    default:
      return "UNKNOWN";
  }
}

const char* MVXSignalCodeNameForSignal(int number) { return number == SIGABRT ? "ABORT" : nullptr; }

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

void MVXSignalSafeRemoveHandlers(bool includingAbort) {
  const char* const function = __func__;  // the lambda below logs under this name
  MVXSignalEnumerateHandledSignals([&](int index, int number) {
    if (number == SIGABRT && !includingAbort) return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    if (sigaction(number, &action, nullptr) != 0) {
      MVXSDKLOG_IN(function, 3, "WARN  [%s:%d] Unable to set default handler for %d (%s)\n", index,
                   strerror(errno));
    }
  });
}

bool MVXSignalSafeInstallPreexistingHandlers(MVXSignalContext* signal) {
  MVXSignalSafeRemoveHandlers(true);
  if (signal == nullptr) return false;
  bool ok = true;
  if (signal->hasPreviousStack && sigaltstack(&signal->previousStack, nullptr) != 0) {
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to setup stack %s\n", strerror(errno));
    ok = false;
  }
  const char* const function = __func__;  // the lambda below logs under this name
  MVXSignalEnumerateHandledSignals([&](int index, int number) {
    const struct sigaction& saved = signal->previous[index];
    if (saved.sa_handler == nullptr) return;
    if (sigaction(number, &saved, nullptr) != 0) {
      MVXSDKLOG_IN(function, 3, "WARN  [%s:%d] Unable to install handler for %d (%s)\n", index,
                   strerror(errno));
      ok = false;
    }
  });
  return ok;
}

void MVXSignalHandler(int number, siginfo_t* info, void* userContext) {
  const int savedErrno = errno;
  errno = 0;
  MVXSDKLOG(3, "WARN  [%s:%d] Signal: %d\n", number);
  const pid_t me = tw::machine::currentThreadId();
  // Unblocked so that a fault inside this handler comes back here instead of killing silently.
  sigset_t none;
  sigemptyset(&none);
  if (pthread_sigmask(SIG_SETMASK, &none, nullptr) != 0) {
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to unmask signals - we risk infinite recursion here\n");
  }
  if (MVXContextMarkCrashed()) {
    MVXSDKLOG(3, "WARN  [%s:%d] Error: aborting signal handler because crash has already occurred");
    if (MVXContextCrashingThread() == me) {
      // The recording itself faulted: what is written stays, the process ends now.
      MVXSignalSafeRemoveHandlers(true);
      _exit(1);
    }
    waitForRecordingThread();
  }
  MVXReadOnlyContext* ro = gMVXContext.readonly;
  MVXSignalContext* signal = ro != nullptr ? &ro->signal : nullptr;
  MVXFile file;
  if (signal == nullptr || !MVXFileInitWithPath(&file, signal->path, false)) {
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to open signal file\n");
  } else {
    MVXFileWriteSectionStart(&file, "signal");
    MVXFileWriteHashStart(&file);
    if (reinterpret_cast<std::uintptr_t>(info) >= 4096) {
      MVXFileWriteHashEntryUint64(
          &file, "number", static_cast<std::uint64_t>(static_cast<std::int64_t>(info->si_signo)));
      MVXFileWriteHashEntryUint64(
          &file, "code", static_cast<std::uint64_t>(static_cast<std::int64_t>(info->si_code)));
      if (kernelRaised(info) && faultCarriesAddress(number)) {
        MVXFileWriteHashEntryUint64(&file, "address",
                                    reinterpret_cast<std::uintptr_t>(info->si_addr));
      }
      MVXFileWriteHashEntryString(&file, "name", MVXSignalNameForSignal(info->si_signo));
      MVXFileWriteHashEntryString(&file, "code_name", MVXSignalCodeNameForSignal(info->si_signo));
    }
    MVXFileWriteHashEntryUint64(&file, "errno",
                                static_cast<std::uint64_t>(static_cast<std::int64_t>(savedErrno)));
    MVXFileWriteHashEntryUint64(&file, "time", static_cast<std::uint64_t>(time(nullptr)));
    MVXFileWriteHashEnd(&file);
    MVXFileWriteSectionEnd(&file);
    const auto* uc = reinterpret_cast<std::uintptr_t>(userContext) >= 4096
                         ? static_cast<const ucontext_t*>(userContext)
                         : nullptr;
    MVXHandler(&file, me, uc);
    MVXFileClose(&file);
  }
  MVXSignalSafeInstallPreexistingHandlers(signal);
  // A signal sent by a process, or a trap, does not come back when this handler returns.
  if (info == nullptr || !kernelRaised(info) || number == SIGTRAP) {
    syscall(SYS_tgkill, getpid(), me, number);
  }
  errno = savedErrno;
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
