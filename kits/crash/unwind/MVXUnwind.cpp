#include "kits/crash/unwind/MVXUnwind.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "kits/crash/unwind/MVXDwarfUnwind.h"
#include "kits/platform/macho/MVXMachO.h"
#include "kits/platform/macho/MachOImageList.h"

namespace tw::unwind_detail {
MVXUnwindLogFn gLog = nullptr;
}  // namespace tw::unwind_detail

namespace {
MVXUnwindReadMemoryFn gReadMemory = &MVXUnwindDefaultReadMemory;
MVXUnwindFindImageFn gFindImage = &MVXUnwindDefaultFindImage;
}  // namespace

void MVXUnwindSetReadMemory(MVXUnwindReadMemoryFn fn) {
  gReadMemory = fn ? fn : &MVXUnwindDefaultReadMemory;
}
void MVXUnwindSetFindImage(MVXUnwindFindImageFn fn) {
  gFindImage = fn ? fn : &MVXUnwindDefaultFindImage;
}
void MVXUnwindSetLog(MVXUnwindLogFn fn) { tw::unwind_detail::gLog = fn; }

namespace {
// The cache of the walk that runs on this thread; initial-exec so that reaching it never calls
// into the loader inside a signal handler.
thread_local __attribute__((tls_model("initial-exec"))) MVXUnwindReadCache* tActiveCache = nullptr;

// Stack ranges of this thread known to be readable: its own stack, then its alternate signal
// stack. Written at set-up by the thread itself, read by its walks.
struct StackRange {
  uintptr_t low;
  uintptr_t high;
};
thread_local __attribute__((tls_model("initial-exec"))) StackRange tStackRanges[2] = {};

// A recorded range may still hold pages that are not mapped (the main thread's stack grows on
// demand, and a range may be recorded wrongly), so the part from the read's page up to the range's
// end is proven mapped once per walk before plain loads touch it.
bool readRecordedStack(uintptr_t* mappedLow, uintptr_t* mappedHigh, uintptr_t addr, void* out,
                       size_t len) {
  if (addr >= *mappedLow && addr + len <= *mappedHigh) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): reads memory at an address it was given
    std::memcpy(out, reinterpret_cast<const void*>(addr), len);
    return true;
  }
  for (const StackRange& range : tStackRanges) {
    if (addr < range.low || addr + len > range.high) continue;
    const uintptr_t page = addr & ~uintptr_t{4095};
    if (syscall(SYS_msync, page, range.high - page, MS_ASYNC) != 0) return false;
    *mappedLow = page;
    *mappedHigh = range.high;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): reads memory at an address it was given
    std::memcpy(out, reinterpret_cast<const void*>(addr), len);
    return true;
  }
  return false;
}

bool readThroughCache(MVXUnwindReadCache* cache, uintptr_t addr, void* out, size_t len) {
  if (cache->size && addr >= cache->base && addr - cache->base + len <= cache->size) {
    std::memcpy(out, cache->bytes + (addr - cache->base), len);
    return true;
  }
  // Copy up to the end of the page: a page is mapped or not as a whole, so the window never runs
  // into a neighbouring unmapped one.
  const size_t window = 4096 - (addr & 4095);
  if (window < len || !gReadMemory(addr, cache->bytes, window)) {
    cache->size = 0;
    return gReadMemory(addr, out, len);
  }
  cache->base = addr;
  cache->size = static_cast<uint32_t>(window);
  std::memcpy(out, cache->bytes, len);
  return true;
}
}  // namespace

void MVXUnwindRecordStackRange(uintptr_t low, uintptr_t high) {
  tStackRanges[0] = low < high ? StackRange{low, high} : StackRange{};
}

void MVXUnwindRecordAlternateStackRange(uintptr_t low, uintptr_t high) {
  tStackRanges[1] = low < high ? StackRange{low, high} : StackRange{};
}

bool MVXUnwindReadMemoryUncached(uintptr_t addr, void* out, size_t len) {
  if (!MVXIsValidPointer(addr) || !out) return false;
  return gReadMemory(addr, out, len);
}

bool MVXUnwindReadMemory(uintptr_t addr, void* out, size_t len) {
  if (!MVXIsValidPointer(addr) || !out) return false;
  if (addr + len < addr) return false;
  MVXUnwindReadCache* cache = tActiveCache;
  if (gReadMemory == &MVXUnwindDefaultReadMemory) {
    // Outside a walk the mapping is proven again for every read.
    uintptr_t low = 0, high = 0;
    if (readRecordedStack(cache ? &cache->mappedLow : &low, cache ? &cache->mappedHigh : &high,
                          addr, out, len)) {
      return true;
    }
  }
  if (cache && len <= 64) return readThroughCache(cache, addr, out, len);
  return gReadMemory(addr, out, len);
}

bool MVXUnwindFindImage(uintptr_t address, MVXUnwindImage* image) {
  if (!MVXIsValidPointer(address) || !image) return false;
  return gFindImage(address, image);
}

namespace {
// Our pid, kept so that each read costs one system call (MVXUnwindSetUp.cpp keeps it current).
std::atomic<pid_t> gPid{0};
}  // namespace

void MVXUnwindSetProcessId(pid_t pid) { gPid.store(pid, std::memory_order_relaxed); }

// The kernel copies, so an unmapped or protected address fails the read instead of faulting.
bool MVXUnwindDefaultReadMemory(uintptr_t addr, void* out, size_t len) {
  iovec local{out, len};
  // NOLINTNEXTLINE(performance-no-int-to-ptr): reads memory at an address it was given
  iovec remote{reinterpret_cast<void*>(addr), len};
  pid_t pid = gPid.load(std::memory_order_relaxed);
  if (pid == 0) pid = getpid();
  return process_vm_readv(pid, &local, 1, &remote, 1, 0) == static_cast<ssize_t>(len);
}

bool MVXUnwindDefaultFindImage(uintptr_t address, MVXUnwindImage* image) {
  dl_find_object found;
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the loader looks addresses up as pointers
  if (_dl_find_object(reinterpret_cast<void*>(address), &found) != 0) {
    tw::MachOImage macho;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the loader looks addresses up as pointers
    if (!tw::MachOImageList::imageContaining(reinterpret_cast<const void*>(address), &macho)) {
      return false;
    }
    *image = MVXUnwindImage{};
    image->start = image->loadAddress = reinterpret_cast<uintptr_t>(macho.header);
    image->end = image->start + macho.size;
    MVXMachOSliceRef slice = MVXMachOSliceWithHeader(macho.header);
    MVXMachOSliceGetUnwindInformation(&slice, &image->ehFrame, &image->unwindInfo);
    return true;
  }
  *image = MVXUnwindImage{};
  image->start = reinterpret_cast<uintptr_t>(found.dlfo_map_start);
  image->end = reinterpret_cast<uintptr_t>(found.dlfo_map_end);
  image->loadAddress = image->start;
  image->ehFrameHdr = reinterpret_cast<uintptr_t>(found.dlfo_eh_frame);
  return true;
}

bool MVXMachineContextFromUContext(const void* ucontext, MVXMachineContext64* out) {
  if (!ucontext || !out) return false;
  const auto* uc = static_cast<const ucontext_t*>(ucontext);
  const greg_t* g = uc->uc_mcontext.gregs;
  std::memset(out, 0, sizeof(*out));
  MVXThreadState64& s = out->ss;
  s.rax = g[REG_RAX];
  s.rbx = g[REG_RBX];
  s.rcx = g[REG_RCX];
  s.rdx = g[REG_RDX];
  s.rdi = g[REG_RDI];
  s.rsi = g[REG_RSI];
  s.rbp = g[REG_RBP];
  s.rsp = g[REG_RSP];
  s.r8 = g[REG_R8];
  s.r9 = g[REG_R9];
  s.r10 = g[REG_R10];
  s.r11 = g[REG_R11];
  s.r12 = g[REG_R12];
  s.r13 = g[REG_R13];
  s.r14 = g[REG_R14];
  s.r15 = g[REG_R15];
  s.rip = g[REG_RIP];
  s.rflags = g[REG_EFL];
  const uint64_t segments = static_cast<uint64_t>(g[REG_CSGSFS]);
  s.cs = segments & 0xFFFF;
  s.gs = (segments >> 16) & 0xFFFF;
  s.fs = (segments >> 32) & 0xFFFF;
  out->es.trapno = static_cast<uint16_t>(g[REG_TRAPNO]);
  out->es.err = static_cast<uint32_t>(g[REG_ERR]);
  out->es.faultvaddr = static_cast<uint64_t>(g[REG_CR2]);
  if (uc->uc_mcontext.fpregs) std::memcpy(out->fs.bytes, uc->uc_mcontext.fpregs, 512);
  return true;
}

// --- Register accessors ----------------------------------------------------------------------

uint64_t MVXThreadContextGetPC(const MVXMachineContext64* context) {
  return context ? context->ss.rip : 0;
}
bool MVXThreadContextSetPC(MVXMachineContext64* context, uint64_t value) {
  if (!context) return false;
  context->ss.rip = value;
  return true;
}
uint64_t MVXThreadContextGetStackPointer(const MVXMachineContext64* context) {
  return context ? context->ss.rsp : 0;
}
bool MVXThreadContextSetStackPointer(MVXMachineContext64* context, uint64_t value) {
  if (!context) return false;
  context->ss.rsp = value;
  return true;
}
uint64_t MVXThreadContextGetFramePointer(const MVXMachineContext64* context) {
  return MVXIsValidPointer(reinterpret_cast<uintptr_t>(context)) ? context->ss.rbp : 0;
}
bool MVXThreadContextSetFramePointer(MVXMachineContext64* context, uint64_t value) {
  if (!MVXIsValidPointer(reinterpret_cast<uintptr_t>(context))) return false;
  context->ss.rbp = value;
  return true;
}

namespace {
uint64_t* registerSlot(MVXThreadState64* s, uint64_t number) {
  switch (number) {
    case 0:
      return &s->rax;
    case 1:
      return &s->rdx;
    case 2:
      return &s->rcx;
    case 3:
      return &s->rbx;
    case 4:
      return &s->rsi;
    case 5:
      return &s->rdi;
    case 6:
      return &s->rbp;
    case 7:
      return &s->rsp;
    case 8:
      return &s->r8;
    case 9:
      return &s->r9;
    case 10:
      return &s->r10;
    case 11:
      return &s->r11;
    case 12:
      return &s->r12;
    case 13:
      return &s->r13;
    case 14:
      return &s->r14;
    case 15:
      return &s->r15;
    case 16:
      return &s->rip;
    default:
      return nullptr;
  }
}
}  // namespace

uint64_t MVXDwarfUnwindGetRegisterValue(const MVXThreadState64* state, uint64_t number) {
  uint64_t* slot = state ? registerSlot(const_cast<MVXThreadState64*>(state), number) : nullptr;
  if (!slot) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: Unrecognized get register number %llu\n",
                   (unsigned long long)number);
    return 0;
  }
  return *slot;
}

bool MVXDwarfUnwindSetRegisterValue(MVXThreadState64* state, uint64_t number, uint64_t value) {
  uint64_t* slot = state ? registerSlot(state, number) : nullptr;
  if (!slot) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Unrecognized set register number %llu\n",
                   (unsigned long long)number);
    return false;
  }
  *slot = value;
  return true;
}

// --- The walk --------------------------------------------------------------------------------

namespace {
bool validContext(const MVXUnwindContext* context) {
  return MVXIsValidPointer(reinterpret_cast<uintptr_t>(context));
}
}  // namespace

bool MVXUnwindInit(MVXUnwindContext* context, MVXMachineContext64 machineContext) {
  if (!context) return false;
  std::memset(context, 0, sizeof(*context));
  context->registers = machineContext;
  context->pcIsExact = true;
  return true;
}

uint64_t MVXUnwindGetPC(const MVXUnwindContext* context) {
  return validContext(context) ? MVXThreadContextGetPC(&context->registers) : 0;
}
uint64_t MVXUnwindGetStackPointer(const MVXUnwindContext* context) {
  return validContext(context) ? MVXThreadContextGetStackPointer(&context->registers) : 0;
}
uint32_t MVXUnwindGetRepeatCount(const MVXUnwindContext* context) {
  return validContext(context) ? context->repeatCount : 0;
}
bool MVXUnwindContextIsValid(const MVXUnwindContext* context) {
  return validContext(context) && MVXIsValidPointer(MVXUnwindGetPC(context)) &&
         MVXIsValidPointer(MVXUnwindGetStackPointer(context));
}

bool MVXUnwindAddressIsExecutable(uintptr_t address) {
  MVXUnwindImage image;
  return MVXUnwindFindImage(address, &image);
}

bool MVXUnwindFirstExecutableAddress(uintptr_t from, uintptr_t to, uintptr_t* out) {
  if (!out) return false;
  *out = 0;
  for (uintptr_t address = from;; address += 8) {
    if (MVXIsValidPointer(address)) {
      uint64_t word = 0;
      if (!MVXUnwindReadMemory(address, &word, sizeof(word))) return false;
      // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
      MVX_UNWIND_LOG("DEBUG [%s:%d] Checking address %p => %p\n", reinterpret_cast<void*>(address),
                     // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
                     reinterpret_cast<void*>(word));
      // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
      MVX_UNWIND_LOG("DEBUG [%s:%d] Checking for executable %p\n", reinterpret_cast<void*>(word));
      if (MVXUnwindAddressIsExecutable(word)) {
        *out = word;
        return true;
      }
    }
    if (address + 8 >= to || address + 8 < address) return false;
  }
}

bool MVXUnwindFramePointerStep(MVXMachineContext64* registers) {
  const uint64_t fp = MVXThreadContextGetFramePointer(registers);
  uint64_t frame[2];
  if (!MVXUnwindReadMemory(fp, frame, sizeof(frame))) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: failed to read memory at address %p\n",
                   // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
                   reinterpret_cast<void*>(fp));
    return false;
  }
  MVXThreadContextSetPC(registers, frame[1]);
  MVXThreadContextSetFramePointer(registers, frame[0]);
  MVXThreadContextSetStackPointer(registers, fp + 16);
  return true;
}

bool MVXUnwindWithFramePointer(MVXUnwindContext* context, bool tryStackScan) {
  if (!validContext(context)) return false;
  context->pcIsExact = false;
  if (tryStackScan) {
    MVX_UNWIND_LOG("INFO  [%s:%d] Attempting stack scan\n");
    uintptr_t found = 0;
    if (MVXUnwindFirstExecutableAddress(MVXThreadContextGetStackPointer(&context->registers),
                                        MVXThreadContextGetFramePointer(&context->registers),
                                        &found)) {
      MVXThreadContextSetPC(&context->registers, found);
      MVX_UNWIND_LOG("INFO  [%s:%d] Stack scan successful\n");
      return true;
    }
  }
  return MVXUnwindFramePointerStep(&context->registers);
}

namespace {

// The image's own tables: .eh_frame_hdr for ELF, __unwind_info (then __eh_frame) for Mach-O.
bool unwindWithTables(MVXUnwindContext* context, uintptr_t pc) {
  MVXUnwindImage image;
  if (!MVXUnwindFindImage(pc, &image)) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
    MVX_UNWIND_LOG("WARN  [%s:%d] Unable to find binary for %p\n", reinterpret_cast<void*>(pc));
    return false;
  }
  // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
  MVX_UNWIND_LOG("DEBUG [%s:%d] Binary image for %p at %p\n", reinterpret_cast<void*>(pc),
                 // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
                 reinterpret_cast<void*>(image.loadAddress));
  if (MVXIsValidPointer(image.ehFrameHdr)) {
    MVXUnwindRuleCacheEntry& entry = context->ruleCache[(pc ^ (pc >> 7)) % kMVXUnwindRuleCacheSize];
    if (entry.pc == pc && entry.ehFrameHdr == image.ehFrameHdr) {
      return MVXDwarfUnwindApplyState(&entry.rules, entry.signalFrame, context);
    }
    MVXDwarfCIEFDEPair pair;
    if (!MVXDwarfFindFDE(image.ehFrameHdr, pc, &pair, &context->cieCache)) {
      MVX_UNWIND_LOG("INFO  [%s:%d] No call-frame information for %p\n",
                     // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
                     reinterpret_cast<void*>(pc));
      return false;
    }
    MVXDwarfState rules;
    if (!MVXDwarfComputeStateForPC(&pair, pc, &rules)) return false;
    entry.pc = pc;
    entry.ehFrameHdr = image.ehFrameHdr;
    entry.signalFrame = pair.cie.signalFrame;
    entry.rules = rules;
    return MVXDwarfUnwindApplyState(&rules, pair.cie.signalFrame, context);
  }
  if (!MVXIsValidPointer(image.unwindInfo)) {
    MVX_UNWIND_LOG("INFO  [%s:%d] Binary image at %p has no unwind info\n",
                   // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
                   reinterpret_cast<void*>(image.loadAddress));
    return false;
  }
  if (!MVXCompactUnwindInit(&context->compactUnwind, image.unwindInfo, image.ehFrame,
                            image.loadAddress)) {
    MVX_UNWIND_LOG("ERROR [%s:%d] Unable to read unwind info\n");
    return false;
  }
  return MVXCompactUnwindLookupAndCompute(&context->compactUnwind, context);
}

bool failAdvance() {
  MVX_UNWIND_LOG("ERROR [%s:%d] Failed to advance to the next frame\n");
  return false;
}

}  // namespace

namespace {
bool nextFrame(MVXUnwindContext* context);

struct ActiveCache {
  explicit ActiveCache(MVXUnwindReadCache* cache) : previous(tActiveCache) { tActiveCache = cache; }
  ~ActiveCache() { tActiveCache = previous; }
  MVXUnwindReadCache* previous;
};
}  // namespace

bool MVXUnwindNextFrame(MVXUnwindContext* context) {
  if (!validContext(context)) return nextFrame(context);
  ActiveCache active(&context->readCache);
  return nextFrame(context);
}

namespace {
bool nextFrame(MVXUnwindContext* context) {
  if (!validContext(context)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: invalid inputs\n");
    return false;
  }
  MVXMachineContext64* registers = &context->registers;
  if (!MVXIsValidPointer(MVXThreadContextGetPC(registers)) ||
      !MVXIsValidPointer(MVXThreadContextGetStackPointer(registers))) {
    if (context->frameCount == 0) {
      MVX_UNWIND_LOG("WARN  [%s:%d] Cancelling unwind for thread with invalid PC/SP\n");
    } else {
      MVX_UNWIND_LOG("WARN  [%s:%d] Error: thread PC/SP invalid before unwind\n");
    }
    return false;
  }
  if (context->frameCount >= kMVXUnwindMaxFrames) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Exceeded maximum number of frames\n");
    return failAdvance();
  }
  if (context->frameCount != 0) {
    // A return address points behind its call; look up the call itself. A PC where the thread
    // stood (after a signal frame) is looked up as it is.
    if (!context->pcIsExact &&
        !MVXThreadContextSetPC(registers, MVXThreadContextGetPC(registers) - 1)) {
      MVX_UNWIND_LOG("ERROR [%s:%d] Unable to set PC\n");
      return failAdvance();
    }
    const uint64_t pc = MVXThreadContextGetPC(registers);
    if (!MVXIsValidPointer(pc)) {
      MVX_UNWIND_LOG("ERROR [%s:%d] PC is invalid\n");
      return failAdvance();
    }
    if (!unwindWithTables(context, pc)) {
      if (MVXThreadContextGetFramePointer(registers) == 0) {
        MVX_UNWIND_LOG("WARN  [%s:%d] FP is zero, aborting unwind\n");
        MVXThreadContextSetPC(registers, 0);
      } else if (!MVXUnwindWithFramePointer(context, context->frameCount == 1)) {
        MVX_UNWIND_LOG("ERROR [%s:%d] Unable to use frame pointer\n");
        return failAdvance();
      }
    }
  }
  const uint64_t pc = MVXThreadContextGetPC(registers);
  const uint64_t sp = MVXThreadContextGetStackPointer(registers);
  if (!MVXIsValidPointer(pc)) return false;
  if (!MVXIsValidPointer(sp)) {
    MVX_UNWIND_LOG("WARN  [%s:%d] Error: SP (%p) isn't a valid pointer\n",
                   // NOLINTNEXTLINE(performance-no-int-to-ptr): logs an address as a pointer
                   reinterpret_cast<void*>(sp));
    return false;
  }
  context->repeatCount = pc == context->lastPC ? context->repeatCount + 1 : 0;
  context->frameCount += 1;
  context->lastPC = pc;
  return true;
}
}  // namespace
