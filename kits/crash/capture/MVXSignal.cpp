#include "kits/crash/capture/MVXSignal.h"

#include <errno.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "kits/crash/capture/MVXCrashContext.h"
#include "kits/crash/capture/MVXHandler.h"
#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXUtilities.h"
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

void MVXSignalSafeRemoveHandlers(bool includingAbort) {
  const char* const function = __func__;  // the lambda below logs under this name
  MVXSignalEnumerateHandledSignals([&](int index, int number) {
    if (number == SIGABRT && !includingAbort) return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    if (sigaction(number, &action, nullptr) != 0) {
      MVXSDKLOG_IN(function, 3, "WARN  [%s:%d] Unable to set default handler for %d (errno %d)\n",
                   index, errno);
    }
  });
}

bool MVXSignalSafeInstallPreexistingHandlers(MVXSignalContext* signal) {
  MVXSignalSafeRemoveHandlers(true);
  if (signal == nullptr) return false;
  bool ok = true;
  if (signal->hasPreviousStack && sigaltstack(&signal->previousStack, nullptr) != 0) {
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to setup stack (errno %d)\n", errno);
    ok = false;
  }
  const char* const function = __func__;  // the lambda below logs under this name
  MVXSignalEnumerateHandledSignals([&](int index, int number) {
    const struct sigaction& saved = signal->previous[index];
    if (saved.sa_handler == nullptr) return;
    if (sigaction(number, &saved, nullptr) != 0) {
      MVXSDKLOG_IN(function, 3, "WARN  [%s:%d] Unable to install handler for %d (errno %d)\n",
                   index, errno);
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
