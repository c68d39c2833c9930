#include "platform/tasks/BFTask.h"

#include "platform/foundation/Exception.h"
#include "platform/tasks/BFTaskCompletionSource.h"

BFTaskPtr BFTask::taskWithResult(tw::Value result) {
  auto task = makePending();
  task->trySetResult(std::move(result));
  return task;
}

BFTaskPtr BFTask::taskWithError(tw::ErrorPtr error) {
  auto task = makePending();
  task->trySetError(std::move(error));
  return task;
}

BFTaskPtr BFTask::cancelledTask() {
  auto task = makePending();
  task->trySetCancelled();
  return task;
}

namespace {

tw::Value describeError(const tw::ErrorPtr& error) {
  if (!error) return tw::Value();
  return tw::Dictionary{
      {"domain", error->domain()}, {"code", error->code()}, {"userInfo", error->userInfo()}};
}

}  // namespace

BFTaskPtr BFTask::taskForCompletionOfAllTasks(const std::vector<BFTaskPtr>& tasks) {
  for (const auto& task : tasks) TW_PARAMETER_ASSERT(task != nullptr);
  if (tasks.empty()) return taskWithResult(tw::Value());

  struct Gather {
    // Guards the tally below: the tasks finish on any threads.
    std::mutex mutex;
    std::size_t remaining;
    std::vector<tw::ErrorPtr> errors;  // by position in `tasks`
    std::vector<bool> failed;
    bool anyCancelled = false;
    BFTaskCompletionSource source;
  };
  auto gather = std::make_shared<Gather>();
  gather->remaining = tasks.size();
  gather->errors.resize(tasks.size());
  gather->failed.resize(tasks.size(), false);
  BFTaskPtr all = gather->source.task();

  for (std::size_t i = 0; i < tasks.size(); ++i) {
    tasks[i]->whenFinished([gather, i](const BFTaskPtr& finished) {
      std::vector<tw::ErrorPtr> failures;
      bool cancelled = false;
      {
        std::lock_guard lock(gather->mutex);
        if (finished->isFaulted()) {
          gather->failed[i] = true;
          gather->errors[i] = finished->error();
        } else if (finished->isCancelled()) {
          gather->anyCancelled = true;
        }
        if (--gather->remaining > 0) return;
        for (std::size_t k = 0; k < gather->errors.size(); ++k) {
          if (gather->failed[k]) failures.push_back(gather->errors[k]);
        }
        cancelled = gather->anyCancelled;
      }
      if (failures.size() == 1) {
        gather->source.trySetError(failures.front());
      } else if (failures.size() > 1) {
        tw::Array listed;
        for (const auto& error : failures) listed.push_back(describeError(error));
        gather->source.trySetError(tw::Error::make(
            BFTaskErrorDomain, BFTaskMultipleErrorsError,
            tw::Dictionary{{BFTaskMultipleErrorsUserInfoKey, std::move(listed)},
                           {tw::kLocalizedDescriptionKey, "Several of the tasks failed."}}));
      } else if (cancelled) {
        gather->source.trySetCancelled();
      } else {
        gather->source.trySetResult(tw::Value());
      }
    });
  }
  return all;
}

tw::Value BFTask::result() const {
  std::lock_guard lock(mutex_);
  return result_;
}

tw::ErrorPtr BFTask::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

bool BFTask::isCancelled() const {
  std::lock_guard lock(mutex_);
  return state_ == State::Cancelled;
}

bool BFTask::isFaulted() const {
  std::lock_guard lock(mutex_);
  return state_ == State::Faulted;
}

bool BFTask::isCompleted() const {
  std::lock_guard lock(mutex_);
  return state_ != State::Pending;
}

void BFTask::waitUntilFinished() const {
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [this] { return state_ != State::Pending; });
}

bool BFTask::trySetResult(tw::Value result) {
  return complete(State::Succeeded, std::move(result), nullptr);
}

bool BFTask::trySetError(tw::ErrorPtr error) {
  return complete(State::Faulted, tw::Value(), std::move(error));
}

bool BFTask::trySetCancelled() { return complete(State::Cancelled, tw::Value(), nullptr); }

bool BFTask::complete(State state, tw::Value result, tw::ErrorPtr error) {
  std::vector<Callback> callbacks;
  {
    std::lock_guard lock(mutex_);
    if (state_ != State::Pending) return false;
    state_ = state;
    result_ = std::move(result);
    error_ = std::move(error);
    callbacks.swap(callbacks_);
  }
  finished_.notify_all();
  // Keeps the task alive through its callbacks even when the completion source is the last owner
  // and lets go of it inside one of them.
  BFTaskPtr self = shared_from_this();
  for (auto& callback : callbacks) callback(self);
  return true;
}

void BFTask::whenFinished(Callback callback) {
  {
    std::lock_guard lock(mutex_);
    if (state_ == State::Pending) {
      callbacks_.push_back(std::move(callback));
      return;
    }
  }
  callback(shared_from_this());
}

void BFTask::forwardTo(const std::shared_ptr<BFTaskCompletionSource>& target) {
  whenFinished([target](const BFTaskPtr& finished) {
    if (finished->isCancelled()) {
      target->trySetCancelled();
    } else if (finished->isFaulted()) {
      target->trySetError(finished->error());
    } else {
      target->trySetResult(finished->result());
    }
  });
}

BFTaskPtr BFTask::continueWith(const std::shared_ptr<BFExecutor>& executor,
                               tw::TaskContinuationBlock block, bool successOnly) {
  TW_PARAMETER_ASSERT(executor != nullptr);
  auto source = BFTaskCompletionSource::taskCompletionSource();
  BFTaskPtr next = source->task();
  // The pending task holds the continuation, the continuation holds the next task's source; the
  // finished task itself is handed in, never captured, so an abandoned pending task frees all.
  whenFinished(
      [executor, block = std::move(block), source, successOnly](const BFTaskPtr& finished) {
        executor->execute([block, source, successOnly, finished] {
          if (successOnly && (finished->isCancelled() || finished->isFaulted())) {
            finished->forwardTo(source);
            return;
          }
          tw::TaskContinuationResult outcome;
          try {
            outcome = block(finished);
          } catch (...) {
            tw::terminateWithUncaught("BFTask continuation block");
          }
          if (!outcome.follows) {
            source->trySetResult(std::move(outcome.value));
          } else if (!outcome.follow) {
            source->trySetResult(tw::Value());
          } else {
            outcome.follow->forwardTo(source);
          }
        });
      });
  return next;
}
