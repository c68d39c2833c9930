#include "core/Source/Model/BTManagedObjectFactory.h"

#include <mutex>

#include "platform/foundation/Exception.h"

namespace tw {

namespace {
std::mutex& runnerMutex() {
  static std::mutex mutex;
  return mutex;
}
// Shared so a caller keeps the runner it started with while another thread replaces it.
std::shared_ptr<const ManagedObjectContextRunner>& runnerSlot() {
  static std::shared_ptr<const ManagedObjectContextRunner> runner;
  return runner;
}
}  // namespace

void setManagedObjectContextRunner(ManagedObjectContextRunner runner) {
  auto shared =
      runner ? std::make_shared<const ManagedObjectContextRunner>(std::move(runner)) : nullptr;
  std::lock_guard lock(runnerMutex());
  runnerSlot() = std::move(shared);
}

void detail::runInManagedObjectContext(const ManagedObjectWork& work) {
  std::shared_ptr<const ManagedObjectContextRunner> runner;
  {
    std::lock_guard lock(runnerMutex());
    runner = runnerSlot();
  }
  if (!runner)
    raise(NSInternalInconsistencyException,
          "No core data provider is set: managed objects cannot be made before the store is");
  (*runner)(work);
}

}  // namespace tw

void deleteObject(const std::shared_ptr<tw::store::ManagedObject>& object) {
  if (!object) return;
  tw::detail::runInManagedObjectContext(
      [&](tw::store::Context& context) { context.deleteObject(object); });
}
