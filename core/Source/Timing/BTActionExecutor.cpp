#include "core/Source/Timing/BTActionExecutor.h"

#include <mutex>
#include <utility>

namespace {
std::mutex& defaultLock() {
  static std::mutex lock;
  return lock;
}
std::shared_ptr<BTActionExecutor>& defaultSlot() {
  static std::shared_ptr<BTActionExecutor> executor;
  return executor;
}
}  // namespace

std::shared_ptr<BTActionExecutor> BTActionExecutor::defaultExecutor() {
  std::lock_guard lock(defaultLock());
  return defaultSlot();
}

void BTActionExecutor::setDefaultExecutor(std::shared_ptr<BTActionExecutor> executor) {
  std::shared_ptr<BTActionExecutor> previous;
  {
    std::lock_guard lock(defaultLock());
    previous = std::exchange(defaultSlot(), std::move(executor));
  }
  // `previous` may hold the last reference; it goes here, outside the lock.
}
