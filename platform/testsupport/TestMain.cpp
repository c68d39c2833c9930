#include <gtest/gtest.h>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Thread.h"
#include "platform/testsupport/TestSupport.h"

int main(int argc, char** argv) {
  // Claim the main thread for the main queue before any test can touch it from another thread.
  tw::RunLoop::main();
  tw::test::privateRoot();
#if defined(__SANITIZE_THREAD__)
  // The thread sanitizer starts a background thread of its own with the process's first thread:
  // started here, it is already there when a case counts threads or their wake-ups.
  tw::startThread("tsan warm-up", [] {}).join();
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
