#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/testsupport/TestSupport.h"

namespace tw {
namespace {

// Thread-safe record of what ran, in order.
struct Trace {
  std::mutex mutex;
  std::vector<std::string> items;
  void add(std::string s) {
    std::lock_guard<std::mutex> lock(mutex);
    items.push_back(std::move(s));
  }
  std::vector<std::string> get() {
    std::lock_guard<std::mutex> lock(mutex);
    return items;
  }
};

TEST(OperationQueue, SerialQueueRunsOneAtATimeInOrder) {
  auto queue = OperationQueue::create("test.serial");
  queue->setMaxConcurrentOperationCount(1);
  EXPECT_EQ(queue->name(), "test.serial");
  std::atomic<int> concurrent{0}, maxConcurrent{0};
  Trace trace;
  for (int i = 0; i < 50; ++i) {
    queue->addOperationWithBlock([&, i] {
      int now = ++concurrent;
      maxConcurrent = std::max(maxConcurrent.load(), now);
      trace.add(std::to_string(i));
      --concurrent;
    });
  }
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(queue->operationCount(), 0u);
  EXPECT_EQ(maxConcurrent.load(), 1);
  auto items = trace.get();
  ASSERT_EQ(items.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(items[i], std::to_string(i));
}

TEST(OperationQueue, ConcurrentQueueRunsOperationsTogether) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(2);
  Semaphore a, b;
  // Each waits for the other: only when both run at once does either see the other's signal.
  std::atomic<bool> firstSawSecond{false}, secondSawFirst{false};
  queue->addOperationWithBlock([&] {
    a.signal();
    firstSawSecond = b.waitFor(5.0);
  });
  queue->addOperationWithBlock([&] {
    b.signal();
    secondSawFirst = a.waitFor(5.0);
  });
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(firstSawSecond.load());
  EXPECT_TRUE(secondSawFirst.load());
}

TEST(OperationQueue, DependencyAddedWhileQueuedHoldsTheOperationBack) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(1);
  Semaphore release;
  Trace trace;
  queue->addOperationWithBlock([&] { release.wait(); });  // occupies the queue
  auto later = queue->addOperationWithBlock([&] { trace.add("later"); });
  auto first = queue->addOperationWithBlock([&] { trace.add("first"); });
  // `later` already waits in the queue; the new dependency must still hold it back.
  later->addDependency(first);
  EXPECT_FALSE(later->isReady());
  EXPECT_EQ(later->dependencies().size(), 1u);
  release.signal();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(trace.get(), (std::vector<std::string>{"first", "later"}));
}

TEST(OperationQueue, DependenciesAcrossQueues) {
  auto a = OperationQueue::create("a");
  auto b = OperationQueue::create("b");
  b->setSuspended(true);
  Trace trace;
  auto producer = BlockOperation::create([&] { trace.add("producer"); });
  auto consumer = BlockOperation::create([&] { trace.add("consumer"); });
  consumer->addDependency(producer);
  a->addOperation(consumer);
  b->addOperation(producer);
  EXPECT_EQ(b->operationCount(), 1u);
  EXPECT_FALSE(consumer->isFinished());
  b->setSuspended(false);
  consumer->waitUntilFinished();
  EXPECT_EQ(trace.get(), (std::vector<std::string>{"producer", "consumer"}));
  // Removing the only dependency makes an operation ready again.
  auto x = BlockOperation::create([] {});
  auto y = BlockOperation::create([] {});
  y->addDependency(x);
  EXPECT_FALSE(y->isReady());
  y->removeDependency(x);
  EXPECT_TRUE(y->isReady());
}

TEST(OperationQueue, CancelledOperationsSkipTheirWorkButFinishAndReleaseDependents) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(1);  // the completion then surely precedes `dependent`
  queue->setSuspended(true);
  Trace trace;
  auto never = BlockOperation::create([&] { trace.add("cancelled work"); });
  auto gate = BlockOperation::create([] {});
  never->addDependency(gate);  // a cancelled operation no longer waits for its dependencies
  std::atomic<bool> completionSawFinished{false};
  never->setCompletionBlock([&] {
    completionSawFinished = never->isFinished();
    trace.add("completion");
  });
  auto dependent = BlockOperation::create([&] { trace.add("dependent"); });
  dependent->addDependency(never);
  queue->addOperation(never);
  queue->addOperation(dependent);
  never->cancel();
  EXPECT_TRUE(never->isCancelled());
  EXPECT_TRUE(never->isReady());
  queue->setSuspended(false);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(never->isFinished());
  EXPECT_FALSE(never->isExecuting());
  EXPECT_TRUE(completionSawFinished);
  EXPECT_EQ(trace.get(), (std::vector<std::string>{"completion", "dependent"}));

  queue->setSuspended(true);
  std::atomic<int> ran{0};
  for (int i = 0; i < 10; ++i) queue->addOperationWithBlock([&] { ++ran; });
  queue->cancelAllOperations();
  queue->setSuspended(false);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(ran.load(), 0);
}

TEST(OperationQueue, CurrentQueueIsKnownInsideOperations) {
  auto queue = OperationQueue::create("test.current");
  std::shared_ptr<OperationQueue> seen;
  queue->addOperationWithBlock([&] { seen = OperationQueue::current(); });
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(seen, queue);
  EXPECT_EQ(OperationQueue::current(), OperationQueue::main());
  std::shared_ptr<OperationQueue> onPlainThread = OperationQueue::main();
  std::thread([&] { onPlainThread = OperationQueue::current(); }).join();
  EXPECT_EQ(onPlainThread, nullptr);
}

TEST(OperationQueue, MainQueueRunsOnTheMainThread) {
  auto main = OperationQueue::main();
  EXPECT_EQ(main->maxConcurrentOperationCount(), 1);
  bool onMain = false;
  auto op = main->addOperationWithBlock([&] { onMain = isMainThread(); });
  EXPECT_FALSE(op->isFinished());             // queued on the main queue, not run inline
  main->waitUntilAllOperationsAreFinished();  // serves the main queue meanwhile
  EXPECT_TRUE(onMain);
  EXPECT_TRUE(op->isFinished());
}

TEST(OperationQueue, MisuseRaises) {
  auto queue = OperationQueue::create();
  queue->setSuspended(true);
  auto op = BlockOperation::create([] {});
  queue->addOperation(op);
  EXPECT_THROW(queue->addOperation(op), Exception);
  EXPECT_THROW(op->start(), Exception);
  queue->setSuspended(false);
  op->waitUntilFinished();
  EXPECT_THROW(queue->addOperation(op), Exception);
  EXPECT_THROW(op->addExecutionBlock([] {}), Exception);

  // Started by hand, an operation runs on the caller's thread; not before it is ready.
  auto dep = BlockOperation::create([] {});
  bool ranHere = false;
  auto manual = BlockOperation::create([&] { ranHere = true; });
  manual->addExecutionBlock([&] { ranHere = ranHere && isMainThread(); });
  manual->addDependency(dep);
  EXPECT_THROW(manual->start(), Exception);
  dep->start();
  manual->start();
  EXPECT_TRUE(ranHere);
  EXPECT_TRUE(manual->isFinished());
  EXPECT_THROW(manual->start(), Exception);
}

}  // namespace
}  // namespace tw
