#pragma once
// Percentiles of a set of measured latencies, as every benchmark reports them. Bench-only.

#include <algorithm>
#include <cstddef>
#include <vector>

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

}  // namespace tw::bench
