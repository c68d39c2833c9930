// Main-queue hand-off latency: a block posted from another thread until it starts on the main
// thread, against a bare mutex + condition-variable hand-off to the same thread, measured in the
// same run under the same load. Target: p99 of the main queue at most twice the baseline's p99.

#include <benchmark/benchmark.h>

#include "bench/BenchStats.h"
#include "bench/BenchVerdicts.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"

namespace {

using tw::bench::percentiles;
using tw::bench::Percentiles;

constexpr int kSamples = 20000;
// Lets the main thread go back to sleep between posts, so each sample is a real wake-up.
constexpr auto kGap = std::chrono::microseconds(100);

std::optional<Percentiles> g_mainQueue, g_baseline;

void report(benchmark::State& state, const Percentiles& p) {
  state.counters["p50_us"] = p.p50;
  state.counters["p99_us"] = p.p99;
  state.counters["max_us"] = p.max;
}

// Waits (off the main thread) until the consumer has taken the sample.
void awaitTaken(std::atomic<int>& taken, int expected) {
  while (taken.load(std::memory_order_acquire) < expected) std::this_thread::yield();
}

void BM_MainQueuePost(benchmark::State& state) {
  std::vector<std::int64_t> latencies(kSamples);
  for (auto _ : state) {
    std::atomic<int> taken{0};
    std::thread producer([&] {
      for (int i = 0; i < kSamples; ++i) {
        std::this_thread::sleep_for(kGap);
        const std::int64_t posted = tw::clock::monotonicNanos();
        tw::onMain([&, i, posted] {
          latencies[i] = tw::clock::monotonicNanos() - posted;
          taken.fetch_add(1, std::memory_order_release);
        });
        awaitTaken(taken, i + 1);
      }
      tw::RunLoop::main().stop();
    });
    tw::RunLoop::main().run();
    producer.join();
    std::int64_t total = 0;
    for (auto l : latencies) total += l;
    state.SetIterationTime(static_cast<double>(total) / 1e9);
  }
  g_mainQueue = percentiles(latencies, 1e-3);  // microseconds
  report(state, *g_mainQueue);
}

void BM_BareConditionVariableHandOff(benchmark::State& state) {
  std::vector<std::int64_t> latencies(kSamples);
  for (auto _ : state) {
    std::mutex mutex;
    std::condition_variable cv;
    std::optional<std::int64_t> slot;
    bool finished = false;
    std::atomic<int> taken{0};
    std::thread producer([&] {
      for (int i = 0; i < kSamples; ++i) {
        std::this_thread::sleep_for(kGap);
        {
          std::lock_guard<std::mutex> lock(mutex);
          slot = tw::clock::monotonicNanos();
        }
        cv.notify_one();
        awaitTaken(taken, i + 1);
      }
      std::lock_guard<std::mutex> lock(mutex);
      finished = true;
      cv.notify_one();
    });
    for (int i = 0;; ++i) {
      std::unique_lock<std::mutex> lock(mutex);
      cv.wait(lock, [&] { return slot.has_value() || finished; });
      if (!slot) break;
      const std::int64_t posted = *slot;
      slot.reset();
      lock.unlock();
      latencies[i] = tw::clock::monotonicNanos() - posted;
      taken.fetch_add(1, std::memory_order_release);
    }
    producer.join();
    std::int64_t total = 0;
    for (auto l : latencies) total += l;
    state.SetIterationTime(static_cast<double>(total) / 1e9);
  }
  g_baseline = percentiles(latencies, 1e-3);
  report(state, *g_baseline);
}

BENCHMARK(BM_BareConditionVariableHandOff)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MainQueuePost)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  tw::RunLoop::main();  // the benchmark's thread is the main thread
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  tw::bench::Verdicts verdicts;
  if (!g_mainQueue || !g_baseline) {
    verdicts.unmeasured("main-queue p99 against the bare hand-off's");
    return verdicts.exitCode();
  }
  std::printf("\nmain queue       p50 %7.1f us  p99 %7.1f us\n", g_mainQueue->p50,
              g_mainQueue->p99);
  std::printf("bare mutex+cv    p50 %7.1f us  p99 %7.1f us\n", g_baseline->p50, g_baseline->p99);
  const double ratio = g_mainQueue->p99 / g_baseline->p99;
  verdicts.check(ratio <= 2.0, "main-queue p99 is %.2fx the bare hand-off's p99 (target <= 2x)",
                 ratio);
  return verdicts.exitCode();
}
