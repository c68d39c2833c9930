#pragma once
// Walks a thread's stack by frame pointers from a register context; every read goes through the
// kernel-checked reader, so a broken chain ends the walk instead of faulting. The unwinder that
// reads the images' unwind tables replaces MVXStackWalkStep; callers see only the cursor.
//
// Plain data on the caller's stack; async-signal-safe; one cursor per walk.

#include <ucontext.h>

#include <cstdint>

constexpr std::uint64_t kMVXStackWalkMaxFrames = 600000;

struct MVXStackWalkCursor {
  std::uintptr_t pc = 0;
  std::uintptr_t fp = 0;
  std::uintptr_t sp = 0;
  std::uint64_t frames = 0;
  // Consecutive steps that produced the same pc, this one included.
  std::uint64_t repeatCount = 0;
  bool started = false;
};

bool MVXStackWalkInit(MVXStackWalkCursor* cursor, const mcontext_t* context);
// Advances to the next frame; the first step yields the context's own pc.
bool MVXStackWalkStep(MVXStackWalkCursor* cursor);
