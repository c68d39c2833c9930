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
    if (!met) ++missed_;
    return met;
  }

  // A target this run has no measurement for counts as not met.
  void unmeasured(const char* target) {
    std::printf("NOT MET: %s: not measured in this run\n", target);
    ++missed_;
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

  int exitCode() const {
    std::printf(missed_ ? "%d target(s) not met\n" : "every target met\n", missed_);
    return missed_ ? 1 : 0;
  }

 private:
  int missed_ = 0;
};

}  // namespace tw::bench
