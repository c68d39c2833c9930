#pragma once
// Helpers of the unwinder's tests: a crash-time-safe walk into a fixed array, and a log sink that
// keeps the unwinder's messages for the test to inspect. Test-only; single thread.

#include <cstddef>
#include <cstdint>
#include <string>

#include "kits/crash/unwind/MVXUnwind.h"

namespace tw::test {

// Walks from the machine context, storing each frame's PC; returns the frame count.
size_t walkInto(const MVXMachineContext64& start, uintptr_t* frames, size_t capacity);

// Installs the capturing log sink on construction and restores "no log" on destruction.
class CapturedUnwindLog {
 public:
  CapturedUnwindLog();
  ~CapturedUnwindLog();
  std::string text() const;
  void clear();
};

}  // namespace tw::test
