#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/testsupport/TestSupport.h"

namespace tw {
namespace {

using test::pumpMainUntil;

TEST(Clock, RealClocksAreSaneWithoutAVirtualClock) {
  EXPECT_EQ(clock::virtualClock(), nullptr);
  EXPECT_GT(clock::wallNow(), 1.6e9);
  const auto a = clock::monotonicNanos();
  const auto b = clock::monotonicNanos();
  EXPECT_LE(a, b);
}

TEST(VirtualClock, OwnsEveryNowWhileInstalled) {
  const double realBefore = clock::wallNow();
  {
    VirtualClock vc(1'000'000.0);
    EXPECT_EQ(clock::virtualClock(), &vc);
    EXPECT_DOUBLE_EQ(clock::wallNow(), 1'000'000.0);
    const double mono = clock::monotonicNow();
    vc.advance(2.5);
    EXPECT_DOUBLE_EQ(clock::wallNow(), 1'000'002.5);
    EXPECT_DOUBLE_EQ(clock::monotonicNow() - mono, 2.5);
    // A user changing the system time moves the wall clock only.
    vc.setWall(5'000'000.0);
    EXPECT_DOUBLE_EQ(clock::wallNow(), 5'000'000.0);
    EXPECT_DOUBLE_EQ(clock::monotonicNow() - mono, 2.5);
    // Many small steps add up exactly.
    for (int i = 0; i < 2000; ++i) vc.advance(0.005);
    EXPECT_DOUBLE_EQ(clock::wallNow(), 5'000'010.0);
    EXPECT_THROW(VirtualClock second, Exception);
  }
  EXPECT_EQ(clock::virtualClock(), nullptr);
  EXPECT_GE(clock::wallNow(), realBefore);
}

TEST(VirtualClock, TrailingDebounceFiresOnceTenSecondsAfterTheLastChange) {
  VirtualClock vc;
  int fired = 0;
  double firedAt = 0;
  DelayedWork pending;
  double lastChange = 0;
  for (int i = 0; i < 30; ++i) {
    // Each change cancels the previous perform and schedules a new one.
    pending.cancel();
    pending = DispatchQueue::main()->after(10, [&] {
      ++fired;
      firedAt = clock::wallNow();
    });
    lastChange = clock::wallNow();
    vc.advance(1);
  }
  EXPECT_EQ(fired, 0);
  vc.advance(8.999);
  EXPECT_EQ(fired, 0);
  vc.advance(0.001);
  EXPECT_EQ(fired, 1);
  EXPECT_DOUBLE_EQ(firedAt, lastChange + 10);
  vc.advance(60);
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(vc.nextDeadline().has_value());
}

TEST(VirtualClock, StepsThroughDeadlinesInOrderIncludingChainedWork) {
  VirtualClock vc;
  const double t0 = clock::monotonicNow();
  std::vector<std::pair<std::string, double>> log;
  auto main = DispatchQueue::main();
  auto note = [&](std::string what) {
    log.emplace_back(std::move(what), clock::monotonicNow() - t0);
  };
  main->after(3, [&] { note("c"); });
  main->after(1, [&] {
    note("a");
    // Work posted by due work runs before the clock moves on...
    main->async([&] { note("a-posted"); });
    // ...and delayed work it schedules fires within the same advance when it falls inside.
    main->after(1.5, [&] { note("a-chained"); });
  });
  main->after(1, [&] { note("b-same-deadline"); });
  auto cancelled = main->after(2, [&] { note("cancelled"); });
  cancelled.cancel();
  vc.advance(5);
  const std::vector<std::pair<std::string, double>> expected{
      {"a", 1}, {"a-posted", 1}, {"b-same-deadline", 1}, {"a-chained", 2.5}, {"c", 3}};
  ASSERT_EQ(log.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(log[i].first, expected[i].first);
    EXPECT_NEAR(log[i].second, expected[i].second, 1e-9) << log[i].first;
  }
}

TEST(VirtualClock, WorkOnOtherQueuesHasRunWhenAdvanceReturns) {
  VirtualClock vc;
  auto serial = DispatchQueue::createSerial("test.virtual.serial");
  std::atomic<int> ran{0};
  std::vector<double> seenAt;
  const double t0 = clock::monotonicNow();
  for (int i = 1; i <= 5; ++i) {
    serial->after(i, [&] {
      seenAt.push_back(clock::monotonicNow() - t0);
      ++ran;
    });
  }
  // A block that waits for the main thread must not deadlock the advancing main thread.
  bool syncedToMain = false;
  serial->after(2.5, [&] { DispatchQueue::main()->sync([&] { syncedToMain = true; }); });
  DispatchQueue::global()->after(3.5, [&] { ++ran; });
  vc.advance(10);
  EXPECT_EQ(ran.load(), 6);
  EXPECT_TRUE(syncedToMain);
  serial->sync([] {});
  EXPECT_EQ(seenAt, (std::vector<double>{1, 2, 3, 4, 5}));
}

TEST(VirtualClock, TimedWaitsOnOtherThreadsExpireAtTheirVirtualDeadline) {
  VirtualClock vc;
  Semaphore semaphore;
  DispatchGroup group;
  group.enter();
  std::atomic<int> semaphoreResult{-1}, groupResult{-1};
  const double start = vc.monotonic();
  auto deadlineIs = [&](double d) {
    auto next = vc.nextDeadline();
    return next && std::abs(*next - (start + d)) < 1e-6;
  };
  std::thread groupWaiter([&] { groupResult = group.wait(8) ? 1 : 0; });
  ASSERT_TRUE(pumpMainUntil([&] { return deadlineIs(8); }, 10));
  std::thread semWaiter([&] { semaphoreResult = semaphore.waitFor(5) ? 1 : 0; });
  ASSERT_TRUE(pumpMainUntil([&] { return deadlineIs(5); }, 10));
  vc.advance(4.9);
  EXPECT_EQ(semaphoreResult.load(), -1);
  vc.advance(0.1);
  semWaiter.join();
  EXPECT_EQ(semaphoreResult.load(), 0);
  // The group's member leaves before its deadline: the wait succeeds, and its deadline is gone.
  EXPECT_TRUE(deadlineIs(8));
  group.leave();
  groupWaiter.join();
  EXPECT_EQ(groupResult.load(), 1);
  EXPECT_FALSE(vc.nextDeadline().has_value());
  // A signal before the deadline ends a timed wait with success.
  std::thread signalled([&] { semaphoreResult = semaphore.waitFor(100) ? 1 : 0; });
  ASSERT_TRUE(pumpMainUntil([&] { return vc.nextDeadline().has_value(); }, 10));
  semaphore.signal();
  signalled.join();
  EXPECT_EQ(semaphoreResult.load(), 1);
}

TEST(VirtualClock, PendingWorkMovesBackToRealTimeWhenTheClockGoes) {
  bool ran = false;
  {
    VirtualClock vc;
    DispatchQueue::main()->after(0.02, [&] { ran = true; }).cancel();
    auto kept = DispatchQueue::main()->after(0.01, [&] { ran = true; });
    vc.advance(0.005);
    EXPECT_FALSE(ran);
    (void)kept;
  }
  // 5 ms were left; real time now has to deliver them.
  EXPECT_TRUE(pumpMainUntil([&] { return ran; }, 10));
}

}  // namespace
}  // namespace tw
