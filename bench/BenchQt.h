#pragma once
// The application object of the benches that draw widgets: made in main() before the runs, on
// Qt's offscreen platform unless the caller chose another, and gone when main() returns, before
// the exit handlers that take Qt's own globals down (a function-local static outlives them and
// crashes the exit). Bench-only; the benchmark's main thread.

#include <benchmark/benchmark.h>

#include <cstdlib>

#include <QApplication>

namespace tw::bench {

// Runs the benchmarks the command line selects inside one QApplication.
inline void runWithApplication(int& argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  benchmark::Initialize(&argc, argv);
  QApplication application(argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}

}  // namespace tw::bench
