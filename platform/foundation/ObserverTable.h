#pragma once
// Private to tw::Object: the bookkeeping behind key-value observation. Each observed object owns
// one table listing the registrations made on it (one per key of every observed path that passes
// through the object), plus the observations tied to it as their observer. Only Object.cpp and
// ObserverTable.cpp include this header.
//
// Threads: one process-wide mutex guards every table and every observation's bindings. It is
// never held while code outside this file runs (getters, callbacks, destructors of captured
// objects), so callbacks may observe, remove, change and destroy anything. The shared key lists
// (interned paths) have a lock of their own, taken under the process-wide one or alone, never
// the other way round.

#include <algorithm>
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

// Tables hold one of these per key of every path through their object, tens of thousands in a
// loaded store, so it is kept small: the key points into the observation's shared, immutable
// key list (see KeyList in ObserverTable.cpp), which outlives the registration while it is live.
struct Registration {
  const std::string* key = nullptr;              // read only while !dead
  std::shared_ptr<PathObservation> observation;  // keeps it alive while listed
  Chain* chain = nullptr;                        // valid while !dead (under the lock)
  std::uint32_t step = 0;
  bool dead = false;
  // A key of the same object that the step's key depends on: its change counts as a change of
  // the step's key.
  bool dependent = false;
};

// The registrations of one table: a vector in 16 bytes rather than 24, that grows exactly while
// small (most tables hold one to a handful) and by half beyond.
class RegistrationList {
 public:
  RegistrationList() = default;
  RegistrationList(const RegistrationList&) = delete;
  RegistrationList& operator=(const RegistrationList&) = delete;
  ~RegistrationList() {
    truncate(0);
    if (data_) std::allocator<Registration>().deallocate(data_, capacity_);
  }

  std::size_t size() const { return size_; }
  Registration& operator[](std::size_t i) { return data_[i]; }
  const Registration& operator[](std::size_t i) const { return data_[i]; }
  Registration* begin() { return data_; }
  Registration* end() { return data_ + size_; }
  const Registration* begin() const { return data_; }
  const Registration* end() const { return data_ + size_; }

  // Room for `adding` more.
  void reserveMore(std::size_t adding) {
    const std::size_t needed = size_ + adding;
    if (needed <= capacity_) return;
    const std::size_t grown =
        needed <= 8 ? needed : std::max<std::size_t>(needed, capacity_ + capacity_ / 2);
    std::allocator<Registration> allocator;
    Registration* fresh = allocator.allocate(grown);
    for (std::uint32_t i = 0; i < size_; ++i) {
      std::construct_at(fresh + i, std::move(data_[i]));
      std::destroy_at(data_ + i);
    }
    if (data_) allocator.deallocate(data_, capacity_);
    data_ = fresh;
    capacity_ = static_cast<std::uint32_t>(grown);
  }
  void push_back(Registration&& r) {
    reserveMore(1);
    std::construct_at(data_ + size_, std::move(r));
    ++size_;
  }
  // Drops the registrations from `size` on.
  void truncate(std::size_t size) {
    while (size_ > size) std::destroy_at(data_ + --size_);
  }

 private:
  Registration* data_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;
};

struct SetMutation {
  SetMutationKind kind;
  const Array* objects;
};

struct ObserverTable {
  // Removal during delivery only marks a registration dead; dead ones are swept once no delivery
  // walks the table any more, so indexes stay put while callbacks run.
  RegistrationList registrations;
  // Observations whose observer is the owner; rare, so only made when needed.
  std::unique_ptr<std::vector<std::weak_ptr<PathObservation>>> tiedToOwner;
  // Changed under the lock, except that a delivery whose last callback has returned leaves
  // without taking the lock again unless there is tidying to do (see finishUnlocked).
  std::atomic<int> iterating{0};
  std::atomic<std::uint32_t> deadCount{0};
  // Registrations whose observation asked for old values or prior notifications: only then
  // does will-change have work beyond bookkeeping.
  std::atomic<int> willChangeInterest{0};
  std::atomic<bool> orphaned{false};  // the owner died while a delivery walked the table

  static void willChange(Object& object, std::string_view key, const SetMutation* mutation);
  static void didChange(Object& object, std::string_view key, const SetMutation* mutation);
  // Drops a will-change that will not be followed by its did-change.
  static void cancelChange(Object& object, std::string_view key);
  static void objectDestroyed(Object& object) noexcept;

  static std::shared_ptr<PathObservation> observe(Object& root, std::string_view keyPath,
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
