#pragma once
// The common second half of every fatal capture: freezes the other threads and appends the
// state of the whole process ("threads", "runtime", "dispatch_queue_names", "thread_names",
// "process_stats", "storage") to the crash file that the signal or exception path opened.
//
// Runs on the thread that passed the crash-once gate (or the exception queue's worker for a
// fatal exception); async-signal-safe; one run at a time (static thread table).

#include <sys/types.h>
#include <ucontext.h>

#include "platform/machine/Machine.h"

struct MVXFile;

struct MVXProcess {
  pid_t callingThread = 0;
  pid_t crashedThread = 0;
  const ucontext_t* userContext = nullptr;
  tw::machine::ThreadSet* threads = nullptr;
};

void MVXHandler(MVXFile* file, pid_t crashedThread, const ucontext_t* userContext);
void MVXHandlerAttemptImmediateDelivery();
bool MVXProcessInit(MVXProcess* process, pid_t crashedThread, const ucontext_t* userContext);
bool MVXProcessSuspendAllOtherThreads(MVXProcess* process);
bool MVXProcessResumeAllOtherThreads(MVXProcess* process);
void MVXProcessDestroy(MVXProcess* process);
bool MVXProcessDebuggerAttached();
bool MVXProcessGetThreadState(const MVXProcess* process, int index, mcontext_t* out);
bool MVXProcessRecordAllThreads(const MVXProcess* process, MVXFile* file);
bool MVXProcessRecordRuntimeInfo(const MVXProcess* process, MVXFile* file);
bool MVXProcessRecordDispatchQueueNames(const MVXProcess* process, MVXFile* file);
bool MVXProcessRecordThreadNames(const MVXProcess* process, MVXFile* file);
bool MVXProcessRecordStats(MVXFile* file);
bool MVXHostRecordStorage(MVXFile* file);
