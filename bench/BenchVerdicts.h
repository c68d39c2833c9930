#pragma once
// What a bench found for each of its targets: every target is stated as met or not met, beside
// what was measured, and the bench exits non-zero when one was not met or not measured at all (a
// filtered or failed run). Bench-only; used on the bench's main thread once the runs are over.

#include <cstdarg>
#include <cstdio>

namespace tw::bench {

class Verdicts {
 public:
  // "met:     <text>" or "NOT MET: <text>"; the text names the target and what was found.
  __attribute__((format(printf, 3, 4))) bool check(bool met, const char* format, ...) {
    std::printf("%s", met ? "met:     " : "NOT MET: ");
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    ++judged_;
    if (!met) ++missed_;
    return met;
  }

  // A target this run has no measurement for counts as not met.
  void unmeasured(const char* target) {
    std::printf("NOT MET: %s: not measured in this run\n", target);
    ++judged_;
    ++missed_;
  }

  // A target that the machine's own load can make a bare baseline miss as well (a timer's p99
  // on a busy machine): met when `ours` is within `limit`, or when the baseline measured in the
  // same run misses `limit` too and `ours` is at most `margin` (a fraction) above it, so that the
  // verdict speaks of this code rather than of the machine. Lower is better for both; the line
  // names both figures. `what` names the figure, `unit` follows each number as it is (" us",
  // "/s"), `baselineName` names the baseline.
  bool checkBesideBaseline(const char* what, double ours, const char* unit,
                           const char* baselineName, double baseline, double limit, double margin) {
    const bool withinLimit = ours <= limit;
    const bool baselineMisses = baseline > limit;
    const bool nearBaseline = ours <= baseline * (1.0 + margin);
    const char* why = withinLimit ? ""
                      : baselineMisses && nearBaseline
                          ? "; the baseline misses the target too and ours is within the margin"
                      : baselineMisses ? "; the baseline misses the target too, ours is further off"
                                       : "";
    return check(withinLimit || (baselineMisses && nearBaseline),
                 "%s %.1f%s, %s %.1f%s in the same run (target <= %g%s, or within +%g%% of "
                 "the %s when it misses too%s)",
                 what, ours, unit, baselineName, baseline, unit, limit, unit, margin * 100,
                 baselineName, why);
  }

  // What the run found beside its targets, for the reader.
  __attribute__((format(printf, 2, 3))) void note(const char* format, ...) {
    std::printf("info:    ");
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
  }

  // A run that judged no target at all (a filter that matched nothing) says so and fails too.
  int exitCode() const {
    if (judged_ == 0) {
      std::printf("NOT MET: no target judged in this run\n");
      return 1;
    }
    std::printf(missed_ ? "%d target(s) not met\n" : "every target met\n", missed_);
    return missed_ ? 1 : 0;
  }

 private:
  int judged_ = 0;
  int missed_ = 0;
};

}  // namespace tw::bench
