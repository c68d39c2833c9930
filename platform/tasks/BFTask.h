#pragma once
// BFTask: the outcome of an operation that finishes later: pending, then exactly once a result
// (a tw::Value, which may hold an object), an error, or cancelled. Completed only through its
// BFTaskCompletionSource. Shared through std::shared_ptr; every member is safe on any thread, and
// a task may complete on any thread.
//
// Continuations: continueWithBlock runs its block once the task has finished (at once, on the
// block's executor, when it already has). The block receives the finished task and returns either
// a value, which becomes the result of the continuation's own task, or a task, which that task
// then follows to the same outcome; a block returning nothing gives a null result. An exception
// escaping a block ends the process through tw::terminateWithUncaught, as at every other callback
// boundary.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/tasks/BFExecutor.h"

class BFTask;
class BFTaskCompletionSource;
using BFTaskPtr = std::shared_ptr<BFTask>;

// The task library's error domain, and its codes.
inline constexpr const char* BFTaskErrorDomain = "bolts";
// taskForCompletionOfAllTasks when more than one task failed; user info "errors" lists them all.
inline constexpr std::int64_t BFTaskMultipleErrorsError = 1;
inline constexpr const char* BFTaskMultipleErrorsUserInfoKey = "errors";
// faultForNullResult on a task that finished without error and without a result.
inline constexpr std::int64_t BFTaskNullResultError = 71084192;

namespace tw {
// What a continuation block produced: a value for the continuation's task, or a task to follow.
struct TaskContinuationResult {
  Value value;
  BFTaskPtr follow;
  bool follows = false;
};
using TaskContinuationBlock = std::function<TaskContinuationResult(const BFTaskPtr&)>;
}  // namespace tw

class BFTask : public std::enable_shared_from_this<BFTask> {
  struct PrivateTag {};

 public:
  explicit BFTask(PrivateTag) {}
  BFTask(const BFTask&) = delete;
  BFTask& operator=(const BFTask&) = delete;

  // ----- finished tasks
  static BFTaskPtr taskWithResult(tw::Value result);
  static BFTaskPtr taskWithError(tw::ErrorPtr error);
  static BFTaskPtr cancelledTask();
  // Finishes once every given task has. Outcome: when exactly one failed, its error; when several
  // failed, an error in BFTaskErrorDomain with code BFTaskMultipleErrorsError whose user info
  // "errors" is an array of {"domain", "code", "userInfo"} dictionaries in the order of `tasks`;
  // else, when any was cancelled, cancelled; else a null result. An empty list gives a finished
  // task with a null result.
  static BFTaskPtr taskForCompletionOfAllTasks(const std::vector<BFTaskPtr>& tasks);

  // ----- state
  tw::Value result() const;
  tw::ErrorPtr error() const;
  bool isCancelled() const;
  bool isFaulted() const;
  bool isCompleted() const;

  // Blocks the calling thread until the task has finished. For tests and worker threads only:
  // never call it on the main thread while the completion depends on the main queue (a
  // mainThreadExecutor continuation, taskForDelay, a service completing on main), which would
  // then never run.
  void waitUntilFinished() const;

  // ----- continuations
  // The block may take `const BFTaskPtr&` and return tw::Value (or anything convertible to it),
  // BFTaskPtr, or void.
  template <class F>
  BFTaskPtr continueWithBlock(F&& block) {
    return continueWithExecutor(BFExecutor::defaultExecutor(), std::forward<F>(block));
  }
  template <class F>
  BFTaskPtr continueWithExecutor(const std::shared_ptr<BFExecutor>& executor, F&& block) {
    return continueWith(executor, wrapContinuation(std::forward<F>(block)), false);
  }
  // Runs the block only after success; an error or a cancellation passes to the returned task
  // unchanged (still by way of the executor, so what follows runs where the block would have).
  template <class F>
  BFTaskPtr continueWithSuccessBlock(F&& block) {
    return continueWithExecutorWithSuccessBlock(BFExecutor::defaultExecutor(),
                                                std::forward<F>(block));
  }
  template <class F>
  BFTaskPtr continueWithExecutorWithSuccessBlock(const std::shared_ptr<BFExecutor>& executor,
                                                 F&& block) {
    return continueWith(executor, wrapContinuation(std::forward<F>(block)), true);
  }

  // ----- the system's own extensions
  // A task completed with a null result on the main queue after `seconds` (truncated to whole
  // nanoseconds; zero or less still completes on a later turn of the main queue, never inline).
  static BFTaskPtr taskForDelay(double seconds);
  // A finished task with a null result.
  static BFTaskPtr voidTask();
  // No error and not faulted; a cancelled task counts as OK.
  bool isResultOk() const;
  // isResultOk and a non-null result.
  bool isResultNonNull() const;
  // A continuation turning an OK task with a null result (cancelled ones included) into a task
  // failed with BFTaskErrorDomain / BFTaskNullResultError and no user info; any other task passes
  // through unchanged.
  BFTaskPtr faultForNullResult();

 private:
  friend class BFTaskCompletionSource;
  enum class State { Pending, Succeeded, Faulted, Cancelled };
  using Callback = std::function<void(const BFTaskPtr&)>;

  static BFTaskPtr makePending() { return std::make_shared<BFTask>(PrivateTag{}); }

  bool trySetResult(tw::Value result);
  bool trySetError(tw::ErrorPtr error);
  bool trySetCancelled();
  bool complete(State state, tw::Value result, tw::ErrorPtr error);
  // Runs `callback` with this task once finished: at once on the calling thread when it already
  // is, else on the completing thread.
  void whenFinished(Callback callback);
  // Gives `target` the same outcome as this task once it finishes.
  void forwardTo(const std::shared_ptr<BFTaskCompletionSource>& target);

  BFTaskPtr continueWith(const std::shared_ptr<BFExecutor>& executor,
                         tw::TaskContinuationBlock block, bool successOnly);

  template <class F>
  static tw::TaskContinuationBlock wrapContinuation(F&& block) {
    using Fn = std::decay_t<F>;
    using R = std::invoke_result_t<Fn&, const BFTaskPtr&>;
    if constexpr (std::is_void_v<R>) {
      return [fn = Fn(std::forward<F>(block))](const BFTaskPtr& task) mutable {
        fn(task);
        return tw::TaskContinuationResult{};
      };
    } else if constexpr (std::is_convertible_v<R, BFTaskPtr> &&
                         !std::is_same_v<std::remove_cvref_t<R>, std::nullptr_t>) {
      return [fn = Fn(std::forward<F>(block))](const BFTaskPtr& task) mutable {
        return tw::TaskContinuationResult{tw::Value(), fn(task), true};
      };
    } else {
      static_assert(std::is_convertible_v<R, tw::Value>,
                    "a continuation block returns a tw::Value, a BFTaskPtr or nothing");
      return [fn = Fn(std::forward<F>(block))](const BFTaskPtr& task) mutable {
        return tw::TaskContinuationResult{tw::Value(fn(task)), nullptr, false};
      };
    }
  }

  // Guards the state, result, error and callbacks; finished_ waits on it.
  mutable std::mutex mutex_;
  mutable std::condition_variable finished_;
  State state_ = State::Pending;
  tw::Value result_;
  tw::ErrorPtr error_;
  std::vector<Callback> callbacks_;
};
