// Task factories of our own: a task finishing after a delay on the main queue, and the finished
// task with no result.

#include <cstdint>

#include "platform/foundation/Dispatch.h"
#include "platform/tasks/BFTask.h"
#include "platform/tasks/BFTaskCompletionSource.h"

BFTaskPtr BFTask::taskForDelay(double seconds) {
  auto source = BFTaskCompletionSource::taskCompletionSource();
  // Whole nanoseconds, truncated: callers pass fractional seconds and expect them cut, not rounded.
  const auto nanos = static_cast<std::int64_t>(seconds * 1'000'000'000.0);
  auto fire = [source] { source->trySetResult(tw::Value()); };
  if (nanos <= 0) {
    // Still a later turn of the main queue: callers chain on the task after creating it and
    // rely on never seeing it finish inside this call.
    tw::DispatchQueue::main()->async(std::move(fire));
  } else {
    tw::DispatchQueue::main()->after(static_cast<double>(nanos) / 1e9, std::move(fire));
  }
  return source->task();
}

BFTaskPtr BFTask::voidTask() { return taskWithResult(tw::Value()); }
