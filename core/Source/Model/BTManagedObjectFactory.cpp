#include "core/Source/Model/BTManagedObjectFactory.h"

#include <mutex>

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
  std::lock_guard lock(providerMutex());
  providerSlot() = std::move(provider);
}

void detail::runOnCoreDataQueueRethrowing(BTCoreDataProvider& provider,
                                          const std::function<void(store::Context&)>& work) {
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

}  // namespace tw

void deleteObject(const std::shared_ptr<tw::store::ManagedObject>& object) {
  if (!object) return;
  auto provider = tw::defaultCoreDataProvider();
  tw::detail::runOnCoreDataQueueRethrowing(
      *provider, [&](tw::store::Context& context) { context.deleteObject(object); });
}
