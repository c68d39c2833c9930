#include "kits/crash/capture/MVXHandler.h"

#include <cstring>

#include "kits/crash/capture/MVXCrashContext.h"
#include "kits/crash/capture/MVXFile.h"
#include "kits/crash/capture/MVXQueueNames.h"
#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXStackWalk.h"
#include "kits/crash/capture/MVXUtilities.h"

namespace {

tw::machine::ThreadSet gThreads;

// The calling thread's own registers, taken from this live frame.
__attribute__((noinline)) void liveContext(mcontext_t* out) {
  ucontext_t here;
  getcontext(&here);
  *out = here.uc_mcontext;
}

// The crashed thread starts from the full signal context.
MVXMachineContext64 fromUserContext(const ucontext_t* userContext) {
  MVXMachineContext64 registers;
  MVXMachineContextFromUContext(userContext, &registers);
  return registers;
}

void writeRegisters(MVXFile* file, const mcontext_t& m) {
  static const struct {
    const char* name;
    int reg;
  } kRegisters[] = {{"rax", REG_RAX}, {"rbx", REG_RBX},   {"rcx", REG_RCX}, {"rdx", REG_RDX},
                    {"rdi", REG_RDI}, {"rsi", REG_RSI},   {"rbp", REG_RBP}, {"rsp", REG_RSP},
                    {"r8", REG_R8},   {"r9", REG_R9},     {"r10", REG_R10}, {"r11", REG_R11},
                    {"r12", REG_R12}, {"r13", REG_R13},   {"r14", REG_R14}, {"r15", REG_R15},
                    {"rip", REG_RIP}, {"rflags", REG_EFL}};
  MVXFileWriteHashKey(file, "registers");
  MVXFileWriteHashStart(file);
  for (const auto& r : kRegisters) {
    MVXFileWriteHashEntryUint64(file, r.name, static_cast<std::uint64_t>(m.gregs[r.reg]));
  }
  // cs, gs and fs share one word, 16 bits each.
  const auto segments = static_cast<std::uint64_t>(m.gregs[REG_CSGSFS]);
  MVXFileWriteHashEntryUint64(file, "cs", segments & 0xffff);
  MVXFileWriteHashEntryUint64(file, "fs", (segments >> 32) & 0xffff);
  MVXFileWriteHashEntryUint64(file, "gs", (segments >> 16) & 0xffff);
  MVXFileWriteHashEnd(file);
}

}  // namespace

bool MVXProcessDebuggerAttached() { return tw::machine::tracerAttached(); }

bool MVXProcessInit(MVXProcess* process, pid_t crashedThread, const ucontext_t* userContext) {
  if (process == nullptr) return false;
  process->callingThread = tw::machine::currentThreadId();
  process->crashedThread = crashedThread;
  process->userContext = userContext;
  process->threads = &gThreads;
  gThreads.count = 0;
  return true;
}

bool MVXProcessSuspendAllOtherThreads(MVXProcess* process) {
  if (!tw::machine::suspendOtherThreads(process->threads)) {
    if (process->threads->count == 0) {
      MVXSDKLOG(3, "WARN  [%s:%d] Error: unable to get task threads\n");
    }
    return false;
  }
  return true;
}

bool MVXProcessResumeAllOtherThreads(MVXProcess* process) {
  tw::machine::resumeThreads(process->threads);
  return true;
}

void MVXProcessDestroy(MVXProcess*) {}

bool MVXProcessGetThreadState(const MVXProcess* process, int index, mcontext_t* out) {
  if (out == nullptr) {
    MVXSDKLOG(4, "ERROR [%s:%d] invalid context supplied");
    return false;
  }
  const pid_t tid = process->threads->tids[index];
  if (tid == process->crashedThread && process->userContext != nullptr) {
    *out = process->userContext->uc_mcontext;
    return true;
  }
  if (tid == process->callingThread) {
    MVXSDKLOG(3, "WARN  [%s:%d] Faking current thread\n");
    liveContext(out);
    return true;
  }
  if (!process->threads->captured[index]) {
    MVXSDKLOG(4, "ERROR [%s:%d] failed to get thread state\n");
    std::memset(out, 0, sizeof *out);
    return false;
  }
  *out = process->threads->contexts[index];
  return true;
}

bool MVXProcessRecordAllThreads(const MVXProcess* process, MVXFile* file) {
  MVXWritableContext* rw = gMVXContext.writable;
  MVXFileWriteSectionStart(file, "threads");
  MVXFileWriteArrayStart(file);
  bool all = true;
  for (int i = 0; i < process->threads->count; ++i) {
    MVXSDKLOG(2, "INFO  [%s:%d] recording thread %d data\n", i);
    const pid_t tid = process->threads->tids[i];
    mcontext_t context;
    // One unreadable thread is written with empty registers and no frames; the others follow.
    const bool haveState = MVXProcessGetThreadState(process, i, &context);
    if (!haveState) {
      MVXSDKLOG(4, "ERROR [%s:%d] unable to get thread state");
      all = false;
    }
    MVXFileWriteHashStart(file);
    writeRegisters(file, context);
    MVXFileWriteHashKey(file, "stacktrace");
    MVXFileWriteArrayStart(file);
    const int threshold = rw != nullptr ? rw->logThreshold.load() : 1;
    // The walk's per-frame traces would bury the report's own lines and run into the log's cap.
    if (rw != nullptr && threshold < 2) rw->logThreshold.store(2);
    std::uintptr_t repeatedPc = 0;
    std::uint64_t repeatCount = 0;
    bool cut = false;
    // About 4.7 KB: one walk at a time, on the signal stack.
    MVXUnwindContext walk;
    const bool started =
        haveState && (tid == process->crashedThread && process->userContext != nullptr
                          ? MVXUnwindInit(&walk, fromUserContext(process->userContext))
                          : MVXStackWalkInit(&walk, &context));
    if (haveState && !started) {
      MVXSDKLOG(3, "WARN  [%s:%d] unable to init unwind context\n");
    } else if (started) {
      while (MVXUnwindNextFrame(&walk)) {
        const std::uintptr_t pc = MVXUnwindGetPC(&walk);
        // The unwinder counts repeats after the first sighting; the record counts sightings.
        const std::uint64_t sightings = std::uint64_t{MVXUnwindGetRepeatCount(&walk)} + 1;
        if (!cut && sightings >= 10) {
          MVXSDKLOG(3, "WARN  [%s:%d] Possible infinite recursion - suppressing logging\n");
          if (rw != nullptr) rw->logThreshold.store(threshold > 3 ? threshold : 3);
          cut = true;
          repeatedPc = pc;
          repeatCount = sightings;
          continue;
        }
        if (cut && pc == repeatedPc) {
          repeatCount = sightings;
          continue;
        }
        MVXFileWriteArrayEntryUint64(file, pc);
      }
    }
    MVXFileWriteArrayEnd(file);
    if (process->threads->tids[i] == process->crashedThread) {
      MVXFileWriteHashEntryBoolean(file, "crashed", true);
    }
    if (cut) {
      MVXFileWriteHashEntryUint64(file, "repeated_pc", repeatedPc);
      MVXFileWriteHashEntryUint64(file, "repeat_count", repeatCount);
    }
    if (rw != nullptr) rw->logThreshold.store(threshold);
    MVXFileWriteHashEnd(file);
  }
  MVXFileWriteArrayEnd(file);
  MVXFileWriteSectionEnd(file);
  MVXSDKLOG(2, "INFO  [%s:%d] completed recording all thread data\n");
  return all;
}

bool MVXProcessRecordRuntimeInfo(const MVXProcess*, MVXFile* file) {
  MVXFileWriteSectionStart(file, "runtime");
  MVXFileWriteHashStart(file);
  // No message-dispatch runtime on this platform: there is never a selector to report.
  MVXFileWriteHashEntryString(file, "objc_selector", "");
  MVXFileWriteHashKey(file, "crash_info_entries");
  MVXFileWriteArrayStart(file);
  const char* message = tw::machine::abortMessage();
  const char* verified = nullptr;
  if (message != nullptr) {
    MVXSDKLOG(1, "DEBUG [%s:%d] attempting to read crash info string\n");
    if (MVXReadString(message, &verified, 256)) {
      MVXFileWriteArrayEntryHexEncodedString(file, verified);
    } else {
      MVXSDKLOG(4, "ERROR [%s:%d] Failed to copy crash info string\n");
    }
  }
  MVXFileWriteArrayEnd(file);
  MVXFileWriteHashEnd(file);
  MVXFileWriteSectionEnd(file);
  return true;
}

bool MVXProcessRecordDispatchQueueNames(const MVXProcess* process, MVXFile* file) {
  MVXFileWriteSectionStart(file, "dispatch_queue_names");
  MVXFileWriteArrayStart(file);
  for (int i = 0; i < process->threads->count; ++i) {
    MVXFileWriteArrayEntryString(file, MVXQueueNameForThread(process->threads->tids[i]));
  }
  MVXFileWriteArrayEnd(file);
  MVXFileWriteSectionEnd(file);
  return true;
}

bool MVXProcessRecordThreadNames(const MVXProcess* process, MVXFile* file) {
  MVXFileWriteSectionStart(file, "thread_names");
  MVXFileWriteArrayStart(file);
  for (int i = 0; i < process->threads->count; ++i) {
    char name[65];
    if (!tw::machine::threadName(process->threads->tids[i], name, sizeof name)) name[0] = 0;
    MVXFileWriteArrayEntryString(file, name);
  }
  MVXFileWriteArrayEnd(file);
  MVXFileWriteSectionEnd(file);
  return true;
}

bool MVXProcessRecordStats(MVXFile* file) {
  tw::machine::ProcessStats stats;
  const bool ok = tw::machine::readProcessStats(&stats);
  if (!ok) MVXSDKLOG(3, "WARN  [%s:%d] Failed to get task info\n");
  MVXFileWriteSectionStart(file, "process_stats");
  MVXFileWriteHashStart(file);
  MVXFileWriteHashEntryUint64(file, "active", stats.activeBytes);
  MVXFileWriteHashEntryUint64(file, "inactive", stats.inactiveBytes);
  MVXFileWriteHashEntryUint64(file, "wired", stats.wiredBytes);
  MVXFileWriteHashEntryUint64(file, "freeMem", stats.freeBytes);
  MVXFileWriteHashEntryUint64(file, "free_mem", stats.freeBytes);
  MVXFileWriteHashEntryUint64(file, "virtual", stats.virtualBytes);
  MVXFileWriteHashEntryUint64(file, "resident", stats.residentBytes);
  MVXFileWriteHashEntryUint64(file, "user_time", stats.userMicros);
  MVXFileWriteHashEntryUint64(file, "sys_time", stats.systemMicros);
  MVXFileWriteHashEnd(file);
  MVXFileWriteSectionEnd(file);
  return ok;
}

bool MVXHostRecordStorage(MVXFile* file) {
  const char* path =
      gMVXContext.readonly != nullptr ? gMVXContext.readonly->host.cachesPath : nullptr;
  std::uint64_t freeBytes = 0, total = 0;
  const bool ok = tw::machine::readStorage(path, &freeBytes, &total);
  MVXFileWriteSectionStart(file, "storage");
  MVXFileWriteHashStart(file);
  if (ok) {
    MVXFileWriteHashEntryUint64(file, "free", freeBytes);
    MVXFileWriteHashEntryUint64(file, "total", total);
  }
  MVXFileWriteHashEnd(file);
  MVXFileWriteSectionEnd(file);
  return ok;
}

void MVXHandler(MVXFile* file, pid_t crashedThread, const ucontext_t* userContext) {
  MVXProcess process;
  MVXProcessInit(&process, crashedThread, userContext);
  MVXProcessSuspendAllOtherThreads(&process);
  MVXProcessRecordAllThreads(&process, file);
  MVXProcessRecordRuntimeInfo(&process, file);
  MVXProcessRecordDispatchQueueNames(&process, file);
  MVXProcessRecordThreadNames(&process, file);
  MVXProcessRecordStats(file);
  MVXHostRecordStorage(file);
  MVXProcessResumeAllOtherThreads(&process);
  MVXProcessDestroy(&process);
  MVXCrashCallbackTarget* target =
      gMVXContext.readonly != nullptr ? gMVXContext.readonly->crashCallbackTarget : nullptr;
  if (target != nullptr) {
    MVXSDKLOG(3, "WARN  [%s:%d] Performing syncrhonous crash callback - hold onto your butts\n");
    target->deliverCrashDelegateCallback();
  }
}

void MVXHandlerAttemptImmediateDelivery() {
  MVXImmediateDeliveryDelegate* delegate =
      gMVXContext.readonly != nullptr ? gMVXContext.readonly->immediateDelegate : nullptr;
  if (delegate != nullptr) delegate->potentiallySubmittableCrashOccurred();
}
