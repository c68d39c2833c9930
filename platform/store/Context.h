#pragma once
// tw::store::Context: the one object context of a store (what a managed object context was). It
// owns every object it registered, keeps one live object per row (the identity map), tracks
// inserts, changes and deletes, answers fetches from memory (unsaved inserts included, deleted
// objects left out) and saves everything in one transaction.
//
// The whole object graph is read when the context opens: every row becomes an object, linked to
// its partners, and awakeFromFetch runs for each once all are linked. Stores of this system are
// small (tens of objects), and reading every row up front also finds a damaged file at once,
// when it can still be set aside, instead of half-way through a session.
//
// Changes are announced once per turn of the main loop: the first change of a turn queues a
// block on the main queue that posts kObjectsDidChangeNotification (object: the context; user
// info: arrays of objects under "inserted", "updated" and "deleted") on the default
// notification centre. Transient attributes are no change and are never announced.
//
// Main thread only (debug and sanitizer builds abort on a call from another thread).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/store/FetchRequest.h"
#include "platform/store/ManagedObject.h"
#include "platform/store/Model.h"
#include "platform/store/PersistentStore.h"
#include "platform/store/Predicate.h"

namespace tw::store {

inline constexpr const char* kObjectsDidChangeNotification =
    "NSManagedObjectContextObjectsDidChangeNotification";
inline constexpr const char* kInsertedObjectsKey = "inserted";
inline constexpr const char* kUpdatedObjectsKey = "updated";
inline constexpr const char* kDeletedObjectsKey = "deleted";

class Context : public tw::Object {
 public:
  // Opens the store at `path` (creating it and its folder when missing, upgrading it when an
  // older model wrote it) and loads it. A store that cannot be read, or that a newer model
  // wrote, is moved aside and the context starts empty; see PersistentStore. The path
  // ":memory:" keeps the store in memory.
  static std::shared_ptr<Context> open(std::shared_ptr<const Model> model,
                                       const std::filesystem::path& path);
  // The default stack's context (Stack::setup...), or nullptr.
  static std::shared_ptr<Context> defaultContext();

  ~Context() override;

  const Model& model() const { return *model_; }
  // nullptr once closed.
  const std::shared_ptr<PersistentStore>& persistentStore() const { return store_; }

  // ----- inserting: a new object with its entity's default values; awakeFromInsert has run.
  std::shared_ptr<ManagedObject> insertNewObject(std::string_view entityName);
  template <class T>
  std::shared_ptr<T> insertNew() {
    return std::static_pointer_cast<T>(insertObject(model_->entityFor<T>()));
  }
  std::shared_ptr<ManagedObject> insertObject(const EntityDescription& entity);

  // ----- deleting: applies the delete rules at once (nullify, cascade); the row goes at the
  // next save. Deleting an object inserted since the last save simply forgets it.
  void deleteObject(const std::shared_ptr<ManagedObject>& object);

  // ----- fetching
  std::vector<std::shared_ptr<ManagedObject>> fetch(const FetchRequest& request) const;
  std::size_t count(const FetchRequest& request) const;
  // Every object of T's entity (sub-entities included), sorted by a comma-separated key list.
  template <class T>
  std::vector<std::shared_ptr<T>> findAll(std::string_view sortKeys = {},
                                          bool ascending = true) const {
    return findAllWithPredicate<T>(Predicate(), sortKeys, ascending);
  }
  template <class T>
  std::vector<std::shared_ptr<T>> findAllWithPredicate(const Predicate& predicate,
                                                       std::string_view sortKeys = {},
                                                       bool ascending = true) const {
    FetchRequest request(model_->entityFor<T>().name(), predicate);
    request.sortDescriptors = SortDescriptor::fromKeyList(sortKeys, ascending);
    std::vector<std::shared_ptr<T>> out;
    for (auto& o : fetch(request)) out.push_back(std::static_pointer_cast<T>(std::move(o)));
    return out;
  }
  template <class T>
  std::size_t countOf(const Predicate& predicate = {}) const {
    return count(FetchRequest(model_->entityFor<T>().name(), predicate));
  }
  // The registered object of a row, or nullptr (deleted ones included until saved).
  std::shared_ptr<ManagedObject> existingObject(const EntityDescription& entity,
                                                std::int64_t objectID) const;
  std::size_t registeredObjectCount() const { return registeredCount_; }

  // ----- changes
  // Net: an object inserted and deleted again, or a value set back to its saved value, is no
  // change.
  bool hasChanges() const;
  std::vector<std::shared_ptr<ManagedObject>> insertedObjects() const;
  std::vector<std::shared_ptr<ManagedObject>> updatedObjects() const;
  std::vector<std::shared_ptr<ManagedObject>> deletedObjects() const;
  // Posts the pending did-change notification now instead of at the end of the turn.
  void processPendingChanges();

  // Writes every change to the store in one transaction and waits for it. Returns nullptr on
  // success; on failure nothing is written, the changes stay pending, the reason is logged and
  // returned.
  ErrorPtr save();
  // Forgets every unsaved change and turns every object into a fault; the store stays open and
  // later fetches read it afresh.
  void reset();
  // reset(), then closes the store. Nothing is saved.
  void close();

 private:
  friend class ManagedObject;
  struct TableState;
  struct EntityList;

  Context(std::shared_ptr<const Model> model, std::shared_ptr<PersistentStore> store);
  void adopt(PersistentStore::LoadedRows rows);
  void dropAll();
  void registerObject(std::shared_ptr<ManagedObject> object);
  // Hands back the context's reference.
  std::shared_ptr<ManagedObject> unregisterObject(ManagedObject* object);
  void listObject(ManagedObject* object);
  void unlistObject(ManagedObject* object);
  TableState& tableOf(const EntityDescription& entity);
  const TableState* tableOf(const EntityDescription& entity) const;

  void deleteOne(ManagedObject* object, std::vector<std::shared_ptr<ManagedObject>>& keepAlive);
  void forgetInsert(ManagedObject* object);
  void collectMatches(const FetchRequest& request, std::vector<ManagedObject*>& out) const;

  // Books kept for ManagedObject.
  void objectDidChange(ManagedObject* object);
  void objectUpdatedStateChanged(ManagedObject* object);
  void scheduleNotification();

  std::shared_ptr<const Model> model_;
  std::shared_ptr<PersistentStore> store_;
  std::vector<std::unique_ptr<TableState>> tables_;  // by root entity, in model order
  std::vector<std::unique_ptr<EntityList>> lists_;   // by entity index

  std::vector<std::uint32_t> tableOfEntity_;  // by entity index
  std::size_t registeredCount_ = 0;

  // Unsaved inserts in order; one deleted again leaves at once (its entry is emptied, and the
  // holes are squeezed out once they are half the list), so churn before a save holds nothing.
  std::vector<std::shared_ptr<ManagedObject>> inserted_;
  std::size_t insertedHoles_ = 0;
  // The flags of the objects decide; the list is cleaned up at save.
  std::vector<std::shared_ptr<ManagedObject>> updated_;  // with Changes (kUpdatedListed)
  std::size_t insertedCount_ = 0;
  std::size_t updatedCount_ = 0;
  std::vector<std::shared_ptr<ManagedObject>> deleted_;  // saved rows deleted since
  std::vector<ManagedObject*> forget_;  // inserted, then deleted: dropped at the end of the turn

  // The pending did-change notification.
  std::vector<std::shared_ptr<ManagedObject>> turnObjects_;
  bool notificationQueued_ = false;
};

}  // namespace tw::store
