#pragma once
// The main thread (the process's initial thread, the one that runs main() and the main queue),
// and the check that a main-thread-only entry point is called there. Any thread.

namespace tw {

bool isMainThread();

namespace detail {
// Logs `what` as called off the main thread, then aborts. Returns at once on the main thread.
void checkMainThread(const char* what) noexcept;
}  // namespace detail

}  // namespace tw

// "Main thread only", checked: first thing in the public entry points of a class that is main
// thread only. Debug and sanitizer builds (no NDEBUG) log what was called off the main thread
// and abort, so a stray call fails loudly where it is made instead of racing silently; release
// builds check nothing.
#ifndef NDEBUG
#define TW_MAIN_THREAD_ONLY(what) ::tw::detail::checkMainThread(what)
#else
#define TW_MAIN_THREAD_ONLY(what) static_cast<void>(0)
#endif
