#pragma once
// TimesReporter: the console reporter that also keeps each benchmark's real time per iteration,
// in seconds, so a bench can print its targets beside their baselines once every run is in.
// Made and used on the benchmark's own thread.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace tw::bench {

class TimesReporter : public benchmark::ConsoleReporter {
 public:
  explicit TimesReporter(OutputOptions options = OO_Defaults) : ConsoleReporter(options) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration) {
        times_[r.benchmark_name()] =
            r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

 protected:
  std::map<std::string, double> times_;
};

}  // namespace tw::bench
