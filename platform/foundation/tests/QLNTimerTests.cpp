#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/QLNTimer.h"
#include "platform/testsupport/TestSupport.h"

namespace tw {
namespace {

using test::pumpMainUntil;

TEST(QLNTime, UnitConstantsAreThePlainRatios) {
  static_assert(QLN_MSEC_PER_SEC == 1000 && QLN_SEC_PER_MIN == 60 && QLN_MIN_PER_HR == 60);
  static_assert(QLN_SEC_PER_HR == 3600 && QLN_HR_PER_DAY == 24 && QLN_SEC_PER_DAY == 86400);
  static_assert(std::is_same_v<decltype(QLN_SEC_PER_MSEC), const double>);
  EXPECT_DOUBLE_EQ(QLN_SEC_PER_MSEC * QLN_MSEC_PER_SEC, 1.0);
}

// Firing times relative to when the timer started, read inside the handler.
struct Recorder {
  std::mutex mutex;
  std::vector<double> at;
  double origin = clock::monotonicNow();
  std::function<void()> handler() {
    return [this] {
      std::lock_guard<std::mutex> lock(mutex);
      at.push_back(std::round((clock::monotonicNow() - origin) * 1e6) / 1e6);
    };
  }
  std::vector<double> times() {
    std::lock_guard<std::mutex> lock(mutex);
    return at;
  }
};

TEST(QLNTimer, FiresAtOnceOnStartThenOnAnAbsoluteSchedule) {
  VirtualClock vc;
  Recorder rec;
  QLNTimer timer(DispatchQueue::main(), rec.handler());
  EXPECT_FALSE(timer.isActive());
  EXPECT_EQ(timer.interval(), 0.0);
  timer.setFiresImmediately(true);
  timer.setInterval(0.25);
  timer.start();
  EXPECT_TRUE(timer.isActive());
  EXPECT_TRUE(rec.times().empty());  // queued, not run inside start()
  RunLoop::main().drain();
  EXPECT_EQ(rec.times(), (std::vector<double>{0}));
  vc.advance(1.0);
  EXPECT_EQ(rec.times(), (std::vector<double>{0, 0.25, 0.5, 0.75, 1.0}));
  // Odd steps that straddle deadlines change nothing about when firings happen.
  vc.advance(0.1);
  vc.advance(0.3);
  vc.advance(0.35);
  EXPECT_EQ(rec.times(), (std::vector<double>{0, 0.25, 0.5, 0.75, 1.0, 1.25, 1.5, 1.75}));
  timer.start();  // already active: nothing changes
  vc.advance(0);
  EXPECT_EQ(rec.times().size(), 8u);
}

TEST(QLNTimer, WithoutImmediateFiringTheFirstComesAfterOneInterval) {
  VirtualClock vc;
  Recorder rec;
  QLNTimer timer(DispatchQueue::main(), rec.handler());
  timer.setInterval(0.5);
  timer.start();
  vc.advance(0.49);
  EXPECT_TRUE(rec.times().empty());
  vc.advance(0.51);
  EXPECT_EQ(rec.times(), (std::vector<double>{0.5, 1.0}));
}

TEST(QLNTimer, IntervalChangeAppliesFromTheLastFiring) {
  VirtualClock vc;
  Recorder rec;
  QLNTimer timer(DispatchQueue::main(), rec.handler());
  timer.setFiresImmediately(true);
  timer.setInterval(0.25);
  timer.start();
  vc.advance(0.51);  // firings at 0, 0.25, 0.5
  timer.setInterval(0.05);
  EXPECT_TRUE(timer.isActive());
  EXPECT_EQ(timer.interval(), 0.05);
  vc.advance(0.2);  // 0.55 .. 0.7, counted from the firing at 0.5
  timer.setInterval(1.0);
  vc.advance(2.0);  // 1.7, 2.7
  EXPECT_EQ(rec.times(), (std::vector<double>{0, 0.25, 0.5, 0.55, 0.6, 0.65, 0.7, 1.7, 2.7}));
  // When one new interval after the last firing has already passed, the next firing comes at
  // once and the schedule goes on from the last firing.
  vc.advance(0.5);          // now 3.21, next due at 3.7
  timer.setInterval(0.25);  // 2.7 + 0.25 is past
  vc.advance(0);
  vc.advance(0.3);
  auto times = rec.times();
  ASSERT_EQ(times.size(), 11u);
  EXPECT_DOUBLE_EQ(times[9], 3.21);
  EXPECT_DOUBLE_EQ(times[10], 3.45);
}

TEST(QLNTimer, SerialQueueFiringsHaveRunWhenAdvanceReturns) {
  VirtualClock vc;
  auto queue =
      DispatchQueue::createSerial("com.velmora.tickwell.test.timerQueue", QoS::UserInitiated, -1);
  Recorder rec;
  std::atomic<bool> onQueue{true};
  QLNTimer timer(queue, [&, h = rec.handler()] {
    onQueue = onQueue && queue->isCurrent();
    h();
  });
  timer.setFiresImmediately(true);
  timer.setInterval(0.005);  // 200 Hz
  timer.start();
  ASSERT_TRUE(pumpMainUntil([&] { return rec.times().size() == 1; }, 10));
  vc.advance(1.0);
  auto times = rec.times();
  ASSERT_EQ(times.size(), 201u);
  for (std::size_t k = 0; k < times.size(); ++k) EXPECT_NEAR(times[k], k * 0.005, 1e-6) << k;
  EXPECT_TRUE(onQueue);
}

TEST(QLNTimer, StoppedTimerLeavesNothingScheduledAndCanRestart) {
  VirtualClock vc;
  Recorder rec;
  auto timer = std::make_unique<QLNTimer>(DispatchQueue::main(), rec.handler());
  timer->setFiresImmediately(true);
  timer->setInterval(1);
  timer->start();
  vc.advance(2.5);
  ASSERT_EQ(rec.times().size(), 3u);
  timer->stop();
  EXPECT_FALSE(timer->isActive());
  EXPECT_FALSE(vc.nextDeadline().has_value());  // no wake-up of any kind while stopped
  vc.advance(10);
  EXPECT_EQ(rec.times().size(), 3u);
  // A firing already queued when stop() came is dropped as well.
  timer->start();
  timer->stop();
  RunLoop::main().drain();
  EXPECT_EQ(rec.times().size(), 3u);
  // Restarting anchors a new schedule at the restart.
  timer->start();
  vc.advance(1.5);
  EXPECT_EQ(rec.times(), (std::vector<double>{0, 1, 2, 12.5, 13.5}));
  // Destroying an active timer stops it.
  timer.reset();
  EXPECT_FALSE(vc.nextDeadline().has_value());
}

TEST(QLNTimer, ARunningTimerFollowsAVirtualClockInstalledLater) {
  auto queue = DispatchQueue::createSerial("test.timer.handover");
  std::atomic<int> runs{0};
  QLNTimer timer(queue, [&] { ++runs; });
  timer.setFiresImmediately(true);
  timer.setInterval(1.0);
  timer.start();  // real time: the next firing is placed a little ahead for the queue
  ASSERT_TRUE(pumpMainUntil([&] { return runs == 1; }, 10));
  VirtualClock vc;
  vc.advance(3.0);
  EXPECT_EQ(runs.load(), 4);
  timer.stop();
}

TEST(QLNTimer, StopWaitsForARunningHandlerAndNothingRunsAfter) {
  // Real threads: the handler is mid-run on its queue when the main thread stops the timer.
  auto queue = DispatchQueue::createSerial("test.timer.stop");
  Semaphore entered;
  std::atomic<bool> inHandler{false};
  std::atomic<int> runs{0};
  QLNTimer timer(queue, [&] {
    inHandler = true;
    ++runs;
    entered.signal();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    inHandler = false;
  });
  timer.setFiresImmediately(true);
  timer.setInterval(0.001);
  timer.start();
  ASSERT_TRUE(entered.waitFor(10));
  timer.stop();
  EXPECT_FALSE(inHandler.load());
  const int after = runs.load();
  queue->sync([] {});  // anything still queued has had its chance
  EXPECT_EQ(runs.load(), after);
}

TEST(QLNTimer, StopFromInsideTheHandlerDoesNotDeadlock) {
  VirtualClock vc;
  auto queue = DispatchQueue::createSerial("test.timer.self-stop");
  std::atomic<int> runs{0};
  QLNTimer* self = nullptr;
  QLNTimer timer(queue, [&] {
    if (++runs == 3) self->stop();
  });
  self = &timer;
  timer.setInterval(0.1);
  timer.start();
  vc.advance(1.0);
  EXPECT_EQ(runs.load(), 3);
  EXPECT_FALSE(timer.isActive());
}

// Real clock (held-back firings exist only there), told by order and count alone: how long
// anything takes is for bench_qlntimer.
TEST(QLNTimer, RealClockIdleFiringsComeWithTheNextBusyOneAndOtherWorkNeverWaits) {
  auto queue = DispatchQueue::createSerial("test.timer.idle");
  std::mutex mutex;
  // Handler calls as their firing number, each wake-up's question as 0.
  std::vector<int> events;
  int fired = 0;  // only touched on the queue
  std::uint64_t idleEvery = 3;
  QLNTimer timer(queue, [&] {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(++fired);
  });
  // Every third firing has work; the ones before it may wait for it.
  timer.setIdleFirings([&]() -> std::uint64_t {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(0);
    return idleEvery - 1 - static_cast<std::uint64_t>(fired) % idleEvery;
  });
  auto eventsSoFar = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
  };

  // Work queued while the queue holds a wake-up far ahead runs before it, not behind it.
  idleEvery = 1000;
  timer.setInterval(0.05);
  timer.start();
  ASSERT_TRUE(pumpMainUntil([&] { return eventsSoFar().size() >= 2; }, 10));
  std::vector<int> seenByWork;
  queue->sync([&] { seenByWork = eventsSoFar(); });
  EXPECT_EQ(seenByWork, (std::vector<int>{1, 0}));
  timer.stop();

  idleEvery = 3;
  {
    std::lock_guard<std::mutex> lock(mutex);
    events.clear();
  }
  queue->sync([&] { fired = 0; });
  timer.setInterval(0.1);
  timer.start();
  ASSERT_TRUE(pumpMainUntil(
      [&] {
        const auto e = eventsSoFar();
        return std::count(e.begin(), e.end(), 0) >= 4;
      },
      30));
  timer.stop();
  // Every firing once and in order; a wake-up delivers no more than the one due and those it
  // held back (fewer when it came late), and holds some back at all.
  const auto e = eventsSoFar();
  std::vector<int> firings;
  std::vector<std::size_t> perWakeUp;
  std::size_t batch = 0;
  for (int event : e) {
    if (event != 0) {
      firings.push_back(event);
      ++batch;
      continue;
    }
    perWakeUp.push_back(batch);
    batch = 0;
  }
  for (std::size_t i = 0; i < firings.size(); ++i) ASSERT_EQ(firings[i], static_cast<int>(i) + 1);
  ASSERT_GE(perWakeUp.size(), 4u);
  int delivered = 0;
  bool heldAny = false;
  for (std::size_t w = 0; w < perWakeUp.size(); ++w) {
    EXPECT_GE(perWakeUp[w], 1u) << "wake-up " << w;
    const std::uint64_t allowed = w == 0 ? 1 : 1 + (2 - delivered % 3);
    EXPECT_LE(perWakeUp[w], allowed) << "wake-up " << w;
    heldAny = heldAny || perWakeUp[w] > 1;
    delivered += static_cast<int>(perWakeUp[w]);
  }
  EXPECT_TRUE(heldAny) << "no idle firing was held back";
}

// Real clock, main queue: the main loop keeps the timer's deadlines itself. A custom loop driver
// is asked to wake the main thread at each one (and at none once the timer stops), and nothing
// runs before its moment; under the run loop's own driver the main thread sleeps to each deadline
// and no other thread wakes for the firings.
TEST(QLNTimer, OnTheMainQueueTheMainLoopKeepsTheDeadlines) {
  struct RecordingDriver : MainLoopDriver {
    std::mutex mutex;
    std::vector<std::int64_t> moments;
    void wakeUp() override {}
    void wakeAt(std::int64_t monotonicNanos) override {
      std::lock_guard<std::mutex> lock(mutex);
      moments.push_back(monotonicNanos);
    }
    std::int64_t last() {
      std::lock_guard<std::mutex> lock(mutex);
      return moments.empty() ? 0 : moments.back();
    }
  };
  auto nowNanos = [] {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
  auto driver = std::make_shared<RecordingDriver>();
  RunLoop::main().setDriver(driver);
  int fired = 0;
  {
    QLNTimer timer(DispatchQueue::main(), [&] { ++fired; });
    timer.setInterval(0.05);
    const std::int64_t started = nowNanos();
    timer.start();
    const std::int64_t first = driver->last();
    EXPECT_GT(first, started);
    EXPECT_LE(first, nowNanos() + 50'000'000);
    RunLoop::main().drain();
    EXPECT_EQ(fired, 0) << "a firing ran before its moment";
    std::this_thread::sleep_for(std::chrono::nanoseconds(first - nowNanos() + 1'000'000));
    RunLoop::main().drain();
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(driver->last(), first + 50'000'000) << "the next deadline follows the schedule";
  }
  EXPECT_EQ(driver->last(), INT64_MAX) << "a stopped timer leaves a wake-up armed";
  RunLoop::main().setDriver(nullptr);

  fired = 0;
  QLNTimer timer(DispatchQueue::main(), [&] {
    if (++fired == 10) RunLoop::main().stop();
  });
  timer.setInterval(0.02);
  const long before = test::dispatchThreadsWakes();
  const double start = clock::monotonicNow();
  timer.start();
  RunLoop::main().run();
  EXPECT_EQ(fired, 10);
  EXPECT_GE(clock::monotonicNow() - start, 0.2 - 0.001);
  // Threads left by earlier tests, or one blocking a moment on a lock on a loaded machine, may
  // wake a few times on their own; a hop through another thread would wake it for each of the ten
  // firings.
  EXPECT_LE(test::dispatchThreadsWakes() - before, 5)
      << "another thread woke for the main queue's timer";
}

}  // namespace
}  // namespace tw
