// Result checks of our own on finished tasks.

#include "platform/tasks/BFTask.h"

bool BFTask::isResultOk() const {
  std::lock_guard lock(mutex_);
  return error_ == nullptr && state_ != State::Faulted;
}

bool BFTask::isResultNonNull() const {
  std::lock_guard lock(mutex_);
  return error_ == nullptr && state_ != State::Faulted && !result_.isNull();
}
