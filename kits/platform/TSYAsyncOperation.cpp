#include "kits/platform/TSYAsyncOperation.h"

TSYAsyncOperation::TSYAsyncOperation() = default;

void TSYAsyncOperation::finishWithError(const tw::ErrorPtr& error) {
  AsyncCompletion completion;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (done_) return;
    completion = asyncCompletion_;
  }
  if (completion) completion(error);
  markDone();
}

bool TSYAsyncOperation::checkForCancellation() {
  if (!isCancelled()) return false;
  markDone();
  return true;
}

TSYAsyncOperation::AsyncCompletion TSYAsyncOperation::asyncCompletion() const {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return asyncCompletion_;
}

void TSYAsyncOperation::setAsyncCompletion(AsyncCompletion completion) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  asyncCompletion_ = std::move(completion);
}

void TSYAsyncOperation::setStateObserver(StateObserver observer) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  stateObserver_ = std::move(observer);
}

void TSYAsyncOperation::changeValueForKey(const std::string& key,
                                          const std::function<void()>& block) {
  if (stateObserver_) stateObserver_(key, true);
  block();
  if (stateObserver_) stateObserver_(key, false);
}

void TSYAsyncOperation::lock(const std::function<void()>& block) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  block();
}

void TSYAsyncOperation::markDone() {
  lock([&] {
    if (done_) return;
    done_ = true;
    // The operation's own flags change together; observers hear "isExecuting" end first.
    changeValueForKey("isExecuting", [] {});
    changeValueForKey("isFinished", [&] { finishAsynchronousOperation(); });
  });
}
