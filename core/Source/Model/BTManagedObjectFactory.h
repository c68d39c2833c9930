#pragma once
// The managed-object factory: new stored objects of an entity class, and their deletion, in the
// main context of the store, run synchronously on the store's queue. Callable from any thread (a
// worker hops to the main queue and waits).
//
//   auto setting = managedObject<BTTimeSetting>();
//   deleteObject(action);
//
// The model knows no store service: whoever owns the store installs the way into its main context
// here (tw::setManagedObjectContextRunner). The store service's provider look-up
// (core/Source/Services/BTDefaultCoreDataProvider.h) does it for the application and the tests.

#include <functional>
#include <memory>
#include <type_traits>

#include "platform/store/Context.h"
#include "platform/store/ManagedObject.h"

namespace tw {

using ManagedObjectWork = std::function<void(store::Context&)>;
// Runs the work in the store's main context on the store's queue and waits; an exception thrown by
// the work reaches the caller.
using ManagedObjectContextRunner = std::function<void(const ManagedObjectWork&)>;

// nullptr clears it. Any thread.
void setManagedObjectContextRunner(ManagedObjectContextRunner runner);

namespace detail {
// Raises NSInternalInconsistencyException when no runner is installed.
void runInManagedObjectContext(const ManagedObjectWork& work);
}  // namespace detail

}  // namespace tw

// A new object of the entity made of class T, inserted into the main context.
template <class T>
std::shared_ptr<T> managedObject() {
  static_assert(std::is_base_of_v<tw::store::ManagedObject, T>);
  std::shared_ptr<T> object;
  tw::detail::runInManagedObjectContext(
      [&](tw::store::Context& context) { object = context.insertNew<T>(); });
  return object;
}

// Deletes the object from the main context (its delete rules apply at once). A null object, or
// one the context no longer holds, is left alone.
void deleteObject(const std::shared_ptr<tw::store::ManagedObject>& object);
