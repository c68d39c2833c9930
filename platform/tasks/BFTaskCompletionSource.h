#pragma once
// BFTaskCompletionSource: the producer side of a BFTask. Whoever starts an operation keeps the
// source and completes its task once; set* raise when the task has already finished, try* quietly
// ignore a later completion. Safe on any thread; the task's continuations without an executor run
// on the thread that completes it, inside the set/trySet call.

#include <memory>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/tasks/BFTask.h"

class BFTaskCompletionSource {
 public:
  BFTaskCompletionSource();
  static std::shared_ptr<BFTaskCompletionSource> taskCompletionSource();

  const BFTaskPtr& task() const { return task_; }

  // Each raises NSInternalInconsistencyException when the task has already finished.
  void setResult(tw::Value result);
  void setError(tw::ErrorPtr error);
  void cancel();

  // Each returns false, doing nothing, when the task has already finished.
  bool trySetResult(tw::Value result);
  bool trySetError(tw::ErrorPtr error);
  bool trySetCancelled();

 private:
  BFTaskPtr task_;
};
