#pragma once
// Private to tw::Object: the bookkeeping behind key-value observation. Each observed object owns
// one table listing the registrations made on it (one per key of every observed path that passes
// through the object), plus the observations tied to it as their observer. Only Object.cpp and
// ObserverTable.cpp include this header.
//
// Threads: one process-wide mutex guards every table and every observation's bindings. It is
// never held while code outside this file runs (getters, callbacks, destructors of captured
// objects), so callbacks may observe, remove, change and destroy anything.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Object.h"

namespace tw::detail {

struct Chain;
struct Graveyard;

struct Registration {
  std::string key;
  std::shared_ptr<PathObservation> observation;  // keeps it alive while listed
  Chain* chain = nullptr;                        // valid while !dead (under the lock)
  std::uint32_t step = 0;
  bool dead = false;
};

struct SetMutation {
  SetMutationKind kind;
  const Array* objects;
};

struct ObserverTable {
  // Removal during delivery only marks a registration dead; dead ones are swept once no delivery
  // walks the table any more, so indexes stay put while callbacks run.
  std::vector<Registration> registrations;
  std::vector<std::weak_ptr<PathObservation>> tiedToOwner;  // the owner is their observer
  // Changed under the lock, except that a delivery whose last callback has returned leaves
  // without taking the lock again unless there is tidying to do (see finishUnlocked).
  std::atomic<int> iterating{0};
  std::atomic<std::size_t> deadCount{0};
  std::atomic<bool> orphaned{false};  // the owner died while a delivery walked the table
  // Registrations whose observation asked for old values or prior notifications: only then
  // does will-change have work beyond bookkeeping.
  std::atomic<int> willChangeInterest{0};

  static void willChange(Object& object, std::string_view key, const SetMutation* mutation);
  static void didChange(Object& object, std::string_view key, const SetMutation* mutation);
  // Drops a will-change that will not be followed by its did-change.
  static void cancelChange(Object& object, std::string_view key);
  static void objectDestroyed(Object& object) noexcept;

  static std::shared_ptr<PathObservation> observe(Object& root, std::string keyPath,
                                                  unsigned options,
                                                  std::weak_ptr<const void> observer,
                                                  const Object* observerObject,
                                                  ObservationCallback callback);
  static void invalidate(PathObservation& observation);
  static bool isActive(const PathObservation& observation);
  static void removeObserver(Object& root, const std::shared_ptr<const void>& observer,
                             std::string_view keyPath);
  static std::size_t observationCount(const Object& root);

  // Access to Object's private and protected parts for the engine's helpers.
  static ObserverTable* of(const Object& object) {
    return object.table_.load(std::memory_order_acquire);
  }
  static ObserverTable& ensure(const Object& object);  // under the lock
  // valueForKey without the detour through the exported wrapper.
  static Value read(const Object& object, std::string_view key) {
    Value out;
    if (!object.getValueForKey(key, out)) return object.valueForKey(key);  // raises
    return out;
  }
  static std::vector<std::string> affectingKeyPaths(const Object& object, std::string_view key);
};

// One key-value coding step from any value: objects answer valueForKey, dictionaries look the key
// up, arrays answer with the step applied to each element, anything else gives null.
Value valueForKeyOfValue(const Value& value, std::string_view key);

}  // namespace tw::detail
