// Frames unwound per second through a 64-frame stack of -O2 code without frame pointers: the crash
// kit's unwinder (with every stack read copied by the kernel, with the thread's recorded stack read
// by plain loads as at crash time, and with nothing but plain loads) beside libgcc's
// _Unwind_Backtrace on the very same stack. Target: the unwinder is at least as fast as
// _Unwind_Backtrace. States met or not after the table; exits non-zero when not.

#include <benchmark/benchmark.h>
#include <unwind.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "bench/BenchReporter.h"
#include "kits/crash/unwind/MVXUnwind.h"

namespace {

constexpr int kDepth = 64;

// Runs `body` with kDepth frames of our own below it.
__attribute__((noinline)) void descend(int depth, const std::function<void()>& body) {
  if (depth == 0) {
    body();
  } else {
    descend(depth - 1, body);
  }
  asm volatile("" ::: "memory");
}

_Unwind_Reason_Code countFrame(_Unwind_Context*, void* count) {
  ++*static_cast<size_t*>(count);
  return _URC_NO_REASON;
}

bool plainRead(uintptr_t address, void* out, size_t length) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the baseline reads at the address it is given
  std::memcpy(out, reinterpret_cast<const void*>(address), length);
  return true;
}

__attribute__((noinline)) size_t walkOurs() {
  MVXMachineContext64 here;
  MVXMachineContextCaptureCurrent(&here);
  MVXUnwindContext context;
  MVXUnwindInit(&context, here);
  size_t frames = 0;
  while (MVXUnwindNextFrame(&context)) ++frames;
  return frames;
}

void runOnDeepStack(benchmark::State& state, size_t (*walk)()) {
  descend(kDepth, [&] {
    size_t frames = 0, shortest = SIZE_MAX, longest = 0;
    for (auto _ : state) {
      size_t n = walk();
      benchmark::DoNotOptimize(n);
      frames += n;
      shortest = std::min(shortest, n);
      longest = std::max(longest, n);
    }
    // Every walk of the one stack must see every frame.
    state.counters["shortest"] = static_cast<double>(shortest);
    state.counters["longest"] = static_cast<double>(longest);
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    // Whole frames per walk: every walk sees the same stack.
    const size_t depth = frames / static_cast<size_t>(state.iterations() ? state.iterations() : 1);
    state.counters["depth"] = static_cast<double>(depth);
  });
}

void BM_UnwindBacktrace(benchmark::State& state) {
  runOnDeepStack(state, [] {
    size_t frames = 0;
    _Unwind_Backtrace(&countFrame, &frames);
    return frames;
  });
}

void BM_MVXUnwind_KernelReads(benchmark::State& state) {
  MVXUnwindSetReadMemory(nullptr);
  MVXUnwindRecordStackRange(0, 0);
  runOnDeepStack(state, &walkOurs);
}

// What the crash kit runs: the recorded stack read with plain loads, everything else copied.
void BM_MVXUnwind_RecordedStack(benchmark::State& state) {
  MVXUnwindSetReadMemory(nullptr);
  MVXUnwindRecordCurrentThreadStack();
  runOnDeepStack(state, &walkOurs);
  MVXUnwindRecordStackRange(0, 0);
}

void BM_MVXUnwind_PlainReads(benchmark::State& state) {
  MVXUnwindSetReadMemory(&plainRead);
  runOnDeepStack(state, &walkOurs);
  MVXUnwindSetReadMemory(nullptr);
}

}  // namespace

BENCHMARK(BM_UnwindBacktrace);
BENCHMARK(BM_MVXUnwind_KernelReads);
BENCHMARK(BM_MVXUnwind_RecordedStack);
BENCHMARK(BM_MVXUnwind_PlainReads);
namespace {

// The target is the crash-time configuration (the thread's recorded stack, plain loads), in the
// frames per second each run counts on its own CPU time; the other two are shown for scale.
class Reporter : public tw::bench::TimesReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n");
    const auto ours = framesPerSecond("BM_MVXUnwind_RecordedStack");
    const auto theirs = framesPerSecond("BM_UnwindBacktrace");
    if (ours > 0 && theirs > 0) {
      verdicts.check(ours >= theirs,
                     "the unwinder over the recorded stack: %.2fM frames/s, _Unwind_Backtrace "
                     "%.2fM frames/s (target: at least as many)",
                     ours / 1e6, theirs / 1e6);
    } else {
      verdicts.unmeasured("frames per second against _Unwind_Backtrace");
    }
  }

 private:
  double framesPerSecond(const std::string& run) const {
    const auto found = counters_.find(run);
    if (found == counters_.end() || !found->second.count("frames/s")) return 0;
    return found->second.at("frames/s");
  }
};

}  // namespace

int main(int argc, char** argv) {
  Reporter reporter;
  return tw::bench::runBenchmarks(argc, argv, reporter);
}
