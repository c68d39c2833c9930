#pragma once
// The dispatch layer's hooks for the crash kit, each set once at start-up; any thread.
//   - The thread start hook runs first on every thread the dispatch layer starts (and every
//     thread tw::startThread starts), so the crash kit can give each an alternate signal stack.
//   - The queue thread hook runs first on a serial queue's own thread with the queue's label,
//     which stays valid while that thread lives, so a crash report can name the queue each
//     thread serves.

namespace tw {

// nullptr (the default) runs nothing.
void setThreadStartHook(void (*hook)());
void runThreadStartHook();

// nullptr (the default) runs nothing.
void setQueueThreadHook(void (*hook)(const char* label));

}  // namespace tw
