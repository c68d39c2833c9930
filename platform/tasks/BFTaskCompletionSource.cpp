#include "platform/tasks/BFTaskCompletionSource.h"

#include "platform/foundation/Exception.h"

BFTaskCompletionSource::BFTaskCompletionSource() : task_(BFTask::makePending()) {}

std::shared_ptr<BFTaskCompletionSource> BFTaskCompletionSource::taskCompletionSource() {
  return std::make_shared<BFTaskCompletionSource>();
}

void BFTaskCompletionSource::setResult(tw::Value result) {
  if (!task_->trySetResult(std::move(result))) {
    tw::raise(tw::NSInternalInconsistencyException, "Cannot set the result on a completed task.");
  }
}

void BFTaskCompletionSource::setError(tw::ErrorPtr error) {
  if (!task_->trySetError(std::move(error))) {
    tw::raise(tw::NSInternalInconsistencyException, "Cannot set the error on a completed task.");
  }
}

void BFTaskCompletionSource::cancel() {
  if (!task_->trySetCancelled()) {
    tw::raise(tw::NSInternalInconsistencyException, "Cannot cancel a completed task.");
  }
}

bool BFTaskCompletionSource::trySetResult(tw::Value result) {
  return task_->trySetResult(std::move(result));
}

bool BFTaskCompletionSource::trySetError(tw::ErrorPtr error) {
  return task_->trySetError(std::move(error));
}

bool BFTaskCompletionSource::trySetCancelled() { return task_->trySetCancelled(); }
