#pragma once
// TimesReporter: the console reporter that also keeps each benchmark's real time per iteration,
// in seconds, and its counters, so a bench can judge its targets beside their baselines once every
// run is in (its verdicts give main() the exit status). Made and used on the benchmark's own
// thread.

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchVerdicts.h"

namespace tw::bench {

class TimesReporter : public benchmark::ConsoleReporter {
 public:
  explicit TimesReporter(OutputOptions options = OO_Defaults) : ConsoleReporter(options) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration) {
        times_[r.benchmark_name()] =
            r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
        for (const auto& [name, counter] : r.counters)
          counters_[r.benchmark_name()][name] = counter.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  Verdicts verdicts;

 protected:
  // The target "`measured` takes at most `limit` times as long as `baseline`", judged once both
  // ran; not measured when either did not.
  void checkRatio(const char* what, const std::string& measured, const std::string& baseline,
                  double limit, const char* baselineName) {
    const auto m = times_.find(measured), b = times_.find(baseline);
    if (m == times_.end() || b == times_.end() || b->second <= 0) {
      verdicts.unmeasured(what);
      return;
    }
    const double ratio = m->second / b->second;
    verdicts.check(ratio <= limit, "%s %.2fx %s (target <= %gx)", what, ratio, baselineName, limit);
  }

  // The counter `name` of the run `run`, whose full name may carry its options after a slash
  // ("/iterations:5/manual_time"); 0 when that run or counter is not there.
  double counter(const std::string& run, const std::string& name) const {
    for (const auto& [full, values] : counters_) {
      if (full != run && full.rfind(run + "/", 0) != 0) continue;
      const auto found = values.find(name);
      return found != values.end() ? found->second : 0;
    }
    return 0;
  }

  std::map<std::string, double> times_;
  std::map<std::string, std::map<std::string, double>> counters_;  // by benchmark, then name
};

// Runs the benchmarks the command line selects through `reporter`, after `beforeRuns` (a shared
// fixture made once); main()'s exit status: the verdicts', or 1 for an argument the library does
// not know.
inline int runBenchmarks(int& argc, char** argv, TimesReporter& reporter,
                         const std::function<void()>& beforeRuns = {}) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (beforeRuns) beforeRuns();
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.verdicts.exitCode();
}

}  // namespace tw::bench
