// The crashing child of the symbolication tests: sets up crash capture in a report directory,
// parks two threads in the frames library and faults in it.
//   symbols_crash_child <report-dir> <mode 0|1>

#include <cstdlib>
#include <string>
#include <thread>

#include "kits/crash/capture/MVXContext.h"
#include "kits/crash/capture/tests/CrashChildContext.h"
#include "kits/crash/symbols/tests/SymbolsChildFrames.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  if (!tw::test::startCrashChildContext(argv[1])) return 3;
  static volatile int ready = 0;
  for (int i = 0; i < 2; ++i) std::thread([] { symbols_child_park(&ready); }).detach();
  while (ready < 2) std::this_thread::yield();
  return symbols_child_run(std::atoi(argv[2]));
}
