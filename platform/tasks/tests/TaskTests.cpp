#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/tasks/BFCancellationTokenSource.h"
#include "platform/tasks/BFExecutor.h"
#include "platform/tasks/BFTask.h"
#include "platform/tasks/BFTaskCompletionSource.h"
#include "platform/testsupport/TestSupport.h"

namespace {

tw::ErrorPtr makeError(std::int64_t code) { return tw::Error::make("test", code); }

// ----- completing a task once

TEST(TaskCompletion, FirstCompletionWinsAndLaterTrySetsAreIgnored) {
  BFTaskCompletionSource source;
  EXPECT_FALSE(source.task()->isCompleted());
  EXPECT_TRUE(source.trySetResult(7));
  EXPECT_FALSE(source.trySetResult(8));
  EXPECT_FALSE(source.trySetError(makeError(1)));
  EXPECT_FALSE(source.trySetCancelled());
  const auto& task = source.task();
  EXPECT_TRUE(task->isCompleted());
  EXPECT_FALSE(task->isFaulted());
  EXPECT_FALSE(task->isCancelled());
  EXPECT_EQ(task->result(), tw::Value(7));
  EXPECT_EQ(task->error(), nullptr);
}

TEST(TaskCompletion, SetAfterCompletionRaisesInternalInconsistency) {
  BFTaskCompletionSource source;
  source.setError(makeError(3));
  try {
    source.setResult(1);
    FAIL() << "no exception";
  } catch (const tw::Exception& e) {
    EXPECT_EQ(e.name(), tw::NSInternalInconsistencyException);
  }
  EXPECT_THROW(source.cancel(), tw::Exception);
  EXPECT_TRUE(source.task()->isFaulted());
  EXPECT_EQ(source.task()->error()->code(), 3);
}

// ----- continuations

TEST(TaskContinuation, RunsOnCompletionOrAtOnceWhenAlreadyFinished) {
  BFTaskCompletionSource source;
  int runs = 0;
  auto next = source.task()->continueWithBlock([&](const BFTaskPtr& t) {
    ++runs;
    return tw::Value(t->result().integerValue() * 2);
  });
  EXPECT_EQ(runs, 0);
  EXPECT_FALSE(next->isCompleted());
  source.setResult(21);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(next->result(), tw::Value(42));

  auto late = source.task()->continueWithBlock([&](const BFTaskPtr&) { ++runs; });
  EXPECT_EQ(runs, 2);
  EXPECT_TRUE(late->isCompleted());
  EXPECT_TRUE(late->result().isNull());
}

TEST(TaskContinuation, ReturnedTaskIsFollowedToItsOutcome) {
  BFTaskCompletionSource first;
  BFTaskCompletionSource inner;
  auto chained = first.task()
                     ->continueWithBlock([&](const BFTaskPtr&) { return inner.task(); })
                     ->continueWithBlock([](const BFTaskPtr& t) {
                       return tw::Value(t->result().description() + "!");
                     });
  first.setResult(1);
  EXPECT_FALSE(chained->isCompleted()) << "must wait for the returned task";
  inner.setResult("done");
  EXPECT_EQ(chained->result(), tw::Value("done!"));

  // Errors and cancellation of a followed task arrive unchanged.
  auto error = makeError(9);
  auto failed = BFTask::voidTask()->continueWithBlock(
      [&](const BFTaskPtr&) { return BFTask::taskWithError(error); });
  EXPECT_EQ(failed->error(), error);
  auto cancelled = BFTask::voidTask()->continueWithBlock(
      [](const BFTaskPtr&) { return BFTask::cancelledTask(); });
  EXPECT_TRUE(cancelled->isCancelled());
  // A null task returned counts as a null result.
  auto none = BFTask::voidTask()->continueWithBlock([](const BFTaskPtr&) { return BFTaskPtr(); });
  EXPECT_TRUE(none->isCompleted());
  EXPECT_FALSE(none->isFaulted());
}

TEST(TaskContinuation, SuccessBlockIsSkippedAndErrorOrCancellationPassesUnchanged) {
  auto error = makeError(11);
  int runs = 0;
  auto afterError = BFTask::taskWithError(error)->continueWithSuccessBlock([&](const BFTaskPtr&) {
    ++runs;
    return tw::Value(1);
  });
  auto afterCancel = BFTask::cancelledTask()->continueWithSuccessBlock([&](const BFTaskPtr&) {
    ++runs;
    return tw::Value(1);
  });
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(afterError->error(), error);
  EXPECT_TRUE(afterCancel->isCancelled());
  EXPECT_FALSE(afterCancel->isFaulted());

  // Further down a chain the failure still arrives untouched, and a plain block still runs.
  bool sawError = false;
  afterError->continueWithSuccessBlock([&](const BFTaskPtr&) { ++runs; })
      ->continueWithBlock([&](const BFTaskPtr& t) { sawError = t->error() == error; });
  EXPECT_TRUE(sawError);
  EXPECT_EQ(runs, 0);

  auto ok = BFTask::taskWithResult(2)->continueWithSuccessBlock(
      [&](const BFTaskPtr& t) { return tw::Value(t->result().integerValue() + 1); });
  EXPECT_EQ(ok->result(), tw::Value(3));
}

TEST(TaskContinuation, LongChainsCompleteOnTheCompletingThreadWithoutDeepRecursion) {
  BFTaskCompletionSource source;
  BFTaskPtr tail = source.task();
  const auto self = std::this_thread::get_id();
  std::atomic<int> offThread{0};
  constexpr int kLength = 20000;
  for (int i = 0; i < kLength; ++i) {
    tail = tail->continueWithBlock([&](const BFTaskPtr& t) {
      if (std::this_thread::get_id() != self) ++offThread;
      return tw::Value(t->result().integerValue() + 1);
    });
  }
  source.setResult(0);
  ASSERT_TRUE(tail->isCompleted());
  EXPECT_EQ(tail->result(), tw::Value(kLength));
  EXPECT_EQ(offThread.load(), 0);
}

TEST(TaskContinuationDeathTest, ExceptionEscapingABlockTerminates) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        tw::setLogHook(
            [](tw::LogLevel, std::string_view line) {
              std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
            },
            true);
        BFTask::voidTask()->continueWithBlock([](const BFTaskPtr&) -> tw::Value {
          tw::raise(tw::NSGenericException, "boom in continuation");
        });
      },
      "boom in continuation");
}

// ----- executors

TEST(TaskExecutors, MainThreadExecutorRunsInlineOnMainAndHopsFromOtherThreads) {
  ASSERT_TRUE(tw::isMainThread());
  bool inlineRan = false;
  BFTask::voidTask()->continueWithExecutor(BFExecutor::mainThreadExecutor(),
                                           [&](const BFTaskPtr&) { inlineRan = true; });
  EXPECT_TRUE(inlineRan);

  auto source = BFTaskCompletionSource::taskCompletionSource();
  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> ran{false};
  std::thread::id completer;
  auto next = source->task()->continueWithExecutor(BFExecutor::mainThreadExecutor(),
                                                   [&](const BFTaskPtr& t) {
                                                     ranOnMain = tw::isMainThread();
                                                     ran = true;
                                                     return t->result();
                                                   });
  std::thread worker([&] {
    completer = std::this_thread::get_id();
    source->setResult("from worker");
  });
  worker.join();
  EXPECT_FALSE(ran.load()) << "must wait for the main queue";
  ASSERT_TRUE(tw::test::pumpMainUntil([&] { return next->isCompleted(); }));
  EXPECT_TRUE(ranOnMain.load());
  EXPECT_EQ(next->result(), tw::Value("from worker"));
}

TEST(TaskExecutors, DefaultExecutorRunsOnTheCompletingThread) {
  auto source = BFTaskCompletionSource::taskCompletionSource();
  std::thread::id ranOn;
  auto next = source->task()->continueWithBlock(
      [&](const BFTaskPtr&) { ranOn = std::this_thread::get_id(); });
  std::thread::id workerId;
  std::thread worker([&] {
    workerId = std::this_thread::get_id();
    source->setResult(1);
  });
  worker.join();
  EXPECT_TRUE(next->isCompleted());
  EXPECT_EQ(ranOn, workerId);
}

TEST(TaskExecutors, QueueExecutorRunsOnTheQueue) {
  auto queue = tw::DispatchQueue::createSerial("tasks.test.queue");
  std::atomic<bool> onQueue{false};
  auto next = BFTask::voidTask()->continueWithExecutor(
      BFExecutor::executorWithDispatchQueue(queue),
      [&](const BFTaskPtr&) { onQueue = queue->isCurrent(); });
  next->waitUntilFinished();
  EXPECT_TRUE(onQueue.load());
}

TEST(TaskExecutors, SuccessBlockSkipStillPassesThroughTheExecutor) {
  auto source = BFTaskCompletionSource::taskCompletionSource();
  std::atomic<bool> laterOnMain{false};
  auto after = source->task()
                   ->continueWithExecutorWithSuccessBlock(BFExecutor::mainThreadExecutor(),
                                                          [](const BFTaskPtr&) {})
                   ->continueWithBlock([&](const BFTaskPtr&) { laterOnMain = tw::isMainThread(); });
  std::thread worker([&] { source->setError(makeError(1)); });
  worker.join();
  ASSERT_TRUE(tw::test::pumpMainUntil([&] { return after->isCompleted(); }));
  EXPECT_TRUE(laterOnMain.load());
}

// ----- completion of all

TEST(TaskCompletionOfAll, FinishesOnlyWhenEveryTaskHasFinished) {
  BFTaskCompletionSource a, b;
  auto all = BFTask::taskForCompletionOfAllTasks({a.task(), b.task(), BFTask::voidTask()});
  a.setResult(1);
  EXPECT_FALSE(all->isCompleted());
  b.setResult(2);
  ASSERT_TRUE(all->isCompleted());
  EXPECT_FALSE(all->isFaulted());
  EXPECT_FALSE(all->isCancelled());
  EXPECT_TRUE(all->result().isNull());

  EXPECT_TRUE(BFTask::taskForCompletionOfAllTasks({})->isCompleted());
}

TEST(TaskCompletionOfAll, OneFailureGivesThatErrorEvenBesideACancellation) {
  BFTaskCompletionSource a, b, c;
  auto all = BFTask::taskForCompletionOfAllTasks({a.task(), b.task(), c.task()});
  auto error = makeError(42);
  b.setError(error);
  a.cancel();
  EXPECT_FALSE(all->isCompleted());
  c.setResult(3);
  ASSERT_TRUE(all->isFaulted());
  EXPECT_FALSE(all->isCancelled());
  EXPECT_EQ(all->error(), error);
}

TEST(TaskCompletionOfAll, SeveralFailuresAreListedInTaskOrder) {
  BFTaskCompletionSource a, b, c;
  auto all = BFTask::taskForCompletionOfAllTasks({a.task(), b.task(), c.task()});
  c.setError(tw::Error::make("third", 3));
  a.setError(tw::Error::make("first", 1, tw::Dictionary{{"k", "v"}}));
  b.setResult(2);
  ASSERT_TRUE(all->isFaulted());
  auto error = all->error();
  EXPECT_EQ(error->domain(), BFTaskErrorDomain);
  EXPECT_EQ(error->domain(), "bolts");
  EXPECT_EQ(error->code(), BFTaskMultipleErrorsError);
  const tw::Value listed = error->userInfo().at(BFTaskMultipleErrorsUserInfoKey);
  ASSERT_EQ(listed.count(), 2u);
  EXPECT_EQ(listed.at(0)["domain"], tw::Value("first"));
  EXPECT_EQ(listed.at(0)["code"], tw::Value(1));
  EXPECT_EQ(listed.at(0)["userInfo"]["k"], tw::Value("v"));
  EXPECT_EQ(listed.at(1)["domain"], tw::Value("third"));
}

TEST(TaskCompletionOfAll, CancellationWithoutFailureGivesACancelledTask) {
  BFTaskCompletionSource a, b;
  auto all = BFTask::taskForCompletionOfAllTasks({a.task(), b.task()});
  a.cancel();
  b.setResult(1);
  EXPECT_TRUE(all->isCancelled());
  EXPECT_FALSE(all->isFaulted());
}

// ----- the system's extensions

TEST(TaskExtensions, ResultChecks) {
  EXPECT_TRUE(BFTask::taskWithResult(1)->isResultOk());
  EXPECT_TRUE(BFTask::taskWithResult(1)->isResultNonNull());
  EXPECT_TRUE(BFTask::voidTask()->isResultOk());
  EXPECT_FALSE(BFTask::voidTask()->isResultNonNull());
  EXPECT_TRUE(BFTask::cancelledTask()->isResultOk()) << "a cancelled task counts as OK";
  EXPECT_FALSE(BFTask::cancelledTask()->isResultNonNull());
  EXPECT_FALSE(BFTask::taskWithError(makeError(1))->isResultOk());
  EXPECT_FALSE(BFTask::taskWithError(makeError(1))->isResultNonNull());
}

TEST(TaskExtensions, FaultForNullResultFailsNullAndCancelledTasksOnly) {
  for (const BFTaskPtr& task : {BFTask::cancelledTask(), BFTask::voidTask()}) {
    auto faulted = task->faultForNullResult();
    ASSERT_TRUE(faulted->isFaulted());
    EXPECT_EQ(faulted->error()->domain(), BFTaskErrorDomain);
    EXPECT_EQ(faulted->error()->code(), 71084192);
    EXPECT_TRUE(faulted->error()->userInfo().empty());
    EXPECT_FALSE(faulted->isCancelled());
  }
  auto kept = BFTask::taskWithResult("value")->faultForNullResult();
  EXPECT_EQ(kept->result(), tw::Value("value"));
  auto error = makeError(4);
  EXPECT_EQ(BFTask::taskWithError(error)->faultForNullResult()->error(), error);

  // On a pending task it waits for the outcome.
  BFTaskCompletionSource later;
  auto pending = later.task()->faultForNullResult();
  EXPECT_FALSE(pending->isCompleted());
  later.trySetCancelled();
  EXPECT_EQ(pending->error()->code(), BFTaskNullResultError);
}

TEST(TaskExtensions, ZeroDelayCompletesOnALaterTurnOfTheMainQueue) {
  tw::RunLoop::main().drain();
  auto task = BFTask::taskForDelay(0);
  EXPECT_FALSE(task->isCompleted());
  bool ranOnMain = false;
  task->continueWithBlock([&](const BFTaskPtr&) { ranOnMain = tw::isMainThread(); });
  tw::RunLoop::main().drain();
  EXPECT_TRUE(task->isCompleted());
  EXPECT_TRUE(task->result().isNull());
  EXPECT_TRUE(ranOnMain);
}

TEST(TaskExtensions, DelayFollowsTheVirtualClock) {
  tw::VirtualClock clock;
  auto task = BFTask::taskForDelay(2.5);
  auto shortOne = BFTask::taskForDelay(0.000000001);
  clock.advance(2.4);
  tw::RunLoop::main().drain();
  EXPECT_TRUE(shortOne->isCompleted());
  EXPECT_FALSE(task->isCompleted());
  clock.advance(0.2);
  tw::RunLoop::main().drain();
  EXPECT_TRUE(task->isCompleted());
}

// ----- threads

TEST(TaskThreads, CompletingFromManyThreadsHasExactlyOneWinnerAndRunsEachContinuationOnce) {
  for (int round = 0; round < 20; ++round) {
    auto source = BFTaskCompletionSource::taskCompletionSource();
    std::atomic<int> winners{0};
    std::atomic<int> continuationRuns{0};
    std::vector<BFTaskPtr> continuations;
    std::mutex continuationsMutex;
    std::vector<std::thread> threads;
    threads.reserve(8);
    for (int i = 0; i < 8; ++i) {
      threads.emplace_back([&, i] {
        // Half register continuations while the others race to complete.
        if (i % 2 == 0) {
          auto c = source->task()->continueWithBlock([&](const BFTaskPtr&) { ++continuationRuns; });
          std::lock_guard lock(continuationsMutex);
          continuations.push_back(c);
        }
        bool won = (i % 3 == 0)   ? source->trySetResult(i)
                   : (i % 3 == 1) ? source->trySetError(makeError(i))
                                  : source->trySetCancelled();
        if (won) ++winners;
      });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(winners.load(), 1);
    EXPECT_EQ(continuationRuns.load(), 4);
    for (const auto& c : continuations) EXPECT_TRUE(c->isCompleted());
  }
}

TEST(TaskThreads, CompletionOfAllGathersTasksFinishedOnManyThreads) {
  constexpr int kTasks = 64;
  std::vector<std::shared_ptr<BFTaskCompletionSource>> sources;
  std::vector<BFTaskPtr> tasks;
  for (int i = 0; i < kTasks; ++i) {
    sources.push_back(BFTaskCompletionSource::taskCompletionSource());
    tasks.push_back(sources.back()->task());
  }
  auto all = BFTask::taskForCompletionOfAllTasks(tasks);
  std::vector<std::thread> threads;
  threads.reserve(8);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t; i < kTasks; i += 8) {
        if (i == 17 || i == 40) {
          sources[i]->setError(makeError(i));
        } else {
          sources[i]->setResult(i);
        }
      }
    });
  }
  all->waitUntilFinished();
  for (auto& t : threads) t.join();
  ASSERT_TRUE(all->isFaulted());
  EXPECT_EQ(all->error()->code(), BFTaskMultipleErrorsError);
  const tw::Value listed = all->error()->userInfo().at(BFTaskMultipleErrorsUserInfoKey);
  ASSERT_EQ(listed.count(), 2u);
  EXPECT_EQ(listed.at(0)["code"], tw::Value(17));
  EXPECT_EQ(listed.at(1)["code"], tw::Value(40));
}

TEST(TaskThreads, WaitUntilFinishedReturnsOnceAnotherThreadCompletes) {
  auto source = BFTaskCompletionSource::taskCompletionSource();
  std::thread worker([source] { source->setResult("late"); });
  source->task()->waitUntilFinished();
  worker.join();
  EXPECT_EQ(source->task()->result(), tw::Value("late"));
}

// ----- cancellation tokens

TEST(TaskCancellation, TokenSeesTheSourcesRequest) {
  auto source = BFCancellationTokenSource::cancellationTokenSource();
  auto token = source->token();
  EXPECT_FALSE(token->isCancellationRequested());
  source->cancel();
  source->cancel();
  EXPECT_TRUE(token->isCancellationRequested());
  EXPECT_TRUE(source->isCancellationRequested());
}

}  // namespace
