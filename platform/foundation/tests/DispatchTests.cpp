#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/testsupport/TestSupport.h"

namespace tw {
namespace {

using test::pumpMainUntil;

std::size_t threadCount() {
  std::size_t n = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

TEST(MainQueue, KeepsEachPostersOrderAndRunsOnTheMainThread) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 500;
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<int> offMain{0};
  int total = 0;
  std::vector<std::thread> posters;
  posters.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        onMain([&, t, i] {
          if (!isMainThread()) ++offMain;
          seen[t].push_back(i);
          ++total;
        });
      }
    });
  }
  ASSERT_TRUE(pumpMainUntil([&] { return total == kThreads * kPerThread; }, 20));
  for (auto& p : posters) p.join();
  EXPECT_EQ(offMain.load(), 0);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kPerThread));
    for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(seen[t][i], i) << "poster " << t;
  }
}

TEST(MainQueue, SyncOnTheMainThreadRunsInline) {
  onMain([] {});  // queued work must not jump ahead of, or run inside, the sync
  bool ran = false;
  DispatchQueue::main()->sync([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(RunLoop::main().pendingCount(), 1u);
  RunLoop::main().drain();
  EXPECT_EQ(DispatchQueue::current(), DispatchQueue::main());
}

TEST(MainQueue, WorkerSyncIsServedFromInsideANestedLoop) {
  std::atomic<bool> workerDone{false};
  bool ranOnMain = false;
  int depthInside = -1;
  onMain([&] {
    // A modal loop: the worker's sync must be served from in here.
    std::thread worker([&] {
      DispatchQueue::main()->sync([&] {
        ranOnMain = isMainThread();
        depthInside = RunLoop::main().depth();
      });
      workerDone = true;
    });
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return workerDone.load(); }, 10));
    worker.join();
  });
  RunLoop::main().drain();
  EXPECT_TRUE(workerDone);
  EXPECT_TRUE(ranOnMain);
  EXPECT_EQ(depthInside, 1);
  EXPECT_EQ(RunLoop::main().depth(), 0);
}

TEST(MainQueue, NestedLoopsDrainLaterWorkAndStopEndsOnlyTheInnermostRun) {
  std::vector<std::string> order;
  onMain([&] {
    order.push_back("outer-start");
    onMain([&] {
      order.push_back("inner-work");
      RunLoop::main().stop();
    });
    RunLoop::main().run();  // nested; ended by the block above
    order.push_back("outer-end");
    RunLoop::main().stop();  // ends the outer run() below
  });
  RunLoop::main().run();
  EXPECT_EQ(order, (std::vector<std::string>{"outer-start", "inner-work", "outer-end"}));
  EXPECT_EQ(RunLoop::main().depth(), 0);
}

TEST(MainQueue, StopFromAnotherThreadEndsRun) {
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    // Post first so the stop cannot land before run() has started.
    onMain([&] {
      std::thread([&] {
        RunLoop::main().stop();
        stopped = true;
      }).detach();
    });
  });
  // Should the stop be lost, a block posted later ends the loop from the main thread itself,
  // so a fault fails the test instead of hanging it.
  std::atomic<bool> rescued{false};
  auto rescue = DispatchQueue::main()->after(5.0, [&] {
    rescued = true;
    RunLoop::main().stop();
  });
  RunLoop::main().run();
  rescue.cancel();
  stopper.join();
  EXPECT_FALSE(rescued.load()) << "run() ignored a stop() from another thread";
  while (!stopped) std::this_thread::yield();  // the detached thread is done with us
}

TEST(MainThreadOnly, ACallFromAnotherThreadIsReportedAndAborts) {
#ifndef NDEBUG
  TW_MAIN_THREAD_ONLY("Example::entry");  // the main thread passes
  // This process has threads of its own by now: the child is started afresh, not forked.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(std::thread([] { TW_MAIN_THREAD_ONLY("Example::entry"); }).join(),
               "Example::entry called off the main thread");
#else
  GTEST_SKIP() << "release builds do not check main-thread contracts";
#endif
}

TEST(MainQueue, DelayedZeroRunsOnALaterTurnAndCanBeCancelled) {
  bool ran = false;
  auto work = DispatchQueue::main()->after(0, [&] { ran = true; });
  EXPECT_FALSE(ran);
  EXPECT_TRUE(static_cast<bool>(work));
  RunLoop::main().drain();
  EXPECT_TRUE(ran);

  bool cancelledRan = false;
  auto cancelled = DispatchQueue::main()->after(0, [&] { cancelledRan = true; });
  cancelled.cancel();
  EXPECT_TRUE(cancelled.isCancelled());
  RunLoop::main().drain();
  EXPECT_FALSE(cancelledRan);
  DelayedWork().cancel();  // a default handle is harmless
}

TEST(MainQueue, CustomDriverIsWokenOncePerDrainCycle) {
  struct CountingDriver : MainLoopDriver {
    std::atomic<int> wakes{0};
    void wakeUp() override { ++wakes; }
    void wakeAt(std::int64_t /*monotonicNanos*/) override {}
  };
  auto driver = std::make_shared<CountingDriver>();
  auto previous = RunLoop::main().driver();
  RunLoop::main().setDriver(driver);
  EXPECT_EQ(RunLoop::main().driver(), driver);
  std::thread([] {
    for (int i = 0; i < 10; ++i) onMain([] {});
  }).join();
  EXPECT_EQ(driver->wakes.load(), 1);
  EXPECT_EQ(RunLoop::main().drain(), 10u);
  std::thread([] { onMain([] {}); }).join();
  EXPECT_EQ(driver->wakes.load(), 2);
  RunLoop::main().drain();
  RunLoop::main().setDriver(nullptr);
  EXPECT_NE(RunLoop::main().driver(), driver);
  (void)previous;
}

TEST(MainQueueDeathTest, ExceptionEscapingABlockTerminates) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        onMain([] { throw std::runtime_error("escaped"); });
        RunLoop::main().drain();
      },
      "");
}

TEST(SerialQueue, RunsInOrderOnOneThreadThatKnowsItsQueue) {
  auto queue = DispatchQueue::createSerial("com.velmora.tickwell.test.serial");
  EXPECT_TRUE(queue->isSerial());
  EXPECT_FALSE(queue->isMain());
  std::vector<int> order;
  std::vector<std::thread::id> threads;
  std::atomic<int> concurrent{0}, maxConcurrent{0};
  bool knewItself = true;
  for (int i = 0; i < 200; ++i) {
    queue->async([&, i] {
      int now = ++concurrent;
      maxConcurrent = std::max(maxConcurrent.load(), now);
      order.push_back(i);
      threads.push_back(std::this_thread::get_id());
      knewItself = knewItself && DispatchQueue::current() == queue && queue->isCurrent();
      --concurrent;
    });
  }
  // sync waits for everything before it, and runs inline when already on the queue.
  bool nested = false;
  queue->sync([&] { queue->sync([&] { nested = true; }); });
  EXPECT_TRUE(nested);
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(maxConcurrent.load(), 1);
  EXPECT_TRUE(knewItself);
  for (auto& id : threads) EXPECT_EQ(id, threads.front());
  EXPECT_NE(threads.front(), std::this_thread::get_id());
  EXPECT_FALSE(queue->isCurrent());
}

TEST(SerialQueue, QueuedWorkOutlivesTheLastReference) {
  std::atomic<int> ran{0};
  {
    auto queue = DispatchQueue::createSerial("test.outlive");
    for (int i = 0; i < 50; ++i) queue->async([&] { ++ran; });
  }
  EXPECT_TRUE(pumpMainUntil([&] { return ran == 50; }, 10));
}

TEST(SerialQueue, ThousandCreateDestroyCyclesLeaveNoThreadsBehind) {
  const std::size_t before = threadCount();
  std::atomic<int> ran{0};
  for (int i = 0; i < 1000; ++i) {
    auto queue = DispatchQueue::createSerial("test.cycle");
    queue->async([&] { ++ran; });
    if (i % 2 == 0) queue->sync([] {});
  }
  // An unused queue never starts a thread at all.
  for (int i = 0; i < 100; ++i) DispatchQueue::createSerial("test.unused");
  ASSERT_TRUE(pumpMainUntil([&] { return ran == 1000; }, 30));
  // Detached threads take a moment to leave the task list after their last block.
  EXPECT_TRUE(pumpMainUntil([&] { return threadCount() <= before; }, 30))
      << "threads before " << before << ", after " << threadCount();
}

TEST(GlobalQueue, RunsBlocksConcurrentlyAndReportsItselfCurrent) {
  auto global = DispatchQueue::global();
  EXPECT_FALSE(global->isSerial());
  EXPECT_EQ(DispatchQueue::global(QoS::Default), global);
  // Two blocks that each wait for the other only finish if they run at the same time.
  Semaphore a, b;
  std::atomic<int> done{0};
  std::atomic<bool> knewItself{true};
  global->async([&] {
    a.signal();
    b.wait();
    knewItself = knewItself && DispatchQueue::current() == global;
    ++done;
  });
  global->async([&] {
    b.signal();
    a.wait();
    ++done;
  });
  EXPECT_TRUE(pumpMainUntil([&] { return done == 2; }, 10));
  EXPECT_TRUE(knewItself);
  bool inline_ = false;
  global->sync([&] { inline_ = DispatchQueue::current() == global; });
  EXPECT_TRUE(inline_);
  EXPECT_EQ(DispatchQueue::current(), DispatchQueue::main());
}

TEST(GlobalQueue, BlockedWorkersDoNotStarveQueuedWork) {
  // More blocks than cores, each waiting until all have started: only finishes if the pool adds
  // workers for those parked in a wait.
  const int n = static_cast<int>(std::max(2u, std::thread::hardware_concurrency())) + 4;
  DispatchGroup started;
  std::atomic<int> finished{0};
  for (int i = 0; i < n; ++i) started.enter();
  for (int i = 0; i < n; ++i) {
    DispatchQueue::global()->async([&] {
      started.leave();
      started.wait();
      ++finished;
    });
  }
  EXPECT_TRUE(pumpMainUntil([&] { return finished == n; }, 20));
}

TEST(Semaphore, CountsSignalsAndWakesAWaiter) {
  Semaphore s(2);
  EXPECT_TRUE(s.waitFor(0));
  EXPECT_TRUE(s.waitFor(0));
  EXPECT_FALSE(s.waitFor(0));
  std::atomic<bool> woke{false};
  std::thread waiter([&] {
    s.wait();
    woke = true;
  });
  s.signal();
  waiter.join();
  EXPECT_TRUE(woke);
}

TEST(DispatchGroup, NotifiesOnceAllMembersLeftAndRejectsAnUnbalancedLeave) {
  DispatchGroup group;
  std::atomic<int> ran{0};
  auto queue = DispatchQueue::createSerial("test.group");
  for (int i = 0; i < 10; ++i) group.async(DispatchQueue::global(), [&] { ++ran; });
  group.enter();
  bool notified = false;
  group.notify(DispatchQueue::main(), [&] { notified = true; });
  EXPECT_TRUE(pumpMainUntil([&] { return ran == 10; }, 10));
  RunLoop::main().drain();
  EXPECT_FALSE(notified);
  group.leave();
  EXPECT_TRUE(pumpMainUntil([&] { return notified; }, 10));
  EXPECT_EQ(ran.load(), 10);
  EXPECT_TRUE(group.wait(0));
  EXPECT_TRUE(group.wait());
  // A notify on an empty group runs on a later turn.
  bool late = false;
  group.notify(DispatchQueue::main(), [&] { late = true; });
  EXPECT_FALSE(late);
  RunLoop::main().drain();
  EXPECT_TRUE(late);
  EXPECT_THROW(group.leave(), Exception);
}

}  // namespace
}  // namespace tw
