#include "core/Source/Assembly/LazyCoreDataProvider.h"

#include "platform/foundation/Exception.h"

namespace tw {

LazyCoreDataProvider::LazyCoreDataProvider(std::weak_ptr<TyphoonComponentFactory> factory,
                                           std::shared_ptr<TyphoonDefinition> definition)
    : factory_(std::move(factory)), definition_(std::move(definition)) {}

std::shared_ptr<BTCoreDataProvider> LazyCoreDataProvider::target() const {
  {
    std::lock_guard lock(mutex_);
    if (auto provider = resolved_.lock()) return provider;
  }
  // Resolved outside our lock: building the service may itself reach for the default provider.
  auto factory = factory_.lock();
  if (!factory)
    raise(NSInternalInconsistencyException,
          "<BTCoreAssembly> the core data provider's component factory is gone");
  auto component = factory->componentForDefinition(definition_);
  auto provider = std::dynamic_pointer_cast<BTCoreDataProvider>(component);
  if (!provider)
    raise(NSInternalInconsistencyException,
          "<BTCoreAssembly> the assembly defines no core data provider");
  std::lock_guard lock(mutex_);
  resolved_ = provider;
  return provider;
}

}  // namespace tw
