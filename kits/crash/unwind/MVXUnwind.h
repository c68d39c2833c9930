#pragma once
// The stack walker: one thread's registers and walk state, and the step that replaces them by the
// caller's registers. Per frame it tries the image's unwind tables (.eh_frame_hdr for ELF images,
// __unwind_info and then __eh_frame for Mach-O images) and falls back to the frame-pointer chain,
// with one stack scan for the first unwound frame. Crash-time code: no allocation, no locks, no
// stdio; memory is read through MVXUnwindReadMemory and images found through MVXUnwindFindImage.
//
// Owned by the one caller that walks with it; no state is shared between contexts.

#include <cstdint>

#include "kits/crash/unwind/MVXCompactUnwind.h"
#include "kits/crash/unwind/MVXUnwindContext.h"

inline constexpr uint32_t kMVXUnwindMaxFrames = 600000;

// Stack bytes already copied during one walk. The saved registers and return addresses of the
// frames above the one being unwound do not change while the walk runs, so one copy through the
// safe read serves the reads of several frames.
struct MVXUnwindReadCache {
  uintptr_t base;
  uint32_t size;
  uint8_t bytes[4096];
};

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
