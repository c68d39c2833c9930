#pragma once
// Queue names for the "dispatch_queue_names" record: which serial dispatch queue each thread
// serves. The dispatch layer hands every serial queue's thread its label when the thread starts;
// the label is copied into a fixed table in static storage, so the crash handler looks a thread
// up without allocating or locking. Threads of the shared pool serve many queues and have no
// entry; the main thread is the main queue's.
//
// Registration runs on the registering thread (ordinary code) and its slot is freed when that
// thread ends; look-ups are async-signal-safe and run on any thread.

#include <sys/types.h>

constexpr int kMVXQueueNameSlots = 256;
constexpr int kMVXQueueNameLength = 96;

// Records the calling thread as serving the queue `label` (cut to the slot's length).
void MVXQueueNameRegisterCurrentThread(const char* label);
// Signal-safe: claims a free slot for `tid` serving `label`; the slot's number, or -1 when all
// are taken. The slot stays the thread's until MVXQueueNameReleaseSlot.
int MVXQueueNameClaimSlot(pid_t tid, const char* label);
void MVXQueueNameReleaseSlot(int slot);
// Signal-safe: the label of the queue `tid` serves, or "" when none is known.
const char* MVXQueueNameForThread(pid_t tid);
