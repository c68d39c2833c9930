// Asynchronous operations and compound operations: when they finish, what they report, and how
// cancellation at each stage ends them.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "kits/platform/TSYCompoundOperation.h"
#include "kits/platform/TSYKitQueues.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"

namespace {

// Finishes on another thread once released (at once when `autoRelease`).
class Work : public TSYAsyncOperation {
 public:
  explicit Work(tw::ErrorPtr error = nullptr, bool autoRelease = true)
      : error_(std::move(error)), autoRelease_(autoRelease) {}
  void release() { gate_.signal(); }
  std::atomic<int> mainRuns{0};

 protected:
  void main() override {
    ++mainRuns;
    auto self = std::static_pointer_cast<Work>(shared_from_this());
    std::thread([self] {
      if (!self->autoRelease_) self->gate_.wait();
      self->finishWithError(self->error_);
    }).detach();
  }

 private:
  tw::ErrorPtr error_;
  bool autoRelease_;
  tw::Semaphore gate_;
};

struct Finished {
  std::promise<tw::ErrorPtr> promise;
  std::atomic<int> calls{0};
  TSYAsyncOperation::AsyncCompletion completion() {
    return [this](const tw::ErrorPtr& e) {
      if (++calls == 1) promise.set_value(e);
    };
  }
  tw::ErrorPtr wait() {
    auto future = promise.get_future();
    EXPECT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    return future.get();
  }
};

TEST(AsyncOperation, FinishesAfterMainOnceAndInStateOrder) {
  auto queue = tw::OperationQueue::create("test");
  auto op = std::make_shared<Work>(nullptr, false);
  std::vector<std::string> notices;
  std::mutex mutex;
  op->setStateObserver([&](const std::string& key, bool will) {
    std::lock_guard<std::mutex> lock(mutex);
    notices.push_back((will ? "will " : "did ") + key);
  });
  Finished finished;
  op->setAsyncCompletion(finished.completion());
  queue->addOperation(op);
  while (op->mainRuns == 0) std::this_thread::yield();
  EXPECT_TRUE(op->isExecuting());  // main returned, the work goes on
  EXPECT_FALSE(op->isFinished());
  op->release();
  EXPECT_FALSE(finished.wait());
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(op->isFinished());
  op->finishWithError(tw::Error::make("x", 1));  // a second finish changes nothing
  EXPECT_EQ(finished.calls.load(), 1);
  EXPECT_EQ(notices, (std::vector<std::string>{"will isExecuting", "did isExecuting",
                                               "will isFinished", "did isFinished"}));
  EXPECT_EQ(op->lockName(), "com.pelworth.TSYAsyncOperation-lock");

  auto cancelled = std::make_shared<Work>();
  Finished never;
  cancelled->setAsyncCompletion(never.completion());
  cancelled->cancel();
  queue->addOperation(cancelled);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(cancelled->isFinished());
  EXPECT_EQ(cancelled->mainRuns.load(), 0);
  EXPECT_EQ(never.calls.load(), 0);
}

std::shared_ptr<TSYCompoundOperation> compound(
    std::vector<std::shared_ptr<TSYAsyncOperation>> children, Finished& finished) {
  auto op = std::make_shared<TSYCompoundOperation>();
  op->setName("bundle");
  op->setOperations(std::move(children));
  op->setAsyncCompletion(finished.completion());
  return op;
}

TEST(CompoundOperation, ReportsChildrenTogether) {
  auto queue = tw::OperationQueue::create("test");
  Finished ok;
  Finished childDone;
  auto first = std::make_shared<Work>();
  first->setAsyncCompletion(childDone.completion());
  queue->addOperation(compound({first, std::make_shared<Work>()}, ok));
  EXPECT_FALSE(ok.wait());
  EXPECT_EQ(childDone.calls.load(), 1);  // the child's own completion still runs

  Finished failed;
  auto op =
      compound({std::make_shared<Work>(), std::make_shared<Work>(tw::Error::make("c", 7))}, failed);
  queue->addOperation(op);
  auto error = failed.wait();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), "com.pelworth.TSYCompoundOperation.error");
  EXPECT_EQ(error->code(), 4294967293);
  EXPECT_EQ(error->userInfo().at(TSYCompoundOperationUnderlyingErrorsKey).count(), 1u);
  EXPECT_EQ(op->completedOperations(), 1u);
  EXPECT_EQ(op->errors().at(0)->code(), 7);

  Finished empty;
  auto none = compound({}, empty);
  queue->addOperation(none);
  EXPECT_FALSE(empty.wait());
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(none->isFinished());
}

TEST(CompoundOperation, CancellationEndsItOnceAtEveryStage) {
  auto queue = tw::OperationQueue::create("test");
  // While children run: finishes at once with the cancellation error, once.
  Finished running;
  auto slow = std::make_shared<Work>(nullptr, false);
  auto op = compound({slow, std::make_shared<Work>()}, running);
  queue->addOperation(op);
  while (slow->mainRuns == 0) std::this_thread::yield();
  std::thread([op] { op->cancel(); }).join();
  auto error = running.wait();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 4294967294);
  EXPECT_EQ(error->localizedDescription(), "bundle cancelled");
  slow->release();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(op->isFinished());
  EXPECT_EQ(running.calls.load(), 1);

  // Before it starts: no child ever runs, and it still finishes.
  Finished early;
  auto child = std::make_shared<Work>();
  auto notStarted = compound({child}, early);
  notStarted->cancel();
  queue->addOperation(notStarted);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(notStarted->isFinished());
  EXPECT_EQ(child->mainRuns.load(), 0);

  // After it finished: nothing happens, no child runs again.
  Finished done;
  auto again = std::make_shared<Work>();
  auto finished = compound({again}, done);
  queue->addOperation(finished);
  EXPECT_FALSE(done.wait());
  queue->waitUntilAllOperationsAreFinished();
  finished->cancel();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(again->mainRuns.load(), 1);
  finished->compoundQueue()->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(done.calls.load(), 1);
  EXPECT_EQ(finished->compoundQueue()->operationCount(), 0u);
}

// A kit's fault never ends the application: on the kits' queues a throwing block or operation is
// logged with the queue's name, and the queue runs what comes next. An asynchronous operation
// whose main() throws is finished, so what depends on it still runs.
TEST(KitQueues, AThrowingBlockIsLoggedWithTheQueuesNameAndTheQueueGoesOn) {
  class Throws : public TSYAsyncOperation {
   protected:
    // NOLINTNEXTLINE(bugprone-exception-escape): the throw is what the queue is tested on
    void main() override { throw std::runtime_error("no such record"); }
  };
  tw::LogCapture log;
  auto serial = TSYCreateSerialQueue("kit.test.serial");
  std::atomic<int> ran{0};
  serial->async([] { tw::raise(tw::NSInvalidArgumentException, "a bad key"); });
  serial->async([&] { ++ran; });
  serial->sync([] { throw std::runtime_error("from sync"); });  // returns to its caller
  serial->sync([&] { ++ran; });
  EXPECT_EQ(ran.load(), 2);

  auto operations = TSYCreateOperationQueue("kit.test.operations");
  auto throwing = std::make_shared<Throws>();
  auto after = tw::BlockOperation::create([&] { ++ran; });
  after->addDependency(throwing);
  operations->addOperationWithBlock([] { throw 7; });
  operations->addOperation(throwing);
  operations->addOperation(after);
  operations->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(throwing->isFinished());
  EXPECT_EQ(ran.load(), 3);

  auto escaped = [&](const std::string& queue, const std::string& name, const std::string& reason) {
    return log.contains("*** Exception '" + name + "' escaped a block of " + queue +
                        ", which goes on; reason: '" + reason + "'");
  };
  EXPECT_TRUE(escaped("kit.test.serial", "NSInvalidArgumentException", "a bad key"));
  EXPECT_TRUE(escaped("kit.test.serial", "std::exception", "from sync"));
  EXPECT_TRUE(escaped("kit.test.operations", "NSGenericException", "unknown exception"));
  EXPECT_TRUE(escaped("kit.test.operations", "std::exception", "no such record"));
}

}  // namespace
