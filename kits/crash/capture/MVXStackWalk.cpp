#include "kits/crash/capture/MVXStackWalk.h"

#include "kits/crash/capture/MVXUtilities.h"

bool MVXStackWalkInit(MVXStackWalkCursor* cursor, const mcontext_t* context) {
  if (cursor == nullptr || context == nullptr) return false;
  *cursor = MVXStackWalkCursor{};
  cursor->pc = static_cast<std::uintptr_t>(context->gregs[REG_RIP]);
  cursor->fp = static_cast<std::uintptr_t>(context->gregs[REG_RBP]);
  cursor->sp = static_cast<std::uintptr_t>(context->gregs[REG_RSP]);
  return cursor->pc != 0;
}

bool MVXStackWalkStep(MVXStackWalkCursor* cursor) {
  if (cursor == nullptr || cursor->frames >= kMVXStackWalkMaxFrames) return false;
  if (!cursor->started) {
    cursor->started = true;
    cursor->frames = 1;
    cursor->repeatCount = 1;
    return cursor->pc != 0;
  }
  if (cursor->fp < 4096 || (cursor->fp & 7) != 0) return false;
  std::uintptr_t frame[2];  // saved frame pointer, return address
  if (!MVXReadMemory(reinterpret_cast<const void*>(cursor->fp), frame, sizeof frame)) return false;
  if (frame[1] == 0) return false;
  const std::uintptr_t previousPc = cursor->pc;
  cursor->pc = frame[1];
  cursor->sp = cursor->fp + 16;
  // Stacks grow down: a caller's frame lies above its callee's, or the chain ends here.
  cursor->fp = frame[0] > cursor->fp ? frame[0] : 0;
  cursor->repeatCount = cursor->pc == previousPc ? cursor->repeatCount + 1 : 1;
  ++cursor->frames;
  return true;
}
