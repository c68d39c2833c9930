#pragma once
// tw::Object: base of every object of the system that takes part in key-value coding and
// key-value observation, so that a view or a trigger can follow any object's keys. Owned through
// std::shared_ptr; always create objects with std::make_shared (observation needs weak references
// to them).
//
// Key-value coding: a subclass exposes keys by overriding getValueForKey / setValueForKeyImpl and
// chaining to its base for unknown keys. Key paths ("timingObject.timingState") walk through
// values that hold objects, look keys up in dictionary values and apply the rest of the path to
// each element of an array value.
//
// Key-value observation: callbacks run synchronously on the thread that makes the change. The
// bookkeeping is thread-safe; whether a given object may be changed from several threads is that
// class's own rule (model objects are main-thread only). Removing an observation inside a
// callback, or destroying the observed object or the observer, is safe: an observation ends by
// itself when either side goes away, and nothing ever calls into a destroyed object.

#include <atomic>
#include <climits>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/foundation/Value.h"

namespace tw {

namespace detail {
struct ObserverTable;
struct PathObservation;
}  // namespace detail

enum KeyValueObservingOptions : unsigned {
  KVONew = 1u << 0,
  KVOOld = 1u << 1,
  KVOInitial = 1u << 2,  // deliver the current value once, at registration
  KVOPrior = 1u << 3,    // also deliver a notification before the change
};

enum class KeyValueChangeKind { Setting = 1, Insertion = 2, Removal = 3, Replacement = 4 };
enum class SetMutationKind { Union = 1, Minus = 2, Intersect = 3, Set = 4 };

struct KeyValueChange {
  KeyValueChangeKind kind = KeyValueChangeKind::Setting;
  // With KVONew (and on the initial delivery): the value at did-change; for a set mutation, the
  // whole collection after it.
  Value newValue;
  Value oldValue;  // with KVOOld: the value read at will-change
  // Insertion/removal/replacement: the objects added to, taken from or put into a to-many set.
  Array changedObjects;
  bool isPrior = false;
  bool isInitial = false;
  const Object* object = nullptr;  // the object the observation was registered on
  std::string_view keyPath;        // the key path as registered
};

using ObservationCallback = std::function<void(const KeyValueChange&)>;

// One registered observation. A scoped handle (observeScoped) ends it when destroyed; a detached
// one (observeDetached) leaves it to the observer's lifetime when dropped. invalidate() ends
// either early; safe from inside its own callback and from any thread. Movable, not copyable.
class Observation {
 public:
  Observation() = default;
  Observation(Observation&&) noexcept;
  Observation& operator=(Observation&&) noexcept;
  Observation(const Observation&) = delete;
  Observation& operator=(const Observation&) = delete;
  ~Observation();

  void invalidate();
  bool isActive() const;
  // Detach: the observation then lives until the observed object (or the observer it was tied
  // to) goes away, so an owner that never removes it neither leaks it nor hears a dead object.
  void release();

 private:
  friend class Object;
  Observation(std::shared_ptr<detail::PathObservation> p, bool detached)
      : path_(std::move(p)), detached_(detached) {}
  std::shared_ptr<detail::PathObservation> path_;
  bool detached_ = false;  // dropping the handle does not end the observation
};

class Object;

// One will/did-change bracket, closed by scope: will-change when made, did-change when it ends.
// A scope that ends by an exception before markChanged() takes the change as not made and
// drops the bracket without announcing it, so no bracket is ever left open. `key` must outlive
// the scope. On the changing thread, like the brackets themselves.
class ChangeScope {
 public:
  ChangeScope(Object& object, std::string_view key);
  // A to-many mutation (see Object::willChangeValueForKey); `objects` must outlive the scope.
  ChangeScope(Object& object, std::string_view key, SetMutationKind mutation, const Array& objects);
  ~ChangeScope();
  ChangeScope(const ChangeScope&) = delete;
  ChangeScope& operator=(const ChangeScope&) = delete;

  // The change has been made: the scope announces it even if it then ends by an exception.
  void markChanged() { changed_ = true; }
  // Drops the bracket now without announcing anything (the change did not happen).
  void cancel();

 private:
  // Logs the exception being handled, which closing the bracket threw.
  void logEscapedException() const noexcept;

  Object& object_;
  std::string_view key_;
  const Array* objects_ = nullptr;
  SetMutationKind mutation_ = SetMutationKind::Set;
  int exceptions_ = INT_MAX;  // exceptions in flight when the bracket opened
  bool open_ = true;
  bool changed_ = false;
};

class Object : public std::enable_shared_from_this<Object> {
 public:
  Object();
  virtual ~Object();
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  // ----- identity and text
  // The class name as the system writes it in logs ("BTUpdater"); defaults to the demangled
  // dynamic type without namespaces.
  virtual std::string className() const;
  // "<ClassName: 0x...>" unless a subclass says more.
  virtual std::string description() const;

  // ----- key-value coding
  // Throws NSUnknownKeyException "[<ClassName 0x...> valueForUndefinedKey:]: this class is not key
  // value coding-compliant for the key <key>." for a key the class does not expose.
  Value valueForKey(std::string_view key) const;
  void setValueForKey(const Value& value, std::string_view key);
  // A missing intermediate object gives null; setting through a missing step does nothing.
  Value valueForKeyPath(std::string_view keyPath) const;
  void setValueForKeyPath(const Value& value, std::string_view keyPath);

  // ----- key-value observation
  // Observes a key path of one or more steps from this object. The observation follows every
  // step: a change of any intermediate object re-binds it and delivers the new end value (null
  // while a step is missing). It lasts as long as the returned handle.
  [[nodiscard]] Observation observeScoped(std::string_view keyPath, unsigned options,
                                          ObservationCallback callback);
  // The same, tied to an observer: the callback runs only while `observer` is alive, and the
  // observation ends by itself when the observer or this object goes away. The handle comes
  // detached: it may be dropped, or kept to end the observation early.
  Observation observeDetached(std::string_view keyPath, unsigned options,
                              std::weak_ptr<const void> observer, ObservationCallback callback);
  // With an Object as observer the observation also ends the moment the observer is destroyed
  // (not only at the next change), so the observed object keeps no dead registrations.
  template <class T>
  requires std::is_base_of_v<Object, T> Observation
  observeDetached(std::string_view keyPath, unsigned options, const std::shared_ptr<T>& observer,
                  ObservationCallback callback) {
    const std::shared_ptr<const Object> tied = observer;
    return observeTied(keyPath, options, tied, std::move(callback));
  }
  template <class T>
  requires std::is_base_of_v<Object, T> Observation
  observeDetached(std::string_view keyPath, unsigned options, const std::weak_ptr<T>& observer,
                  ObservationCallback callback) {
    const std::shared_ptr<const Object> tied = observer.lock();
    return observeTied(keyPath, options, tied, std::move(callback));
  }
  // Ends every observation of `keyPath` tied to `observer` (removeObserver:forKeyPath:).
  void removeObserver(const std::shared_ptr<const void>& observer, std::string_view keyPath);
  // Number of live observations registered on this object (all key paths); for tests and leak
  // checks.
  std::size_t observationCount() const;

  // Manual change brackets. Nestable on the same key: observers hear once, when the outermost
  // did-change closes, with the value read then (old values and prior notifications come from
  // the outermost will-change). Every did-change notifies, even when the value did not change.
  // A will-change must be closed by its did-change on the same thread. Inline so that
  // announcing a change nobody observes costs one load.
  void willChangeValueForKey(std::string_view key) {
    if (table_.load(std::memory_order_acquire)) willChangeObserved(key);
  }
  void didChangeValueForKey(std::string_view key) {
    if (table_.load(std::memory_order_acquire)) didChangeObserved(key);
  }
  // To-many (set) mutations: observers of the key receive Insertion (union), Removal (minus, and
  // intersect with the objects it took away) or Replacement (set) with the objects concerned;
  // observers of a longer path through the key receive a Setting.
  void willChangeValueForKey(std::string_view key, SetMutationKind mutation, const Array& objects);
  void didChangeValueForKey(std::string_view key, SetMutationKind mutation, const Array& objects);

 protected:
  // Subclasses expose their keys here; return false for a key they do not know (after asking
  // their base class).
  virtual bool getValueForKey(std::string_view key, Value& out) const;
  virtual bool setValueForKeyImpl(std::string_view key, const Value& value);
  // Keys (or key paths from this object) whose changes also change `key`; a class declares its
  // dependent keys here (computedFinishDate depends on time). Must return the same answer for
  // the lifetime of the object.
  virtual std::vector<std::string> keyPathsForValuesAffectingKey(std::string_view key) const;

  // Whether setValueForKey brackets the assignment with will/did-change for `key` (true unless a
  // class announces that key itself, or wants it silent).
  virtual bool automaticallyNotifiesObserversForKey(std::string_view key) const;

  // A setter that notifies observers: brackets the assignment with will/did-change (an
  // assignment that throws announces nothing and leaves no bracket open).
  template <class T, class U>
  void setAndNotify(std::string_view key, T& field, U&& value) {
    ChangeScope change(*this, key);
    field = std::forward<U>(value);
  }
  // The silent counterpart (the "primitive" setters): nobody hears of the change.
  template <class T, class U>
  static void setSilently(T& field, U&& value) {
    field = std::forward<U>(value);
  }

 private:
  friend struct detail::PathObservation;
  friend struct detail::ObserverTable;
  friend class ChangeScope;
  Observation observeTied(std::string_view keyPath, unsigned options,
                          const std::shared_ptr<const Object>& observer,
                          ObservationCallback callback);
  void willChangeObserved(std::string_view key);
  void didChangeObserved(std::string_view key);
  // Drops this thread's open will-change of `key` without announcing it.
  void cancelChangeObserved(std::string_view key);
  mutable std::atomic<detail::ObserverTable*> table_{nullptr};
};

// While nobody observes the object nothing is bracketed, so announcing an unobserved change
// still costs one load and the exception count is not even read.
inline ChangeScope::ChangeScope(Object& object, std::string_view key) : object_(object), key_(key) {
  if (!object_.table_.load(std::memory_order_acquire)) return;
  exceptions_ = std::uncaught_exceptions();
  object_.willChangeObserved(key_);
}

inline ChangeScope::ChangeScope(Object& object, std::string_view key, SetMutationKind mutation,
                                const Array& objects)
    : object_(object),
      key_(key),
      objects_(&objects),
      mutation_(mutation),
      exceptions_(std::uncaught_exceptions()) {
  object_.willChangeValueForKey(key_, mutation_, *objects_);
}

inline void ChangeScope::cancel() {
  if (!open_) return;
  open_ = false;
  if (object_.table_.load(std::memory_order_acquire)) object_.cancelChangeObserved(key_);
}

// A destructor must not throw (it may run while an exception unwinds), so an observer that
// throws from its did-change callback is logged here and the other scopes still close.
inline ChangeScope::~ChangeScope() {
  if (!open_) return;
  try {
    if (!changed_ && std::uncaught_exceptions() > exceptions_) {
      cancel();
      return;
    }
    if (objects_)
      object_.didChangeValueForKey(key_, mutation_, *objects_);
    else
      object_.didChangeValueForKey(key_);
  } catch (...) {
    logEscapedException();
  }
}

}  // namespace tw
