// Crash capture: time from the fatal signal to the last record file closed, for a process of 20
// threads each 30 frames deep, beside the time the kernel takes to write a core dump of the same
// process to the same disk. Each sample is a child process (this program re-run with --child).
//
//   kit:  the child's own handler, installed before the kit, runs once the kit has written every
//         record and handed the signal back; it reports the time since the fault.
//   core: no kit, core dumps on, written into the same temporary folder; the parent times from
//         the fault (the child's last word on its pipe) to reaping the child.
// Target: the kit's capture (p50) takes no longer than the kernel's core dump of the same process
// in the same run.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchReporter.h"
#include "bench/BenchStats.h"
#include "kits/crash/capture/MVXContext.h"

namespace {

std::int64_t nowNanos() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::atomic<int> gDeep{0};
volatile std::int64_t gFaultAt = 0;
volatile bool gStop = false;
volatile int* volatile gNull = nullptr;

__attribute__((noinline)) void descend(int depth) {
  if (depth > 0) {
    descend(depth - 1);
    asm volatile("" ::: "memory");
    return;
  }
  gDeep.fetch_add(1);
  while (!gStop) pause();
}

void reportHandler(int, siginfo_t*, void*) {
  const std::int64_t elapsed = nowNanos() - gFaultAt;
  char text[32];
  int n = 0;
  char digits[24];
  auto v = static_cast<std::uint64_t>(elapsed);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  int at = 0;
  while (n > 0) text[at++] = digits[--n];
  text[at++] = '\n';
  if (write(STDOUT_FILENO, text, static_cast<std::size_t>(at)) < 0) _exit(3);
  _exit(0);
}

int child(const char* dir, bool withKit) {
  if (withKit) {
    struct sigaction own {};
    own.sa_sigaction = reportHandler;
    own.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &own, nullptr);
    MVXContextSettings settings;
    settings.reportDirectory = dir;
    if (!MVXContextInitialize(&settings)) return 2;
  }
  for (int i = 0; i < 19; ++i) std::thread([] { descend(30); }).detach();
  while (gDeep.load() < 19) std::this_thread::yield();
  const std::int64_t at = nowNanos();
  gFaultAt = at;
  if (!withKit) {
    std::printf("%lld\n", static_cast<long long>(at));
    std::fflush(stdout);
  }
  *gNull = 1;
  return 4;
}

// One crash; returns nanoseconds from the fault to the end of what is measured, or -1.
std::int64_t crashOnce(bool withKit) {
  char tmpl[] = "/var/tmp/tw-crash-bench-XXXXXX";
  const char* dir = mkdtemp(tmpl);
  if (dir == nullptr) return -1;
  int out[2];
  if (pipe(out) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    if (chdir(dir) != 0) _exit(5);
    rlimit core{withKit ? 0 : RLIM_INFINITY, withKit ? 0 : RLIM_INFINITY};
    setrlimit(RLIMIT_CORE, &core);
    execl("/proc/self/exe", "bench_crash_capture", "--child", dir, withKit ? "kit" : "core",
          nullptr);
    _exit(127);
  }
  close(out[1]);
  char text[64] = {};
  std::size_t used = 0;
  for (ssize_t n;
       used < sizeof text - 1 && (n = read(out[0], text + used, sizeof text - 1 - used)) > 0;) {
    used += static_cast<std::size_t>(n);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const std::int64_t reaped = nowNanos();
  close(out[0]);
  std::filesystem::remove_all(dir);
  if (withKit) return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? std::atoll(text) : -1;
  return WIFSIGNALED(status) ? reaped - std::atoll(text) : -1;
}

void runCrashes(benchmark::State& state, bool withKit) {
  std::vector<std::int64_t> samples;
  for (auto _ : state) {
    const std::int64_t ns = crashOnce(withKit);
    if (ns < 0) {
      state.SkipWithError("child did not crash as expected");
      return;
    }
    samples.push_back(ns);
    state.SetIterationTime(static_cast<double>(ns) / 1e9);
  }
  const auto p = tw::bench::percentiles(samples, 1e-6);
  state.counters["p50_ms"] = p.p50;
  state.counters["p99_ms"] = p.p99;
  state.counters["max_ms"] = p.max;
}

void BM_KitFaultToLastRecordClosed(benchmark::State& state) { runCrashes(state, true); }
void BM_KernelCoreDumpBaseline(benchmark::State& state) { runCrashes(state, false); }
BENCHMARK(BM_KitFaultToLastRecordClosed)
    ->Iterations(50)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KernelCoreDumpBaseline)
    ->Iterations(50)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

class Reporter : public tw::bench::TimesReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n");
    const double kit = counter("BM_KitFaultToLastRecordClosed", "p50_ms");
    const double core = counter("BM_KernelCoreDumpBaseline", "p50_ms");
    if (kit > 0 && core > 0) {
      verdicts.check(kit <= core,
                     "fault to the last record closed: %.2f ms p50, the kernel's core dump %.2f ms "
                     "(target: no longer)",
                     kit, core);
    } else {
      verdicts.unmeasured("crash capture against the kernel's core dump");
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
    return child(argv[2], std::strcmp(argv[3], "kit") == 0);
  }
  Reporter reporter;
  return tw::bench::runBenchmarks(argc, argv, reporter);
}
