#include "core/Source/Services/BTDefaultCoreDataProvider.h"

#include <exception>
#include <mutex>

#include "core/Source/Model/BTManagedObjectFactory.h"
#include "platform/foundation/Exception.h"

namespace tw {

namespace {
std::mutex& providerMutex() {
  static std::mutex mutex;
  return mutex;
}
std::shared_ptr<BTCoreDataProvider>& providerSlot() {
  static std::shared_ptr<BTCoreDataProvider> provider;
  return provider;
}

// Runs `work` on the provider's Core Data queue and waits; an exception thrown there reaches the
// caller instead of the queue's boundary.
void runOnCoreDataQueueRethrowing(BTCoreDataProvider& provider, const ManagedObjectWork& work) {
  std::exception_ptr failure;
  provider.runOnCoreDataQueueSync([&] {
    try {
      auto context = provider.objectContext();
      if (!context)
        raise(NSInternalInconsistencyException,
              "The store is not set up: there is no main context to work in");
      work(*context);
    } catch (...) {
      failure = std::current_exception();
    }
  });
  if (failure) std::rethrow_exception(failure);
}
}  // namespace

std::shared_ptr<BTCoreDataProvider> defaultCoreDataProvider() {
  std::shared_ptr<BTCoreDataProvider> provider;
  {
    std::lock_guard lock(providerMutex());
    provider = providerSlot();
  }
  if (!provider)
    raise(NSInternalInconsistencyException,
          "No core data provider is set: managed objects cannot be made before the store is");
  return provider;
}

void setDefaultCoreDataProvider(std::shared_ptr<BTCoreDataProvider> provider) {
  ManagedObjectContextRunner runner;
  if (provider)
    runner = [provider](const ManagedObjectWork& work) {
      runOnCoreDataQueueRethrowing(*provider, work);
    };
  std::lock_guard lock(providerMutex());
  providerSlot() = std::move(provider);
  setManagedObjectContextRunner(std::move(runner));
}

}  // namespace tw
