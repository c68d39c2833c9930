#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <string>

#include "platform/foundation/Thread.h"

namespace tw {
namespace {

// No crash kit here: its thread start hook would give the thread a stack of its own and hide a
// thread that started without one (a thread started before the kit, like the settings autosave).
TEST(Threads, AThreadOfOursHasAnAlternateSignalStackAndItsNameCutToFit) {
  stack_t stack{};
  int queried = -1;
  char name[32] = {};
  startThread("tickwell.a-long-thread-name", [&] {
    queried = sigaltstack(nullptr, &stack);
    pthread_getname_np(pthread_self(), name, sizeof name);
  }).join();
  ASSERT_EQ(queried, 0);
  EXPECT_EQ(stack.ss_flags & SS_DISABLE, 0) << "no alternate signal stack";
  EXPECT_NE(stack.ss_sp, nullptr);
  EXPECT_EQ(std::string(name), "tickwell.a-long");
}

}  // namespace
}  // namespace tw
