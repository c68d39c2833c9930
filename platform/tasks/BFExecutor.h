#pragma once
// BFExecutor: where a task continuation runs. A continuation without an executor uses the default
// one, which runs it on the thread that completed the task; the main-thread executor moves it to
// the main queue unless it is already there. Executors are shared, immutable and usable from any
// thread.

#include <functional>
#include <memory>

#include "platform/foundation/Dispatch.h"

class BFExecutor {
 public:
  using ExecuteBlock = std::function<void(tw::Block)>;

  // Runs the block inline on the calling thread. Deep chains of inline continuations are
  // flattened: past a fixed nesting depth a block waits until the outermost inline block on the
  // same thread has returned, so the stack stays bounded and the thread stays the same.
  static std::shared_ptr<BFExecutor> defaultExecutor();
  // Runs the block inline, always, whatever the nesting depth.
  static std::shared_ptr<BFExecutor> immediateExecutor();
  // Runs the block inline when called on the main thread, else posts it to the main queue.
  static std::shared_ptr<BFExecutor> mainThreadExecutor();
  // Posts the block to the queue.
  static std::shared_ptr<BFExecutor> executorWithDispatchQueue(
      std::shared_ptr<tw::DispatchQueue> queue);
  // Hands the block to `execute`, which must run it exactly once.
  static std::shared_ptr<BFExecutor> executorWithBlock(ExecuteBlock execute);

  explicit BFExecutor(ExecuteBlock execute) : execute_(std::move(execute)) {}

  void execute(tw::Block block) const { execute_(std::move(block)); }

 private:
  ExecuteBlock execute_;
};
