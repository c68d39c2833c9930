// Turning a missing result into a failure, so success blocks further down can rely on a value.

#include "platform/tasks/BFTask.h"

BFTaskPtr BFTask::faultForNullResult() {
  return continueWithBlock([](const BFTaskPtr& task) -> BFTaskPtr {
    if (task->isResultOk() && task->result().isNull()) {
      return BFTask::taskWithError(tw::Error::make(BFTaskErrorDomain, BFTaskNullResultError));
    }
    return task;
  });
}
