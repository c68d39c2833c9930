#pragma once
// tw::startThread: how every thread of ours starts. The new thread first gets an alternate signal
// stack of its own (so that a stack overflow there can still be handled and recorded), then runs
// the thread start hook (Dispatch.h; the crash kit's), takes its name and runs its body.
// ensureAlternateSignalStack gives the calling thread such a stack when it has none.
// Any thread.

#include <functional>
#include <string>
#include <thread>

namespace tw {

// `name` is cut to the 15 bytes a thread name holds.
std::thread startThread(std::string name, std::function<void()> body);

// Installs an alternate signal stack, with a guard page below it, unless the calling thread has
// one already; it is released when the thread ends. False when none could be made.
bool ensureAlternateSignalStack();

}  // namespace tw
