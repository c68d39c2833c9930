#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "kits/analytics/ORVTimer.h"
#include "platform/foundation/Clock.h"

namespace tw::test {
namespace {

TEST(AnalyticsTimer, FiresEveryIntervalOnTheQueueUntilReleased) {
  VirtualClock clock;
  auto queue = OperationQueue::create("io.oriseth.EventQueue");
  queue->setMaxConcurrentOperationCount(1);
  std::atomic<int> fired{0};
  std::atomic<bool> onQueue{true};
  auto timer = ORVTimer::create(60, queue, "io.oriseth.TimedEventsFlush", [&] {
    onQueue = onQueue && OperationQueue::current() == queue;
    ++fired;
  });
  EXPECT_EQ(timer->tolerance(), 6.0);
  clock.advance(59);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(fired, 0);
  clock.advance(1.5);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(fired, 1);
  clock.advance(120);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(fired, 3);
  EXPECT_TRUE(onQueue);
  timer.reset();
  clock.advance(600);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(fired, 3);

  // Intervals that make no sense schedule nothing.
  for (double bad : {0.0, -5.0, std::nan(""), -HUGE_VAL}) {
    auto t = ORVTimer::create(bad, queue, "x", [&] { ++fired; });
    clock.advance(1000);
  }
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(fired, 3);
  EXPECT_EQ(ORVTimer::create(HUGE_VAL, queue, "x", [] {})->timeInterval(), 0.0);
  EXPECT_EQ(ORVTimer::create(1e300, queue, "x", [] {})->timeInterval(), ORVTimer::kMaximumInterval);
}

TEST(AnalyticsActivity, TerminationSwitchesSpanTheActivityOnce) {
  auto& switches = TerminationActivities::shared();
  const std::size_t before = switches.count();
  auto op = ORVActivityOperation::operationByStartingActivityName("io.oriseth.RecordEvent", 0xC000);
  EXPECT_TRUE(op->activity()->isActive());  // before any queue has it
  EXPECT_EQ(switches.count(), before + 1);
  auto queue = OperationQueue::create("q");
  auto work = std::make_shared<BlockOperation>([&] { EXPECT_EQ(switches.count(), before + 1); });
  op->addDependency(work);
  queue->addOperations({work, op}, true);
  EXPECT_FALSE(op->activity()->isActive());
  op->activity()->end();
  EXPECT_EQ(switches.count(), before);
  ORVActivity::performActivity("r", 0x4000, [&] { EXPECT_EQ(switches.count(), before + 1); });
  // Neither termination bit: nothing to wait for.
  ORVActivity::performActivity("r", 0xFF, [&] { EXPECT_EQ(switches.count(), before); });
  EXPECT_EQ(switches.count(), before);
}

}  // namespace
}  // namespace tw::test
