#pragma once
// The managed-object factory: new stored objects of an entity class, and their deletion, in the
// main context of the process's core data provider, run synchronously on its Core Data queue.
// Callable from any thread (a worker hops to the main queue and waits).
//
//   auto setting = managedObject<BTTimeSetting>();
//   deleteObject(action);
//
// The provider is the one the component assembly hands out; until the assembly exists it is set
// here (tw::setDefaultCoreDataProvider) by whoever owns it: the application at launch, tests.

#include <exception>
#include <functional>
#include <memory>

#include "core/Source/Services/BTCoreDataProvider.h"
#include "platform/foundation/Exception.h"
#include "platform/store/Context.h"
#include "platform/store/ManagedObject.h"

namespace tw {

// Raises NSInternalInconsistencyException when none is set. Any thread.
std::shared_ptr<BTCoreDataProvider> defaultCoreDataProvider();
// nullptr clears it. Any thread.
void setDefaultCoreDataProvider(std::shared_ptr<BTCoreDataProvider> provider);

namespace detail {
// Runs `work` on the provider's Core Data queue and waits; an exception thrown there reaches the
// caller instead of the queue's boundary.
void runOnCoreDataQueueRethrowing(BTCoreDataProvider& provider,
                                  const std::function<void(store::Context&)>& work);
}  // namespace detail

}  // namespace tw

// A new object of the entity made of class T, inserted into the main context.
template <class T>
std::shared_ptr<T> managedObject() {
  static_assert(std::is_base_of_v<tw::store::ManagedObject, T>);
  auto provider = tw::defaultCoreDataProvider();
  std::shared_ptr<T> object;
  tw::detail::runOnCoreDataQueueRethrowing(
      *provider, [&](tw::store::Context& context) { object = context.insertNew<T>(); });
  return object;
}

// Deletes the object from the main context (its delete rules apply at once). A null object, or
// one the context no longer holds, is left alone.
void deleteObject(const std::shared_ptr<tw::store::ManagedObject>& object);
