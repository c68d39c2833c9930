#pragma once
// tw::store::ManagedObject: base of every stored object (what a managed object was). Each
// object is a row of its entity, registered in exactly one Context, which keeps it alive and
// hands out this same instance for that row on every fetch, so every screen, control and
// trigger observes one object.
//
// Every attribute and relationship of the entity is a key: valueForKey / setValueForKey work for
// all of them, setters notify key-value observers (and, for relationships, keep the inverse on
// the other side in step: setting one side detaches the previous partner), and primitive setters
// store without notifying anybody. Transient attributes notify like any other but are never
// saved and never count as a change, so a ticking display does not keep the store dirty.
//
// Entity classes add typed accessors on top of the *ForKey readers below and override the
// lifecycle hooks, always calling the inherited hook.
//
// Main thread only (the thread of its context).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"
#include "platform/store/EntityDescription.h"
#include "platform/store/Slot.h"

namespace tw::store {

class Context;
class Model;
class PersistentStore;

class ManagedObject : public tw::Object {
 public:
  ManagedObject();
  ~ManagedObject() override;

  // The entity of this object; raises NSInternalInconsistencyException for an object that no
  // context made (entity classes are only instantiated through a Context).
  const EntityDescription& entity() const;
  // nullptr once the object has turned into a fault.
  std::shared_ptr<Context> managedObjectContext() const;
  // The row's primary key within its entity hierarchy's table; given on insert, never reused
  // while the store is open.
  std::int64_t objectID() const { return rowId_; }

  bool isInserted() const { return state_ & kInserted; }
  // Stored attributes or to-one relationships differ from what was last saved.
  bool isUpdated() const { return changes_ != nullptr; }
  bool isDeleted() const { return state_ & kDeleted; }
  // No longer part of a context: deleted and saved, or its context was reset or cleaned up.
  // Attributes still read what they held; relationships read as empty.
  bool isFault() const { return context_ == nullptr; }
  bool hasChanges() const { return isInserted() || isUpdated() || isDeleted(); }
  // Stored properties whose values differ from the last save, with their current values.
  Dictionary changedValues() const;

  // ----- reading the value of a model property (null reads as 0 / false / nullopt). A key that
  // is no model property goes through valueForKey, so computed keys work too.
  std::int64_t int64ForKey(std::string_view key) const;
  bool boolForKey(std::string_view key) const;
  double doubleForKey(std::string_view key) const;
  std::optional<std::string> stringForKey(std::string_view key) const;
  std::optional<Date> dateForKey(std::string_view key) const;
  std::shared_ptr<ManagedObject> objectForKey(std::string_view key) const;
  template <class T>
  std::shared_ptr<T> objectForKey(std::string_view key) const {
    return std::dynamic_pointer_cast<T>(objectForKey(key));
  }
  // The members of a to-many relationship, in no defined order.
  std::vector<std::shared_ptr<ManagedObject>> objectsForKey(std::string_view key) const;
  template <class T>
  std::vector<std::shared_ptr<T>> objectsForKey(std::string_view key) const {
    std::vector<std::shared_ptr<T>> out;
    for (auto& o : objectsForKey(key))
      if (auto t = std::dynamic_pointer_cast<T>(o)) out.push_back(std::move(t));
    return out;
  }
  std::size_t countOfObjectsForKey(std::string_view key) const;
  bool containsObjectForKey(const ManagedObject& object, std::string_view key) const;

  // ----- to-many mutations, notified as set union / set minus. Adding an object moves it away
  // from its previous owner; removing an absent object does nothing.
  void addObjectForKey(const std::shared_ptr<ManagedObject>& object, std::string_view key);
  void removeObjectForKey(const std::shared_ptr<ManagedObject>& object, std::string_view key);

  // ----- attributes without observer notifications. The change is still recorded and saved.
  Value primitiveValueForKey(std::string_view key) const;
  void setPrimitiveValueForKey(const Value& value, std::string_view key);

  std::string className() const override;
  std::string description() const override;

 protected:
  // Lifecycle hooks; overrides call the inherited version first.
  // After the object was inserted and its defaults applied.
  virtual void awakeFromInsert() {}
  // After the object was loaded from the store, once every loaded object is linked to its
  // partners.
  virtual void awakeFromFetch() {}
  // When deleted, before its relationships are cut.
  virtual void prepareForDeletion() {}
  // When it leaves its context (deleted and saved, or the context was reset).
  virtual void didTurnIntoFault() {}

  bool getValueForKey(std::string_view key, Value& out) const override;
  bool setValueForKeyImpl(std::string_view key, const Value& value) override;
  // Model properties announce their own changes (a to-many one as set mutations, with the
  // inverse side in the same bracket).
  bool automaticallyNotifiesObserversForKey(std::string_view key) const override;

 private:
  friend class Context;
  friend class PersistentStore;

  enum : std::uint8_t {
    kInserted = 1 << 0,
    kDeleted = 1 << 1,
    kTurnInserted = 1 << 2,  // listed in the pending did-change notification
    kTurnUpdated = 1 << 3,
    kTurnDeleted = 1 << 4,
    kUpdatedListed = 1 << 5,  // in the context's list of updated objects
  };

  // Last saved values of the stored properties that changed since (a to-one as its partner's
  // row id, or null).
  struct Changes {
    std::vector<std::pair<std::uint16_t, Slot>> committed;
  };

  const PropertyDescription& propertyOrRaise(std::string_view key) const;
  Value valueOfSlot(const PropertyDescription& p) const;
  // Raises NSInvalidArgumentException for a value the attribute cannot hold.
  static Slot slotFromValue(const Value& value, const PropertyDescription& p);
  static Slot committedForm(const PropertyDescription& p, const Slot& s);

  // Every change of a slot goes through here: keeps Changes and the context's books.
  void storeSlot(const PropertyDescription& p, Slot value);
  void setAttribute(const PropertyDescription& p, Slot value, bool notify);

  // Relationship mutations keeping both sides in step; `notify` sends key-value notifications.
  void checkRelationshipTarget(const PropertyDescription& p, const ManagedObject* target) const;
  void setToOne(const PropertyDescription& p, ManagedObject* target, bool notify);
  void addToMany(const PropertyDescription& p, ManagedObject* member, bool notify);
  void removeFromToMany(const PropertyDescription& p, ManagedObject* member, bool notify);
  void setToMany(const PropertyDescription& p, const std::vector<ManagedObject*>& members);
  void insertMember(const PropertyDescription& p, ManagedObject* member);
  void eraseMember(const PropertyDescription& p, ManagedObject* member);

  // `model` owns `entity`; the object keeps it alive, because a caller may hold the object past
  // its context and past the set-up that replaced the default model.
  void attach(Context* context, std::shared_ptr<const Model> model, const EntityDescription* entity,
              std::int64_t rowId);
  // Leaves the context: relationships are emptied without notifications.
  void turnIntoFault();

  Context* context_ = nullptr;
  std::shared_ptr<const Model> model_;  // owns entity_
  const EntityDescription* entity_ = nullptr;
  std::int64_t rowId_ = 0;
  static constexpr std::uint32_t kNotListed = 0xFFFFFFFF;
  std::uint32_t listIndex_ = kNotListed;  // position in the context's list of its entity's objects
  std::uint32_t insertedIndex_ = kNotListed;  // position in the context's unsaved inserts
  std::uint8_t state_ = 0;
  std::unique_ptr<Slot[]> slots_;
  std::unique_ptr<Changes> changes_;
};

}  // namespace tw::store
