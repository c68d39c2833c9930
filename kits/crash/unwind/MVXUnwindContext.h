#pragma once
// The register context of one thread being walked at crash time, and the three seams through which
// the unwinder reaches the rest of the crash kit: the safe memory read, the image look-up and the
// kit log. Everything here runs inside a signal handler or while the other threads are suspended:
// no allocation, no locks, no stdio.
//
// The seams are process-wide function pointers, set once before the handlers are installed (or
// left at their defaults) and only read afterwards. An MVXUnwindContext belongs to the one caller
// that walks with it (on its stack or in the crash allocator). x86_64 only.

#include <cstddef>
#include <cstdint>

// The general registers of an x86_64 thread, in the order the crash records keep them.
struct MVXThreadState64 {
  uint64_t rax, rbx, rcx, rdx, rdi, rsi, rbp, rsp;
  uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
  uint64_t rip, rflags, cs, fs, gs;
};

static_assert(sizeof(MVXThreadState64) == std::size_t{21} * 8);

struct MVXExceptionState64 {
  uint16_t trapno;
  uint16_t cpu;
  uint32_t err;
  uint64_t faultvaddr;
};

// The FXSAVE area; copied along, never read by the unwinder.
struct MVXFloatState64 {
  alignas(16) uint8_t bytes[512];
};

struct MVXMachineContext64 {
  MVXExceptionState64 es;
  MVXThreadState64 ss;
  MVXFloatState64 fs;
};

// Fills a machine context from the ucontext_t a signal handler receives (passed as void* so that
// callers need not include <ucontext.h>). False for a null argument.
bool MVXMachineContextFromUContext(const void* ucontext, MVXMachineContext64* out);

// The registers of the calling function itself, at the instruction behind this inlined capture:
// what a thread that walks its own stack starts from. Inlined so that the captured frame stays
// alive while the caller walks; its PC is exact. Floating-point and exception state are zero.
__attribute__((always_inline)) inline bool MVXMachineContextCaptureCurrent(
    MVXMachineContext64* out) {
  if (!out) return false;
  __builtin_memset(out, 0, sizeof(*out));
  asm volatile(
      "movq %%rax, 0(%0)\n\t"
      "movq %%rbx, 8(%0)\n\t"
      "movq %%rcx, 16(%0)\n\t"
      "movq %%rdx, 24(%0)\n\t"
      "movq %%rdi, 32(%0)\n\t"
      "movq %%rsi, 40(%0)\n\t"
      "movq %%rbp, 48(%0)\n\t"
      "movq %%rsp, 56(%0)\n\t"
      "movq %%r8, 64(%0)\n\t"
      "movq %%r9, 72(%0)\n\t"
      "movq %%r10, 80(%0)\n\t"
      "movq %%r11, 88(%0)\n\t"
      "movq %%r12, 96(%0)\n\t"
      "movq %%r13, 104(%0)\n\t"
      "movq %%r14, 112(%0)\n\t"
      "movq %%r15, 120(%0)\n\t"
      "leaq 1f(%%rip), %%rax\n\t"
      "movq %%rax, 128(%0)\n\t"
      "1:\n\t"
      :
      : "r"(&out->ss)
      : "rax", "memory");
  return true;
}

// --- Seams ------------------------------------------------------------------------------------

// Copies len bytes at addr of this process into out; false when any byte is unreadable. Must be
// async-signal-safe.
using MVXUnwindReadMemoryFn = bool (*)(uintptr_t addr, void* out, size_t len);

// One binary image as the unwinder needs it. Addresses are where the bytes lie in this process.
struct MVXUnwindImage {
  uintptr_t start = 0;        // lowest mapped address of the image
  uintptr_t end = 0;          // one past the highest mapped address
  uintptr_t loadAddress = 0;  // ELF: where its first segment lies; Mach-O: its header
  uintptr_t ehFrameHdr = 0;   // ELF: the PT_GNU_EH_FRAME segment (.eh_frame_hdr), 0 when none
  uintptr_t unwindInfo = 0;   // Mach-O: __TEXT,__unwind_info, 0 when none
  uintptr_t ehFrame = 0;      // Mach-O: __TEXT,__eh_frame, 0 when none
};

// Finds the image whose mapped range holds address; false when none does. Must be
// async-signal-safe (no dl_iterate_phdr at crash time: it takes the loader's lock).
using MVXUnwindFindImageFn = bool (*)(uintptr_t address, MVXUnwindImage* image);

// Receives every unwinder message. The format starts with its level word and "[%s:%d] " (the
// writing function and line) and ends with a newline. Must be async-signal-safe.
using MVXUnwindLogFn = void (*)(const char* format, ...);

// Null restores the default. Defaults: process_vm_readv on our own pid; _dl_find_object for ELF
// images and tw::MachOImageList for Mach-O images laid out in memory; no log.
void MVXUnwindSetReadMemory(MVXUnwindReadMemoryFn fn);
void MVXUnwindSetFindImage(MVXUnwindFindImageFn fn);
void MVXUnwindSetLog(MVXUnwindLogFn fn);

// Reads stack memory; inside a walk through that walk's cache.
bool MVXUnwindReadMemory(uintptr_t addr, void* out, size_t len);
// Reads memory that is not the stack (the images' own pointers), past the walk's cache.
bool MVXUnwindReadMemoryUncached(uintptr_t addr, void* out, size_t len);
bool MVXUnwindFindImage(uintptr_t address, MVXUnwindImage* image);
bool MVXUnwindDefaultReadMemory(uintptr_t addr, void* out, size_t len);
bool MVXUnwindDefaultFindImage(uintptr_t address, MVXUnwindImage* image);

namespace tw::unwind_detail {
extern MVXUnwindLogFn gLog;
}

#define MVX_UNWIND_LOG(format, ...)                                                     \
  do {                                                                                  \
    if (::tw::unwind_detail::gLog)                                                      \
      ::tw::unwind_detail::gLog(format, __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__); \
  } while (0)

// Every address below one page counts as invalid throughout the unwinder.
inline bool MVXIsValidPointer(uintptr_t address) { return address >= 4096; }

// --- Register accessors ----------------------------------------------------------------------

uint64_t MVXThreadContextGetPC(const MVXMachineContext64* context);
bool MVXThreadContextSetPC(MVXMachineContext64* context, uint64_t value);
uint64_t MVXThreadContextGetStackPointer(const MVXMachineContext64* context);
bool MVXThreadContextSetStackPointer(MVXMachineContext64* context, uint64_t value);
uint64_t MVXThreadContextGetFramePointer(const MVXMachineContext64* context);
bool MVXThreadContextSetFramePointer(MVXMachineContext64* context, uint64_t value);

// DWARF register numbers 0..16 (16 is the return address, kept in rip).
inline constexpr uint64_t kMVXDwarfRegisterCount = 17;
uint64_t MVXDwarfUnwindGetRegisterValue(const MVXThreadState64* state, uint64_t number);
bool MVXDwarfUnwindSetRegisterValue(MVXThreadState64* state, uint64_t number, uint64_t value);
