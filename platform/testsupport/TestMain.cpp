#include <gtest/gtest.h>

#include "platform/foundation/Dispatch.h"
#include "platform/testsupport/TestSupport.h"

int main(int argc, char** argv) {
  // Claim the main thread for the main queue before any test can touch it from another thread.
  tw::RunLoop::main();
  tw::test::privateRoot();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
