// Whole walks through real code: against glibc's backtrace() and libgcc's _Unwind_Backtrace, out
// of a crashing qsort comparator through libc, across the signal frame, and the driver's own
// rules (stack scan, frame-pointer chain, repeat counts, limits) over a synthetic stack.

#include <dlfcn.h>
#include <execinfo.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unwind.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "kits/crash/unwind/MVXDwarfUnwind.h"
#include "kits/crash/unwind/MVXUnwind.h"
#include "kits/crash/unwind/tests/UnwindTestSupport.h"

using tw::test::CapturedUnwindLog;
using tw::test::walkInto;

namespace {

struct Walks {
  std::vector<uintptr_t> ours, glibc, libgcc;
};

_Unwind_Reason_Code collect(_Unwind_Context* context, void* out) {
  static_cast<std::vector<uintptr_t>*>(out)->push_back(_Unwind_GetIP(context));
  return _URC_NO_REASON;
}

// Under a sanitizer backtrace() is the runtime's wrapper, which stands as a frame of its own in
// front of the caller's: glibc's walk starts past it.
int sanitizerFrames(void* const* trace, int n) {
  int skipped = 0;
  Dl_info info;
  while (skipped < n && dladdr(trace[skipped], &info) && info.dli_fname &&
         (std::strstr(info.dli_fname, "libasan") || std::strstr(info.dli_fname, "libtsan") ||
          std::strstr(info.dli_fname, "libubsan")))
    ++skipped;
  return skipped;
}

__attribute__((noinline)) void walkHere(Walks* walks) {
  MVXMachineContext64 here;
  ASSERT_TRUE(MVXMachineContextCaptureCurrent(&here));
  uintptr_t frames[256];
  walks->ours.assign(frames, frames + walkInto(here, frames, 256));
  void* trace[256];
  const int n = backtrace(trace, 256);
  for (int i = sanitizerFrames(trace, n); i < n; ++i)
    walks->glibc.push_back(reinterpret_cast<uintptr_t>(trace[i]));
  _Unwind_Backtrace(&collect, &walks->libgcc);
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void level(int depth, Walks* walks) {
  if (depth == 0) {
    walkHere(walks);
  } else {
    level(depth - 1, walks);
  }
  asm volatile("" ::: "memory");
}

// --- a crash inside a qsort comparator ---------------------------------------------------------

sigjmp_buf gJump;
volatile uintptr_t gBadAddress = 16;
uintptr_t gFaultPC;
uintptr_t gFromContext[256];
size_t gFromContextCount;
uintptr_t gFromHandler[256];
size_t gFromHandlerCount;

void onSegv(int, siginfo_t*, void* ucontext) {
  MVXMachineContext64 interrupted;
  MVXMachineContextFromUContext(ucontext, &interrupted);
  gFaultPC = interrupted.ss.rip;
  gFromContextCount = walkInto(interrupted, gFromContext, 256);
  MVXMachineContext64 here;
  MVXMachineContextCaptureCurrent(&here);
  gFromHandlerCount = walkInto(here, gFromHandler, 256);
  siglongjmp(gJump, 1);
}

int crashingCompare(const void* a, const void* b) {
  const int left = *static_cast<const int*>(a);
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the test reaches an address on purpose
  if (left == 7) return *reinterpret_cast<volatile int*>(gBadAddress);
  return left - *static_cast<const int*>(b);
}

__attribute__((noinline)) void sortAndCrash(std::vector<uintptr_t>* callers) {
  void* trace[256];
  const int n = backtrace(trace, 256);
  for (int i = sanitizerFrames(trace, n) + 1; i < n; ++i)
    callers->push_back(reinterpret_cast<uintptr_t>(trace[i]));
  int values[64];
  for (int i = 0; i < 64; ++i) values[i] = (i * 37) % 64;
  qsort(values, 64, sizeof(int), &crashingCompare);
  asm volatile("" ::: "memory");
}

bool inLibc(uintptr_t pc) {
  Dl_info info;
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the test reaches an address on purpose
  return dladdr(reinterpret_cast<void*>(pc), &info) && info.dli_fname &&
         std::strstr(info.dli_fname, "libc.so") != nullptr;
}

}  // namespace

static void compareWithBacktraces();

TEST(UnwindWalk, MatchesBacktraceAndUnwindBacktraceFrameForFrame) {
  // Once with every stack read copied by the kernel, once with the recorded stack read in place.
  for (bool recorded : {false, true}) {
    SCOPED_TRACE(recorded ? "recorded stack" : "kernel copies");
    if (recorded) {
      ASSERT_TRUE(MVXUnwindRecordCurrentThreadStack());
    }
    compareWithBacktraces();
    MVXUnwindRecordStackRange(0, 0);
  }
}

static void compareWithBacktraces() {
  Walks walks;
  level(6, &walks);
  // libgcc reports the end of the stack as one more frame with PC 0 (glibc drops it too).
  if (!walks.libgcc.empty() && walks.libgcc.back() == 0) walks.libgcc.pop_back();
  // Frame 0 differs by construction (each stands at its own call inside walkHere); from the
  // first caller on the three walks agree to the end of the stack.
  ASSERT_GT(walks.ours.size(), 10u);
  ASSERT_EQ(walks.ours.size(), walks.glibc.size());
  ASSERT_EQ(walks.ours.size(), walks.libgcc.size());
  for (size_t i = 1; i < walks.ours.size(); ++i) {
    EXPECT_EQ(walks.ours[i], walks.glibc[i]) << "frame " << i;
    EXPECT_EQ(walks.ours[i], walks.libgcc[i]) << "frame " << i;
  }
}

TEST(UnwindWalk, CrashInQsortComparatorUnwindsThroughLibcAndAcrossTheSignalFrame) {
  std::vector<uintptr_t> callers;
  struct sigaction action {
  }, previous{};
  action.sa_sigaction = &onSegv;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGSEGV, &action, &previous), 0);
  if (sigsetjmp(gJump, 1) == 0) {
    sortAndCrash(&callers);
    FAIL() << "the comparator did not crash";
  }
  sigaction(SIGSEGV, &previous, nullptr);

  // From the interrupted registers: the comparator, libc's sort, our caller and its callers up
  // to main and the start of the process, exactly as backtrace() saw them before the sort.
  std::vector<uintptr_t> fromContext(gFromContext, gFromContext + gFromContextCount);
  ASSERT_GT(fromContext.size(), callers.size() + 2);
  EXPECT_EQ(fromContext[0], gFaultPC);
  EXPECT_TRUE(std::any_of(fromContext.begin(), fromContext.end(), inLibc));
  EXPECT_TRUE(std::equal(callers.rbegin(), callers.rend(), fromContext.rbegin()));

  // From inside the handler: through the signal-return frame to the faulting instruction itself,
  // then the same frames.
  std::vector<uintptr_t> fromHandler(gFromHandler, gFromHandler + gFromHandlerCount);
  auto fault = std::find(fromHandler.begin(), fromHandler.end(), gFaultPC);
  ASSERT_NE(fault, fromHandler.end());
  EXPECT_TRUE(std::equal(fault, fromHandler.end(), fromContext.begin(), fromContext.end()));
}

namespace {

__attribute__((noinline)) int functionEntry(int x) {
  asm volatile("" ::: "memory");
  return x * 3 + 1;
}

__attribute__((noinline)) uintptr_t returnAddressHere() {
  return reinterpret_cast<uintptr_t>(__builtin_return_address(0));
}

}  // namespace

TEST(UnwindWalk, ExactPCAtAFunctionsFirstInstructionUsesThatFunctionsRules) {
  ASSERT_EQ(functionEntry(1), 4);
  // A thread stopped on the first instruction of a function: its return address is on top of
  // the stack. Looked up one byte back, the PC would fall outside this function's FDE.
  uint64_t stack[4] = {returnAddressHere(), 0, 0, 0};
  MVXMachineContext64 stopped{};
  stopped.ss.rip = reinterpret_cast<uintptr_t>(&functionEntry);
  stopped.ss.rsp = reinterpret_cast<uintptr_t>(&stack[0]);
  MVXUnwindContext context;
  ASSERT_TRUE(MVXUnwindInit(&context, stopped));
  ASSERT_TRUE(MVXUnwindNextFrame(&context));
  EXPECT_EQ(MVXUnwindGetPC(&context), stopped.ss.rip);
  ASSERT_TRUE(MVXUnwindNextFrame(&context));
  EXPECT_EQ(MVXUnwindGetPC(&context), stack[0]);
  EXPECT_EQ(MVXUnwindGetStackPointer(&context), reinterpret_cast<uintptr_t>(&stack[1]));
}

// --- the driver over a synthetic stack ----------------------------------------------------------

namespace {

constexpr uintptr_t kImageStart = 0x100000, kImageEnd = 0x200000;
int gReads = 0;

bool fakeImage(uintptr_t address, MVXUnwindImage* image) {
  if (address < kImageStart || address >= kImageEnd) return false;
  *image = MVXUnwindImage{};
  image->start = image->loadAddress = kImageStart;
  image->end = kImageEnd;
  return true;
}

bool countingRead(uintptr_t address, void* out, size_t length) {
  ++gReads;
  return MVXUnwindDefaultReadMemory(address, out, length);
}

class UnwindDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    MVXUnwindSetFindImage(&fakeImage);
    MVXUnwindSetReadMemory(&countingRead);
    gReads = 0;
  }
  void TearDown() override {
    MVXUnwindSetFindImage(nullptr);
    MVXUnwindSetReadMemory(nullptr);
  }
  static uint64_t at(uint64_t* word) { return reinterpret_cast<uint64_t>(word); }
};

}  // namespace

TEST_F(UnwindDriver, StackScanThenFramePointerChainWithRepeatCountsEndsQuietlyAtZeroFP) {
  CapturedUnwindLog log;
  uint64_t stack[24] = {};
  stack[0] = 0x42;
  stack[1] = 0x43;
  stack[2] = 0x100500;  // found by the scan for the first caller
  stack[4] = at(&stack[8]);
  stack[5] = 0x100600;
  stack[8] = at(&stack[12]);
  stack[9] = 0x100600;
  stack[12] = at(&stack[16]);
  stack[13] = 0x100600;
  stack[16] = 0;
  stack[17] = 0x100700;
  MVXMachineContext64 start{};
  start.ss.rip = 0x100010;
  start.ss.rsp = at(&stack[0]);
  start.ss.rbp = at(&stack[4]);
  MVXUnwindContext context;
  ASSERT_TRUE(MVXUnwindInit(&context, start));

  ASSERT_TRUE(MVXUnwindNextFrame(&context));
  EXPECT_EQ(gReads, 0);  // the thread's own frame reads nothing
  std::vector<uint64_t> pcs{MVXUnwindGetPC(&context)};
  std::vector<uint32_t> repeats{MVXUnwindGetRepeatCount(&context)};
  while (MVXUnwindNextFrame(&context)) {
    pcs.push_back(MVXUnwindGetPC(&context));
    repeats.push_back(MVXUnwindGetRepeatCount(&context));
  }
  EXPECT_EQ(pcs,
            (std::vector<uint64_t>{0x100010, 0x100500, 0x100600, 0x100600, 0x100600, 0x100700}));
  EXPECT_EQ(repeats, (std::vector<uint32_t>{0, 0, 0, 1, 2, 0}));
  EXPECT_NE(log.text().find("Stack scan successful"), std::string::npos);
  EXPECT_NE(log.text().find("FP is zero, aborting unwind"), std::string::npos);
  EXPECT_EQ(log.text().find("ERROR"), std::string::npos) << log.text();
}

TEST_F(UnwindDriver, InvalidRegistersAndTheFrameLimitEndTheWalk) {
  CapturedUnwindLog log;
  MVXMachineContext64 bad{};
  bad.ss.rip = 100;
  bad.ss.rsp = 0x7000;
  MVXUnwindContext context;
  ASSERT_TRUE(MVXUnwindInit(&context, bad));
  EXPECT_FALSE(MVXUnwindNextFrame(&context));
  EXPECT_NE(log.text().find("Cancelling unwind for thread with invalid PC/SP"), std::string::npos);
  EXPECT_FALSE(MVXUnwindContextIsValid(&context));
  EXPECT_FALSE(MVXUnwindInit(nullptr, bad));
  EXPECT_FALSE(MVXUnwindNextFrame(nullptr));
  EXPECT_EQ(MVXUnwindGetPC(reinterpret_cast<MVXUnwindContext*>(8)), 0u);

  // A frame that is its own caller: the last allowed frame succeeds, the next one fails.
  uint64_t cycle[2];
  cycle[0] = at(&cycle[0]);
  cycle[1] = 0x100800;
  MVXMachineContext64 looping{};
  looping.ss.rip = 0x100800;
  looping.ss.rsp = at(&cycle[0]);
  looping.ss.rbp = at(&cycle[0]);
  ASSERT_TRUE(MVXUnwindInit(&context, looping));
  ASSERT_TRUE(MVXUnwindNextFrame(&context));
  context.frameCount = kMVXUnwindMaxFrames - 1;
  EXPECT_TRUE(MVXUnwindNextFrame(&context));
  EXPECT_EQ(context.frameCount, kMVXUnwindMaxFrames);
  log.clear();
  EXPECT_FALSE(MVXUnwindNextFrame(&context));
  EXPECT_NE(log.text().find("Exceeded maximum number of frames"), std::string::npos);
  // What was walked stays readable.
  EXPECT_EQ(MVXUnwindGetPC(&context), 0x100800u);
}

TEST(UnwindRegisters, AccessorsFollowTheDwarfNumberingAndRejectTheRest) {
  MVXThreadState64 state{};
  for (uint64_t n = 0; n < kMVXDwarfRegisterCount; ++n) {
    ASSERT_TRUE(MVXDwarfUnwindSetRegisterValue(&state, n, 1000 + n));
  }
  EXPECT_EQ(state.rdx, 1001u);
  EXPECT_EQ(state.rsi, 1004u);
  EXPECT_EQ(state.rbp, 1006u);
  EXPECT_EQ(state.rsp, 1007u);
  EXPECT_EQ(state.rip, 1016u);
  EXPECT_EQ(MVXDwarfUnwindGetRegisterValue(&state, 3), state.rbx);
  CapturedUnwindLog log;
  EXPECT_EQ(MVXDwarfUnwindGetRegisterValue(&state, 17), 0u);
  EXPECT_FALSE(MVXDwarfUnwindSetRegisterValue(&state, 17, 1));
  EXPECT_NE(log.text().find("Unrecognized set register number 17"), std::string::npos);

  MVXMachineContext64* none = nullptr;
  EXPECT_FALSE(MVXThreadContextSetPC(none, 1));
  EXPECT_EQ(MVXThreadContextGetFramePointer(reinterpret_cast<MVXMachineContext64*>(16)), 0u);
  EXPECT_FALSE(MVXThreadContextSetFramePointer(reinterpret_cast<MVXMachineContext64*>(16), 1));
}

TEST(UnwindMemory, DefaultReadsAreSafeAndReadTheForkedChildsOwnMemory) {
  volatile uint64_t word = 1;
  uint64_t out = 0;
  EXPECT_TRUE(MVXUnwindReadMemory(reinterpret_cast<uintptr_t>(&word), &out, sizeof out));
  EXPECT_EQ(out, 1u);
  EXPECT_FALSE(MVXUnwindReadMemory(16, &out, sizeof out));
  EXPECT_FALSE(MVXUnwindDefaultReadMemory(4096, &out, sizeof out));  // unmapped: no fault
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    word = 2;
    uint64_t seen = 0;
    MVXUnwindReadMemory(reinterpret_cast<uintptr_t>(&word), &seen, sizeof seen);
    _exit(seen == 2 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(UnwindMemory, OnlyTheRecordedStackProvenMappedIsReadInPlace) {
  const long page = sysconf(_SC_PAGESIZE);
  auto* base = static_cast<uint8_t*>(
      mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(base, MAP_FAILED);
  ASSERT_EQ(munmap(base + 2 * page, page), 0);
  const auto low = reinterpret_cast<uintptr_t>(base);
  const uintptr_t end = low + 2 * page;  // the unmapped page starts here
  std::memset(base, 0x5A, 2 * page);
  uint64_t out = 0;
  // Inside the range: read, also its last word; just outside: the checked read, which fails
  // instead of faulting.
  MVXUnwindRecordStackRange(low, end);
  EXPECT_TRUE(MVXUnwindReadMemory(end - 8, &out, sizeof out));
  EXPECT_EQ(out, 0x5A5A5A5A5A5A5A5Au);
  EXPECT_FALSE(MVXUnwindReadMemory(end, &out, sizeof out));
  EXPECT_FALSE(MVXUnwindReadMemory(end - 4, &out, sizeof out));  // straddles the boundary
  // A range recorded over an unmapped page is not trusted there, nor anywhere below it.
  MVXUnwindRecordStackRange(low, end + page);
  EXPECT_FALSE(MVXUnwindReadMemory(end, &out, sizeof out));
  out = 0;
  EXPECT_TRUE(MVXUnwindReadMemory(low, &out, sizeof out));
  EXPECT_EQ(out, 0x5A5A5A5A5A5A5A5Au);
  // A reader of the caller's own sees every read, recorded or not.
  MVXUnwindRecordStackRange(low, end);
  gReads = 0;
  MVXUnwindSetReadMemory(&countingRead);
  EXPECT_TRUE(MVXUnwindReadMemory(low, &out, sizeof out));
  MVXUnwindSetReadMemory(nullptr);
  EXPECT_EQ(gReads, 1);
  MVXUnwindRecordStackRange(0, 0);
  munmap(base, 2 * page);
}
