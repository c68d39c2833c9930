#pragma once
// The crash context the crashing test children set up before they fail on purpose: the same
// identifiers and limits in every child, reports in the folder the test gave. Test-only; the
// child's main thread, before any failure.

#include "kits/crash/capture/MVXContext.h"

namespace tw::test {

// False when the context could not be set up (the child then exits without crashing).
inline bool startCrashChildContext(const char* reportDirectory) {
  MVXContextSettings settings;
  settings.apiKey = "0123456789abcdef";
  settings.reportDirectory = reportDirectory;
  settings.reportIdentifier = "session-1";
  settings.installIdentifier = "install-1";
  settings.logBufferSize = 65536;
  settings.maxCustomKeys = 64;
  settings.maxCustomExceptions = 8;
  return MVXContextInitialize(&settings);
}

}  // namespace tw::test
