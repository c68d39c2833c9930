#pragma once
// What the benchmarks share: the percentiles of a set of measured latencies, as every benchmark
// reports them, and the kernel's own periodic timer that the timing benchmarks measure against.
// Bench-only.

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/foundation/Clock.h"

namespace tw::bench {

struct Percentiles {
  std::size_t samples = 0;
  double p50 = 0, p99 = 0, max = 0;  // in the unit the values were scaled to
};

// Each value is multiplied by `scale` (1e-3 turns nanoseconds into microseconds).
template <class T>
Percentiles percentiles(std::vector<T> values, double scale = 1.0) {
  Percentiles p;
  p.samples = values.size();
  if (values.empty()) return p;
  std::sort(values.begin(), values.end());
  auto at = [&](double q) {
    return static_cast<double>(
               values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))]) *
           scale;
  };
  p.p50 = at(0.50);
  p.p99 = at(0.99);
  p.max = static_cast<double>(values.back()) * scale;
  return p;
}

// A timer's firings against its absolute schedule, as the timer benches report them: how many
// came and were due, and how far from their deadlines they came, in microseconds.
struct TimerDeviation {
  std::size_t firings = 0, expected = 0;
  double p50Us = 0, p99Us = 0, maxUs = 0;
  std::size_t stalls = 0;  // firings more than 1.5 periods after the one before (where counted)
};

inline TimerDeviation summariseDeviations(std::vector<double> deviationsUs, std::size_t expected) {
  TimerDeviation d;
  d.firings = deviationsUs.size();
  d.expected = expected;
  const auto p = percentiles(std::move(deviationsUs));
  d.p50Us = p.p50;
  d.p99Us = p.p99;
  d.maxUs = p.max;
  return d;
}

// The deviation as a benchmark's counters (`state` is a benchmark::State).
template <class State>
void reportDeviation(State& state, const TimerDeviation& d) {
  state.counters["firings"] = static_cast<double>(d.firings);
  state.counters["expected"] = static_cast<double>(d.expected);
  state.counters["dev_p50_us"] = d.p50Us;
  state.counters["dev_p99_us"] = d.p99Us;
  state.counters["dev_max_us"] = d.maxUs;
  state.counters["stalls"] = static_cast<double>(d.stalls);
}

// How long after the latest deadline of the schedule anchorNs + k * periodNs, at or before it,
// the moment `atNs` came, in microseconds. A timer's firing answers that deadline: none comes
// before its deadline, and one a whole period late skips a deadline, which the benches' counts
// of firings catch. Ticks count firings, so after such a skip a tick's number no longer names
// its deadline; this does not depend on it.
inline double sinceLatestDeadlineUs(std::int64_t atNs, std::int64_t anchorNs,
                                    std::int64_t periodNs) {
  const std::int64_t since = atNs - anchorNs;
  return static_cast<double>(since < 0 ? -since : since % periodNs) / 1e3;
}

// The baseline of the timer benchmarks: a timerfd on an absolute schedule (expiration k due at
// anchorNs + k * periodNs), read by the calling thread. After each read, `onRead(latest, count,
// nowNs)` is told the index of the latest expiration, how many the read reported (a late read
// reports several) and the monotonic time of the read; it returns false to stop. Returns false
// when the kernel gave no timer.
template <class OnRead>
bool runTimerfdBaseline(std::int64_t anchorNs, std::int64_t periodNs, OnRead&& onRead) {
  const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  if (fd < 0) return false;
  const std::int64_t first = anchorNs + periodNs;
  itimerspec spec{};
  spec.it_interval.tv_sec = periodNs / 1'000'000'000;
  spec.it_interval.tv_nsec = periodNs % 1'000'000'000;
  spec.it_value.tv_sec = first / 1'000'000'000;
  spec.it_value.tv_nsec = first % 1'000'000'000;
  if (timerfd_settime(fd, TFD_TIMER_ABSTIME, &spec, nullptr) != 0) {
    close(fd);
    return false;
  }
  std::int64_t latest = 0;
  for (;;) {
    std::uint64_t expirations = 0;
    if (read(fd, &expirations, sizeof expirations) != sizeof expirations) break;
    const std::int64_t now = tw::clock::monotonicNanos();
    const auto count = static_cast<std::int64_t>(expirations);
    latest += count;
    if (!onRead(latest, count, now)) break;
  }
  close(fd);
  return true;
}

}  // namespace tw::bench
