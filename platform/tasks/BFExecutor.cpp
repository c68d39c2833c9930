#include "platform/tasks/BFExecutor.h"

#include <deque>

namespace {

// Past this many nested inline blocks on one thread, further blocks are queued for the outermost
// frame instead of deepening the stack (a long chain of continuations completing each other).
constexpr int kMaxInlineDepth = 32;

thread_local int tInlineDepth = 0;
thread_local std::deque<tw::Block> tDeferred;

struct DepthScope {
  DepthScope() { ++tInlineDepth; }
  ~DepthScope() { --tInlineDepth; }
  DepthScope(const DepthScope&) = delete;
  DepthScope& operator=(const DepthScope&) = delete;
};

void runInlineBounded(tw::Block block) {
  if (tInlineDepth >= kMaxInlineDepth) {
    tDeferred.push_back(std::move(block));
    return;
  }
  {
    DepthScope scope;
    block();
  }
  if (tInlineDepth > 0) return;
  while (!tDeferred.empty()) {
    tw::Block next = std::move(tDeferred.front());
    tDeferred.pop_front();
    DepthScope scope;
    next();
  }
}

}  // namespace

std::shared_ptr<BFExecutor> BFExecutor::defaultExecutor() {
  static const auto executor = std::make_shared<BFExecutor>(runInlineBounded);
  return executor;
}

std::shared_ptr<BFExecutor> BFExecutor::immediateExecutor() {
  static const auto executor =
      std::make_shared<BFExecutor>([](const tw::Block& block) { block(); });
  return executor;
}

std::shared_ptr<BFExecutor> BFExecutor::mainThreadExecutor() {
  static const auto executor = std::make_shared<BFExecutor>([](tw::Block block) {
    if (tw::isMainThread()) {
      runInlineBounded(std::move(block));
    } else {
      tw::DispatchQueue::main()->async(std::move(block));
    }
  });
  return executor;
}

std::shared_ptr<BFExecutor> BFExecutor::executorWithDispatchQueue(
    std::shared_ptr<tw::DispatchQueue> queue) {
  return std::make_shared<BFExecutor>(
      [queue = std::move(queue)](tw::Block block) { queue->async(std::move(block)); });
}

std::shared_ptr<BFExecutor> BFExecutor::executorWithBlock(ExecuteBlock execute) {
  return std::make_shared<BFExecutor>(std::move(execute));
}
