// The analytics kit's event path, side by side with its baseline in one run:
// - a public log call (Oriseth::logCustomEventWithName) returns to its caller in p99 <= 10 us;
// - the event queue appends >= 50,000 events/s (with the log calls: events made, journalled and
//   handed over). For the reader, beside it: the rate of raw buffered appends of the same lines
//   to one file (stdio, the lines as the kit writes them), the queue's share alone, and what
//   making the events costs by itself.
// States met or not for each target after the table; exits non-zero when one is not met.
// Runs in private XDG folders over a temporary analytics folder; nothing is sent (the events
// address is a closed loopback port and files stay far below the size limit). Bench-only.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "bench/BenchReporter.h"
#include "bench/BenchStats.h"
#include "bench/BenchVerdicts.h"
#include "kits/analytics/ORVFileUtils.h"
#include "kits/analytics/ORVWriteEventOperation.h"
#include "kits/analytics/Oriseth.h"
#include "platform/foundation/UUID.h"
#include "platform/testsupport/TestSupport.h"

// GCC 12 reports a false maybe-uninitialized on filling optional<string> members at -O2.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

constexpr int kEventsPerRun = 20000;

struct Fixture {
  tw::test::ScopedXdg xdg;
  tw::test::TempDir root;

  std::shared_ptr<ORVOrisethController> makeController() {
    ORVMetadata::Fields fields;
    fields.APIKey = std::string("bench-key");
    fields.installationId = std::string("abc");
    tw::Dictionary settings{
        {"analytics", tw::Dictionary{{"url", "http://127.0.0.1:9/spi/v2/events"},
                                     {"max_byte_size_per_file", 1LL << 40}}}};
    auto dir = root.path() / tw::makeUUIDString();
    auto c = ORVOrisethController::create(std::make_shared<ORVMetadata>(std::move(fields)), dir,
                                          false, settings);
    c->eventQueue()->waitUntilAllOperationsAreFinished();
    return c;
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

std::optional<double> g_logCallP99Us;

tw::Dictionary attributes() { return tw::Dictionary{{"screen", "main"}, {"count", 3}}; }

void BM_PublicLogCall(benchmark::State& state) {
  auto controller = fixture().makeController();
  Oriseth::sharedInstance()->setOrisethController(controller);
  std::vector<std::int64_t> ns;
  ns.reserve(kEventsPerRun);
  for (auto _ : state) {
    ns.clear();
    for (int i = 0; i < kEventsPerRun; ++i) {
      auto start = std::chrono::steady_clock::now();
      Oriseth::logCustomEventWithName("bench_event", attributes());
      ns.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count());
    }
    state.PauseTiming();
    controller->eventQueue()->waitUntilAllOperationsAreFinished();
    state.ResumeTiming();
  }
  auto p = tw::bench::percentiles(ns, 1e-3);
  g_logCallP99Us = p.p99;
  state.counters["p50_us"] = p.p50;
  state.counters["p99_us"] = p.p99;
  state.counters["max_us"] = p.max;
  Oriseth::sharedInstance()->setOrisethController(nullptr);
}

void BM_EventQueueAppends(benchmark::State& state) {
  auto controller = fixture().makeController();
  for (auto _ : state) {
    for (int i = 0; i < kEventsPerRun; ++i)
      controller->logEvent(std::make_shared<ORVCustomEvent>("bench_event", attributes()));
    controller->eventQueue()->waitUntilAllOperationsAreFinished();
  }
  state.SetItemsProcessed(state.iterations() * kEventsPerRun);
}

// The event queue's own share: the same events logged while the queue is held, then the time
// from letting it go until every line is in the log file.
void BM_EventQueueAppendsQueuedEvents(benchmark::State& state) {
  auto controller = fixture().makeController();
  const auto& queue = controller->eventQueue();
  for (auto _ : state) {
    state.PauseTiming();
    queue->setSuspended(true);
    for (int i = 0; i < kEventsPerRun; ++i)
      controller->logEvent(std::make_shared<ORVCustomEvent>("bench_event", attributes()));
    state.ResumeTiming();
    queue->setSuspended(false);
    queue->waitUntilAllOperationsAreFinished();
  }
  state.SetItemsProcessed(state.iterations() * kEventsPerRun);
}

// The same lines the kit writes, appended through stdio's buffer to one file.
void BM_RawBufferedAppendsBaseline(benchmark::State& state) {
  std::vector<std::string> lines;
  lines.reserve(kEventsPerRun);
  for (int i = 0; i < kEventsPerRun; ++i)
    lines.push_back(*ORVWriteEventOperation::generateFormattedLogLineWithEvent(
                        ORVCustomEvent("bench_event", attributes())) +
                    "\n");
  auto path = fixture().root.path() / "baseline.log";
  for (auto _ : state) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    for (const auto& line : lines) std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
  }
  state.SetItemsProcessed(state.iterations() * kEventsPerRun);
}

// Only what the queue bench's loop makes for each event before the kit sees it (the event, its
// identifier, its attributes): a bound on what the kit's rate can come to against the baseline.
void BM_EventsMadeOnly(benchmark::State& state) {
  std::vector<std::shared_ptr<ORVCustomEvent>> events(kEventsPerRun);
  for (auto _ : state) {
    for (auto& event : events)
      event = std::make_shared<ORVCustomEvent>("bench_event", attributes());
    benchmark::DoNotOptimize(events.data());
    state.PauseTiming();
    for (auto& event : events) event.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kEventsPerRun);
}

BENCHMARK(BM_PublicLogCall)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EventQueueAppends)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EventQueueAppendsQueuedEvents)
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawBufferedAppendsBaseline)
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EventsMadeOnly)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

class Reporter : public tw::bench::TimesReporter {
 public:
  // Per second, from a run of kEventsPerRun items; nullopt when the run was not made.
  std::optional<double> rate(const char* name) const {
    auto it = times_.find(std::string(name) + "/iterations:5/real_time");
    if (it == times_.end() || it->second <= 0) return std::nullopt;
    return kEventsPerRun / it->second;
  }
};

}  // namespace

int main(int argc, char** argv) {
  // The uploader asks the system bus for the power state; a run never reaches the machine's.
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tickwell-bench-system-bus", 1);
  benchmark::Initialize(&argc, argv);
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  tw::bench::Verdicts verdicts;
  std::printf("\n");
  if (g_logCallP99Us)
    verdicts.check(*g_logCallP99Us <= 10, "public log call p99 %.2f us (target <= 10 us)",
                   *g_logCallP99Us);
  else
    verdicts.unmeasured("public log call p99");
  const auto queue = reporter.rate("BM_EventQueueAppends");
  if (queue)
    verdicts.check(*queue >= 50000, "event queue: %.0f events/s (target >= 50,000)", *queue);
  else
    verdicts.unmeasured("event queue rate");
  if (const auto raw = reporter.rate("BM_RawBufferedAppendsBaseline")) {
    verdicts.note("raw buffered appends of the same lines: %.0f lines/s", *raw);
    if (const auto queued = reporter.rate("BM_EventQueueAppendsQueuedEvents"))
      verdicts.note("event queue alone (events logged while it was held): %.0f events/s", *queued);
    if (const auto made = reporter.rate("BM_EventsMadeOnly"))
      verdicts.note("events made alone: %.0f/s", *made);
  }
  return verdicts.exitCode();
}
