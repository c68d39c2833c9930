#pragma once
// BTCoreDataProvider: the store service as the rest of the system sees it: set-up at launch,
// saving, tear-down at quit, the queue every access to stored objects runs on, and the store's
// model, context and persistent store. Implemented by BTCoreDataService, one shared component.
//
// The Core Data queue is the main queue: stored objects are main-thread objects. The two run
// methods may be called from any thread; the others on the main thread.

#include <memory>

#include "platform/foundation/Dispatch.h"
#include "platform/store/Context.h"
#include "platform/store/Model.h"
#include "platform/store/PersistentStore.h"

class BTCoreDataProvider {
 public:
  virtual ~BTCoreDataProvider() = default;

  // Opens the store (once, at launch, before any data is loaded).
  virtual void setup() = 0;
  // Writes every pending change of the main context and waits for it.
  virtual void save() = 0;
  // Saves on the Core Data queue once the current event has been handled; every request made
  // before that save runs shares it, so a burst within one turn of the main loop costs one save.
  // For changes that must survive a crash without waiting for the auto-save.
  virtual void requestSave() = 0;
  // Stops listening for changes and closes the store without saving.
  virtual void cleanUp() = 0;
  // Queues the block on the Core Data queue and returns at once.
  virtual void runOnCoreDataQueueAsync(tw::Block block) = 0;
  // Runs the block on the Core Data queue and waits: inline when called there already (never a
  // deadlock), otherwise by a synchronous hop.
  virtual void runOnCoreDataQueueSync(const tw::Block& block) = 0;
  virtual std::shared_ptr<const tw::store::Model> objectModel() const = 0;
  // nullptr before setup and after cleanUp.
  virtual std::shared_ptr<tw::store::Context> objectContext() const = 0;
  virtual std::shared_ptr<tw::store::PersistentStore> storeCoordinator() const = 0;
  virtual std::shared_ptr<tw::DispatchQueue> coreDataQueue() const = 0;
  virtual void setCoreDataQueue(std::shared_ptr<tw::DispatchQueue> queue) = 0;
};
