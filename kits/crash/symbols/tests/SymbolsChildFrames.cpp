#include "kits/crash/symbols/tests/SymbolsChildFrames.h"

#include <unistd.h>

#include <atomic>

// Two hand-written functions back to back, each with unwind information: the first faults on
// its first instruction; the second calls it as its last instruction, so its return address is
// the first byte of symbols_child_after_noreturn.
asm(R"(
  .text
  .p2align 4
  .globl symbols_child_before_entry
  .type symbols_child_before_entry, @function
symbols_child_before_entry:
  .cfi_startproc
  nop
  nop
  nop
  ret
  .cfi_endproc
  .size symbols_child_before_entry, .-symbols_child_before_entry
  .globl symbols_child_fault_at_entry
  .type symbols_child_fault_at_entry, @function
symbols_child_fault_at_entry:
  .cfi_startproc
  movl $1, 0
  ret
  .cfi_endproc
  .size symbols_child_fault_at_entry, .-symbols_child_fault_at_entry
  .globl symbols_child_calls_noreturn
  .type symbols_child_calls_noreturn, @function
symbols_child_calls_noreturn:
  .cfi_startproc
  call symbols_child_fault_at_entry
  .cfi_endproc
  .size symbols_child_calls_noreturn, .-symbols_child_calls_noreturn
  .globl symbols_child_after_noreturn
  .type symbols_child_after_noreturn, @function
symbols_child_after_noreturn:
  .cfi_startproc
  ret
  .cfi_endproc
  .size symbols_child_after_noreturn, .-symbols_child_after_noreturn
)");

namespace {

volatile int* volatile gNull = nullptr;
volatile int gSink = 0;

// Internal: only the library's full symbol table names it.
__attribute__((noinline)) int innerStatic(int mode) {
  if (mode == 1) symbols_child_calls_noreturn();
  *gNull = mode;
  return gSink + 1;  // keeps the caller's frame: no tail call
}

}  // namespace

// GCC would otherwise clone the recursion under a name of its own ("[clone .isra.0]").
#if defined(__clang__)
#define SYMBOLS_CHILD_NOCLONE
#else
#define SYMBOLS_CHILD_NOCLONE __attribute__((noclone))
#endif

namespace symbols_child {

struct Walker {
  __attribute__((noinline)) SYMBOLS_CHILD_NOCLONE int step(int depth, int mode) {
    const int r = depth == 0 ? innerStatic(mode) : step(depth - 1, mode);
    return r + gSink;
  }
};

template <class T>
__attribute__((noinline)) T twice(T value, int mode) {
  Walker walker;
  return static_cast<T>(walker.step(3, mode)) + value + static_cast<T>(gSink);
}

__attribute__((noinline)) int exportedLeaf(int value) { return twice<long>(value, 0) > 0; }

template <int N>
__attribute__((noinline)) void parkDeep(volatile int* ready) {
  if constexpr (N == 0) {
    __atomic_fetch_add(ready, 1, __ATOMIC_SEQ_CST);
    for (;;) pause();
  } else {
    parkDeep<N - 1>(ready);
    gSink = gSink + 1;
  }
}

}  // namespace symbols_child

extern "C" int symbols_child_run(int mode) {
  return static_cast<int>(symbols_child::twice<long>(1, mode)) + gSink;
}

extern "C" void symbols_child_park(volatile int* ready) {
  symbols_child::parkDeep<4>(ready);
  gSink = gSink + 1;
}
