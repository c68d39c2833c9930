#pragma once
// The stack walker: one thread's registers and walk state, and the step that replaces them by the
// caller's registers. Per frame it tries the image's unwind tables (.eh_frame_hdr for ELF images,
// __unwind_info and then __eh_frame for Mach-O images) and falls back to the frame-pointer chain,
// with one stack scan for the first unwound frame. Crash-time code: no allocation, no locks, no
// stdio; memory is read through MVXUnwindReadMemory and images found through MVXUnwindFindImage.
//
// Owned by the one caller that walks with it; no state is shared between contexts. Recording a
// thread's stacks and keeping the pid current is set-up, in ordinary code (MVXUnwindSetUp.cpp).

#include <sys/types.h>

#include <cstdint>

#include "kits/crash/unwind/MVXCompactUnwind.h"
#include "kits/crash/unwind/MVXDwarfUnwind.h"
#include "kits/crash/unwind/MVXUnwindContext.h"

inline constexpr uint32_t kMVXUnwindMaxFrames = 600000;

// Stack bytes already copied during one walk. The saved registers and return addresses of the
// frames above the one being unwound do not change while the walk runs, so one copy through the
// safe read serves the reads of several frames.
struct MVXUnwindReadCache {
  uintptr_t base;
  uint32_t size;
  // The part of a recorded stack range proven mapped during this walk (empty while high is 0):
  // reads inside it are plain loads.
  uintptr_t mappedLow;
  uintptr_t mappedHigh;
  uint8_t bytes[4096];
};

// Records the calling thread's stack and its alternate signal stack (when one is installed) as
// memory that walks running on this thread may read with plain loads instead of kernel copies.
// Call at set-up on every thread that may walk (never inside a signal handler: the look-up of the
// main thread's stack reads /proc). False when the stack could not be found.
bool MVXUnwindRecordCurrentThreadStack();
// Records [low, high) as the calling thread's stack range instead; low == high forgets it. Within a
// walk a range is still proven mapped (one system call) before it is trusted, and only with the
// default memory reader; everything outside goes through the kernel copy.
void MVXUnwindRecordStackRange(uintptr_t low, uintptr_t high);
// The same for the alternate signal stack.
void MVXUnwindRecordAlternateStackRange(uintptr_t low, uintptr_t high);
// The process id the default memory reader reads from (0: asked of the kernel at each read).
// Kept current by the set-up, a forked child's too.
void MVXUnwindSetProcessId(pid_t pid);

// The rules found for one PC of an ELF image during one walk: recursion and loops put the same
// return address on the stack many times, and each repeat skips the table search, the CIE and
// the call-frame program.
struct MVXUnwindRuleCacheEntry {
  uint64_t pc;  // 0: empty
  uintptr_t ehFrameHdr;
  bool signalFrame;
  MVXDwarfState rules;
};
inline constexpr uint32_t kMVXUnwindRuleCacheSize = 8;

struct MVXUnwindContext {
  MVXMachineContext64 registers;
  uint32_t frameCount;
  MVXCompactUnwindContext compactUnwind;
  uint64_t lastPC;
  uint32_t repeatCount;
  // The PC is where the thread stood (its first frame, or the frame a signal interrupted), not a
  // return address: look it up as it is instead of one byte back.
  bool pcIsExact;
  MVXUnwindReadCache readCache;  // used only while MVXUnwindNextFrame runs
  MVXUnwindRuleCacheEntry ruleCache[kMVXUnwindRuleCacheSize];
  MVXDwarfCIECache cieCache;
};

// Clears the context and copies the machine context in; the first frame's PC counts as exact.
bool MVXUnwindInit(MVXUnwindContext* context, MVXMachineContext64 machineContext);
// Advances by one frame; the first call produces the thread's own PC. False ends the walk.
bool MVXUnwindNextFrame(MVXUnwindContext* context);
uint64_t MVXUnwindGetPC(const MVXUnwindContext* context);
uint64_t MVXUnwindGetStackPointer(const MVXUnwindContext* context);
uint32_t MVXUnwindGetRepeatCount(const MVXUnwindContext* context);
bool MVXUnwindContextIsValid(const MVXUnwindContext* context);
bool MVXUnwindAddressIsExecutable(uintptr_t address);
// Stack scan: the first 8-byte word in [from, to) (from itself always examined) that points into
// a known image.
bool MVXUnwindFirstExecutableAddress(uintptr_t from, uintptr_t to, uintptr_t* out);
bool MVXUnwindWithFramePointer(MVXUnwindContext* context, bool tryStackScan);
// Shared frame-pointer step: caller's rbp and return address from [rbp], rsp = rbp + 16.
bool MVXUnwindFramePointerStep(MVXMachineContext64* registers);
