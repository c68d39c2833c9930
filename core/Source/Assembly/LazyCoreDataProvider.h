#pragma once
// tw::LazyCoreDataProvider: stands in for the assembly's coreDataProvider component where a
// provider must be handed over before anyone has asked for the component (the model's default
// provider, set at activation). Every call goes to the component, which is resolved through the
// factory at the first call and then kept (weakly: the factory owns it).
//
// Calls without a component to go to (the factory is gone, or the definition yields none) raise
// NSInternalInconsistencyException. Owned by whoever installs it; callable from the threads the
// provider itself allows (the run methods from any thread, the rest on the main thread).

#include <memory>
#include <mutex>

#include "core/Source/Services/BTCoreDataProvider.h"
#include "platform/inject/TyphoonComponentFactory.h"

namespace tw {

class LazyCoreDataProvider : public BTCoreDataProvider {
 public:
  LazyCoreDataProvider(std::weak_ptr<TyphoonComponentFactory> factory,
                       std::shared_ptr<TyphoonDefinition> definition);

  // The component, resolved on first use.
  std::shared_ptr<BTCoreDataProvider> target() const;

  void setup() override { target()->setup(); }
  void save() override { target()->save(); }
  void requestSave() override { target()->requestSave(); }
  void cleanUp() override { target()->cleanUp(); }
  void runOnCoreDataQueueAsync(Block block) override {
    target()->runOnCoreDataQueueAsync(std::move(block));
  }
  void runOnCoreDataQueueSync(const Block& block) override {
    target()->runOnCoreDataQueueSync(block);
  }
  std::shared_ptr<const store::Model> objectModel() const override {
    return target()->objectModel();
  }
  std::shared_ptr<store::Context> objectContext() const override {
    return target()->objectContext();
  }
  std::shared_ptr<store::PersistentStore> storeCoordinator() const override {
    return target()->storeCoordinator();
  }
  std::shared_ptr<DispatchQueue> coreDataQueue() const override {
    return target()->coreDataQueue();
  }
  void setCoreDataQueue(std::shared_ptr<DispatchQueue> queue) override {
    target()->setCoreDataQueue(std::move(queue));
  }

 private:
  std::weak_ptr<TyphoonComponentFactory> factory_;
  std::shared_ptr<TyphoonDefinition> definition_;
  mutable std::mutex mutex_;
  mutable std::weak_ptr<BTCoreDataProvider> resolved_;
};

}  // namespace tw
