#pragma once
// Signal capture: the fatal signals' handler writes "signal.mvxrecord" and the crash sections,
// then hands the signal back to whatever handled it before the kit. It runs on an alternate
// signal stack, so a thread whose own stack is exhausted is still recorded: the initialising
// thread gets the context's stack, every other thread the kits or the application start takes
// one through tw::crash::installThreadAlternateStack().
//
// Installed once by MVXContextInitialize; the handler runs on the faulting thread. The handler and
// what it calls are crash-time code (MVXSignal.cpp); installing and checking the handlers and the
// threads' stacks are set-up (MVXSignalSetUp.cpp).

#include <signal.h>

#include "kits/crash/capture/MVXCrashContext.h"

constexpr int kMVXHandledSignals[kMVXSignalCount] = {SIGABRT, SIGBUS, SIGFPE, SIGILL,
                                                     SIGSEGV, SIGSYS, SIGTRAP};

void MVXSignalInitialize(MVXSignalContext* signal);
bool MVXSignalInstallAlternateStack(MVXSignalContext* signal, void* stack, std::size_t size);
void MVXSignalHandler(int number, siginfo_t* info, void* userContext);
void MVXSignalSafeRemoveHandlers(bool includingAbort);
bool MVXSignalSafeInstallPreexistingHandlers(MVXSignalContext* signal);
template <typename Fn>
void MVXSignalEnumerateHandledSignals(Fn&& fn) {
  for (int i = 0; i < kMVXSignalCount; ++i) fn(i, kMVXHandledSignals[i]);
}
// Warns on standard error about every handled signal whose handler is no longer the kit's.
void MVXSignalCheckHandlers();
const char* MVXSignalNameForSignal(int number);
const char* MVXSignalCodeNameForSignal(int number);

namespace tw::crash {
// Gives the calling thread an alternate signal stack of its own (mapped with a guard page) unless
// it has one. Ordinary code; call at the start of a thread.
bool installThreadAlternateStack();
}  // namespace tw::crash
