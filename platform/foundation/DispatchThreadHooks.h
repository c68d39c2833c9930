#pragma once
// A hook of the dispatch layer for the crash kit: run first on a serial queue's own thread with
// the queue's label, which stays valid while that thread lives, so a crash report can name the
// queue each thread serves. Set once at load time; any thread.

namespace tw {

// nullptr (the default) runs nothing.
void setQueueThreadHook(void (*hook)(const char* label));

}  // namespace tw
