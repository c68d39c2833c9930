#include "platform/store/Context.h"

#include <algorithm>
#include <numeric>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/store/Stack.h"

namespace tw::store {

struct Context::TableState {
  const EntityDescription* root = nullptr;
  // The identity map of the table's rows; the context's own reference to each object.
  std::unordered_map<std::int64_t, std::shared_ptr<ManagedObject>> rows;
  std::int64_t nextRowId = 1;
};

// The live objects of one entity in row order, for fetches. Deleting leaves a hole; the holes
// are squeezed out once they make up half the list.
struct Context::EntityList {
  std::vector<ManagedObject*> objects;
  std::size_t holes = 0;
};

namespace {
std::shared_ptr<ManagedObject> strong(ManagedObject* o) {
  return std::static_pointer_cast<ManagedObject>(o->shared_from_this());
}
}  // namespace

Context::Context(std::shared_ptr<const Model> model, std::shared_ptr<PersistentStore> store)
    : model_(std::move(model)), store_(std::move(store)) {
  const auto& roots = model_->rootEntities();
  for (const EntityDescription* root : roots) {
    auto t = std::make_unique<TableState>();
    t->root = root;
    tables_.push_back(std::move(t));
  }
  for (const auto& e : model_->entities()) {
    lists_.push_back(std::make_unique<EntityList>());
    auto it = std::find(roots.begin(), roots.end(), &e->rootEntity());
    tableOfEntity_.push_back(static_cast<std::uint32_t>(it - roots.begin()));
  }
}

Context::~Context() {
  dropAll();
  if (store_) store_->close();
}

std::shared_ptr<Context> Context::open(std::shared_ptr<const Model> model,
                                       const std::filesystem::path& path) {
  auto store = PersistentStore::open(model, path);
  auto context = std::shared_ptr<Context>(new Context(std::move(model), store));
  context->adopt(store->takeLoadedRows());
  return context;
}

std::shared_ptr<Context> Context::defaultContext() { return Stack::defaultContext(); }

Context::TableState& Context::tableOf(const EntityDescription& entity) {
  return *tables_[tableOfEntity_[entity.index()]];
}

const Context::TableState* Context::tableOf(const EntityDescription& entity) const {
  return tables_[tableOfEntity_[entity.index()]].get();
}

// ----- registration

void Context::listObject(ManagedObject* o) {
  EntityList& list = *lists_[o->entity_->index()];
  o->listIndex_ = static_cast<std::uint32_t>(list.objects.size());
  list.objects.push_back(o);
}

void Context::unlistObject(ManagedObject* o) {
  if (o->listIndex_ == ManagedObject::kNotListed) return;
  EntityList& list = *lists_[o->entity_->index()];
  list.objects[o->listIndex_] = nullptr;
  o->listIndex_ = ManagedObject::kNotListed;
  if (++list.holes < 64 || list.holes * 2 < list.objects.size()) return;
  std::erase(list.objects, nullptr);
  list.holes = 0;
  for (std::size_t i = 0; i < list.objects.size(); ++i)
    list.objects[i]->listIndex_ = static_cast<std::uint32_t>(i);
}

void Context::registerObject(std::shared_ptr<ManagedObject> object) {
  ManagedObject* o = object.get();
  tableOf(*o->entity_).rows.emplace(o->rowId_, std::move(object));
  listObject(o);
  ++registeredCount_;
}

std::shared_ptr<ManagedObject> Context::unregisterObject(ManagedObject* o) {
  unlistObject(o);
  auto& rows = tableOf(*o->entity_).rows;
  auto it = rows.find(o->rowId_);
  if (it == rows.end() || it->second.get() != o) return nullptr;
  std::shared_ptr<ManagedObject> out = std::move(it->second);
  rows.erase(it);
  --registeredCount_;
  return out;
}

void Context::adopt(PersistentStore::LoadedRows loaded) {
  for (std::size_t r = 0; r < tables_.size() && r < loaded.maxRowIds.size(); ++r)
    tables_[r]->nextRowId = std::max(tables_[r]->nextRowId, loaded.maxRowIds[r] + 1);
  for (auto& t : tables_)
    t->rows.reserve(t->rows.size() +
                    loaded.objects.size() / std::max<std::size_t>(1, tables_.size()));

  for (auto& object : loaded.objects) {
    object->context_ = this;
    registerObject(object);
  }

  // Link partners: first every to-one that decides the link takes its partner (the others are
  // cleared), then each partner takes its side, so a damaged row can never link twice.
  std::size_t dangling = 0;
  for (auto& object : loaded.objects) {
    ManagedObject* o = object.get();
    for (std::uint16_t i : o->entity_->relationships()) {
      const PropertyDescription& p = o->entity_->properties()[i];
      Slot& slot = o->slots_[i];
      if (!p.isToOne() || slot.kind() != Slot::Kind::Int) continue;
      ManagedObject* target = nullptr;
      if (p.wiresOnLoad) {
        auto& rows = tableOf(*p.destination).rows;
        auto it = rows.find(slot.intValue());
        if (it != rows.end() && it->second->entity_->isKindOf(*p.destination))
          target = it->second.get();
        else
          ++dangling;
      }
      slot.setObject(target);
    }
  }
  for (auto& object : loaded.objects) {
    ManagedObject* o = object.get();
    for (std::uint16_t i : o->entity_->relationships()) {
      const PropertyDescription& p = o->entity_->properties()[i];
      if (!p.wiresOnLoad) continue;
      ManagedObject* target = o->slots_[i].object();
      if (!target) continue;
      Slot& inverse = target->slots_[p.inverseIndex];
      if (target->entity_->properties()[p.inverseIndex].isToMany()) {
        inverse.objects().push_back(o);
      } else if (!inverse.object()) {
        inverse.setObject(o);
      } else {
        o->slots_[i].clear();
        ++dangling;
      }
    }
  }
  if (dangling)
    log(LogLevel::Error, "<Context> " + std::to_string(dangling) +
                             " stored links point to rows that are missing or already taken; "
                             "they read as empty");

  for (auto& object : loaded.objects) object->awakeFromFetch();
}

// ----- inserting and deleting

std::shared_ptr<ManagedObject> Context::insertNewObject(std::string_view entityName) {
  return insertObject(model_->entityNamed(entityName));
}

std::shared_ptr<ManagedObject> Context::insertObject(const EntityDescription& entity) {
  TW_MAIN_THREAD_ONLY("tw::store::Context::insertObject");
  if (&entity != model_->entity(entity.name()))
    raise(NSInvalidArgumentException, "The entity " + entity.name() + " is not of this model");
  std::shared_ptr<ManagedObject> object = entity.instantiate();
  TableState& table = tableOf(entity);
  object->attach(this, model_, &entity, table.nextRowId++);
  for (const PropertyDescription& p : entity.properties())
    if (p.isAttribute() && !p.defaultValue.isNull())
      object->slots_[p.index] = ManagedObject::slotFromValue(p.defaultValue, p);
  object->state_ |= ManagedObject::kInserted | ManagedObject::kTurnInserted;
  object->insertedIndex_ = static_cast<std::uint32_t>(inserted_.size());
  inserted_.push_back(object);
  ++insertedCount_;
  turnObjects_.push_back(object);
  registerObject(object);
  scheduleNotification();
  object->awakeFromInsert();
  return object;
}

void Context::deleteObject(const std::shared_ptr<ManagedObject>& object) {
  TW_MAIN_THREAD_ONLY("tw::store::Context::deleteObject");
  if (!object || object->context_ != this || object->isDeleted()) return;
  std::vector<std::shared_ptr<ManagedObject>> keepAlive;
  deleteOne(object.get(), keepAlive);
}

void Context::deleteOne(ManagedObject* o, std::vector<std::shared_ptr<ManagedObject>>& keepAlive) {
  keepAlive.push_back(strong(o));
  o->prepareForDeletion();
  if (o->isDeleted() || o->context_ != this) return;
  o->state_ |= ManagedObject::kDeleted;

  // Cut every relationship (observers on both sides hear it); partners under a cascade rule go
  // next.
  std::vector<ManagedObject*> cascade;
  const EntityDescription& e = *o->entity_;
  for (std::uint16_t i : e.relationships()) {
    const PropertyDescription& p = e.properties()[i];
    if (p.isToOne()) {
      ManagedObject* partner = o->slots_[i].object();
      if (!partner) continue;
      if (p.deleteRule == DeleteRule::Cascade) cascade.push_back(partner);
      o->setToOne(p, nullptr, true);
    } else if (const ObjectSet* set = o->slots_[i].objectsIfAny()) {
      ObjectSet members = *set;
      if (p.deleteRule == DeleteRule::Cascade)
        cascade.insert(cascade.end(), members.begin(), members.end());
      for (ManagedObject* m : members) o->removeFromToMany(p, m, true);
    }
  }

  unlistObject(o);
  if (o->changes_) {
    o->changes_.reset();
    objectUpdatedStateChanged(o);
  }
  if (o->state_ & ManagedObject::kInserted) {
    o->state_ &= ~ManagedObject::kInserted;
    --insertedCount_;
    forgetInsert(o);
    forget_.push_back(o);
  } else {
    deleted_.push_back(strong(o));
  }
  if (!(o->state_ & (ManagedObject::kTurnInserted | ManagedObject::kTurnUpdated)))
    turnObjects_.push_back(strong(o));
  o->state_ |= ManagedObject::kTurnDeleted;
  scheduleNotification();

  for (ManagedObject* partner : cascade)
    if (!partner->isDeleted() && partner->context_ == this) deleteOne(partner, keepAlive);
}

void Context::forgetInsert(ManagedObject* o) {
  if (o->insertedIndex_ == ManagedObject::kNotListed) return;
  inserted_[o->insertedIndex_].reset();
  o->insertedIndex_ = ManagedObject::kNotListed;
  if (++insertedHoles_ < 64 || insertedHoles_ * 2 < inserted_.size()) return;
  std::erase(inserted_, nullptr);
  for (std::size_t i = 0; i < inserted_.size(); ++i)
    inserted_[i]->insertedIndex_ = static_cast<std::uint32_t>(i);
  insertedHoles_ = 0;
}

// ----- fetching

void Context::collectMatches(const FetchRequest& request, std::vector<ManagedObject*>& out) const {
  const EntityDescription& entity = model_->entityNamed(request.entityName);
  auto scan = [&](const EntityDescription& e) {
    for (ManagedObject* o : lists_[e.index()]->objects)
      if (o && (request.predicate.isEmpty() || request.predicate.evaluate(*o))) out.push_back(o);
  };
  if (request.includesSubentities) {
    for (const EntityDescription* e : entity.selfAndDescendants()) scan(*e);
  } else {
    scan(entity);
  }
}

std::vector<std::shared_ptr<ManagedObject>> Context::fetch(const FetchRequest& request) const {
  TW_MAIN_THREAD_ONLY("tw::store::Context::fetch");
  std::vector<ManagedObject*> matches;
  collectMatches(request, matches);

  if (!request.sortDescriptors.empty()) {
    // Read every sort key once, then sort positions.
    const std::size_t keys = request.sortDescriptors.size();
    std::vector<Value> values(matches.size() * keys);
    for (std::size_t i = 0; i < matches.size(); ++i)
      for (std::size_t k = 0; k < keys; ++k)
        values[i * keys + k] = matches[i]->valueForKeyPath(request.sortDescriptors[k].key);
    std::vector<std::size_t> order(matches.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      for (std::size_t k = 0; k < keys; ++k) {
        const Value& x = values[a * keys + k];
        const Value& y = values[b * keys + k];
        int c;
        if (x.isNull() || y.isNull())
          c = x.isNull() == y.isNull() ? 0 : x.isNull() ? -1 : 1;  // nil sorts first
        else
          c = Predicate::compareValues(x, y).value_or(0);
        if (c != 0) return request.sortDescriptors[k].ascending ? c < 0 : c > 0;
      }
      return false;
    });
    std::vector<ManagedObject*> sorted;
    sorted.reserve(matches.size());
    for (std::size_t i : order) sorted.push_back(matches[i]);
    matches.swap(sorted);
  }
  if (request.fetchLimit && matches.size() > request.fetchLimit) matches.resize(request.fetchLimit);

  std::vector<std::shared_ptr<ManagedObject>> out;
  out.reserve(matches.size());
  for (ManagedObject* o : matches) out.push_back(strong(o));
  return out;
}

std::size_t Context::count(const FetchRequest& request) const {
  TW_MAIN_THREAD_ONLY("tw::store::Context::count");
  std::vector<ManagedObject*> matches;
  collectMatches(request, matches);
  if (request.fetchLimit) return std::min(matches.size(), request.fetchLimit);
  return matches.size();
}

std::shared_ptr<ManagedObject> Context::existingObject(const EntityDescription& entity,
                                                       std::int64_t objectID) const {
  const auto& rows = tableOf(entity)->rows;
  auto it = rows.find(objectID);
  if (it == rows.end() || !it->second->entity_->isKindOf(entity)) return nullptr;
  return it->second;
}

// ----- changes

bool Context::hasChanges() const {
  TW_MAIN_THREAD_ONLY("tw::store::Context::hasChanges");
  return insertedCount_ > 0 || updatedCount_ > 0 || !deleted_.empty();
}

std::vector<std::shared_ptr<ManagedObject>> Context::insertedObjects() const {
  std::vector<std::shared_ptr<ManagedObject>> out;
  for (const auto& o : inserted_)
    if (o && (o->state_ & ManagedObject::kInserted)) out.push_back(o);
  return out;
}

std::vector<std::shared_ptr<ManagedObject>> Context::updatedObjects() const {
  std::vector<std::shared_ptr<ManagedObject>> out;
  for (const auto& o : updated_)
    if (o->changes_ && !o->isDeleted()) out.push_back(o);
  return out;
}

std::vector<std::shared_ptr<ManagedObject>> Context::deletedObjects() const { return deleted_; }

void Context::objectDidChange(ManagedObject* o) {
  constexpr std::uint8_t kAnyTurn =
      ManagedObject::kTurnInserted | ManagedObject::kTurnUpdated | ManagedObject::kTurnDeleted;
  if ((o->state_ & (kAnyTurn | ManagedObject::kDeleted)) || o->context_ != this) return;
  o->state_ |= ManagedObject::kTurnUpdated;
  turnObjects_.push_back(strong(o));
  scheduleNotification();
}

void Context::objectUpdatedStateChanged(ManagedObject* o) {
  if (o->changes_) {
    ++updatedCount_;
    if (!(o->state_ & ManagedObject::kUpdatedListed)) {
      o->state_ |= ManagedObject::kUpdatedListed;
      updated_.push_back(strong(o));
    }
  } else {
    --updatedCount_;
  }
}

void Context::scheduleNotification() {
  if (notificationQueued_) return;
  notificationQueued_ = true;
  std::weak_ptr<Object> weak = weak_from_this();
  DispatchQueue::main()->async([weak] {
    if (auto self = weak.lock()) static_cast<Context*>(self.get())->processPendingChanges();
  });
}

void Context::processPendingChanges() {
  TW_MAIN_THREAD_ONLY("tw::store::Context::processPendingChanges");
  notificationQueued_ = false;

  // Objects inserted and deleted again since the last save leave now.
  std::vector<ManagedObject*> forget;
  forget.swap(forget_);
  std::vector<std::shared_ptr<ManagedObject>> forgotten;
  for (ManagedObject* o : forget)
    if (auto held = unregisterObject(o)) forgotten.push_back(std::move(held));

  Array inserted, updated, deleted;
  std::vector<std::shared_ptr<ManagedObject>> turn;
  turn.swap(turnObjects_);
  for (auto& o : turn) {
    std::uint8_t f = o->state_;
    if (f & ManagedObject::kTurnInserted) {
      if (!(f & ManagedObject::kDeleted)) inserted.emplace_back(o);
    } else if (f & ManagedObject::kTurnDeleted) {
      deleted.emplace_back(o);
    } else if ((f & ManagedObject::kTurnUpdated) && !(f & ManagedObject::kDeleted)) {
      updated.emplace_back(o);
    }
    o->state_ &=
        ~(ManagedObject::kTurnInserted | ManagedObject::kTurnUpdated | ManagedObject::kTurnDeleted);
  }
  for (auto& o : forgotten) o->turnIntoFault();

  if (inserted.empty() && updated.empty() && deleted.empty()) return;
  Dictionary info;
  if (!inserted.empty()) info.emplace(kInsertedObjectsKey, Value(std::move(inserted)));
  if (!updated.empty()) info.emplace(kUpdatedObjectsKey, Value(std::move(updated)));
  if (!deleted.empty()) info.emplace(kDeletedObjectsKey, Value(std::move(deleted)));
  NotificationCenter::defaultCenter()->post(kObjectsDidChangeNotification, shared_from_this(),
                                            std::move(info));
}

ErrorPtr Context::save() {
  TW_MAIN_THREAD_ONLY("tw::store::Context::save");
  processPendingChanges();
  if (!store_ || !store_->isOpen())
    return Error::make(kStoreErrorDomain, 1,
                       {{kLocalizedDescriptionKey, Value("the store is closed")}});
  if (!hasChanges()) return nullptr;

  std::vector<ManagedObject*> inserted, updated;
  std::vector<PersistentStore::DeletedRow> deleted;
  for (const auto& o : inserted_)
    if (o && (o->state_ & ManagedObject::kInserted)) inserted.push_back(o.get());
  for (const auto& o : updated_)
    if (o->changes_ && !(o->state_ & (ManagedObject::kInserted | ManagedObject::kDeleted)))
      updated.push_back(o.get());
  for (const auto& o : deleted_) deleted.push_back({o->entity_, o->rowId_});

  if (ErrorPtr error = store_->write(inserted, updated, deleted)) {
    log(LogLevel::Error, "<Context> Cannot save to " + store_->path().string() + ": " +
                             error->localizedDescription());
    return error;
  }

  for (ManagedObject* o : inserted) {
    o->state_ &= ~ManagedObject::kInserted;
    o->insertedIndex_ = ManagedObject::kNotListed;
  }
  inserted_.clear();
  insertedHoles_ = 0;
  insertedCount_ = 0;
  for (const auto& o : updated_) {
    o->changes_.reset();
    o->state_ &= ~ManagedObject::kUpdatedListed;
  }
  updated_.clear();
  updatedCount_ = 0;
  std::vector<std::shared_ptr<ManagedObject>> gone;
  gone.swap(deleted_);
  for (const auto& o : gone) unregisterObject(o.get());
  for (const auto& o : gone) o->turnIntoFault();
  return nullptr;
}

void Context::dropAll() {
  std::vector<std::shared_ptr<ManagedObject>> all;
  all.reserve(registeredCount_);
  for (auto& t : tables_) {
    for (auto& [id, o] : t->rows) all.push_back(std::move(o));
    t->rows.clear();
  }
  for (auto& list : lists_) {
    list->objects.clear();
    list->holes = 0;
  }
  registeredCount_ = 0;
  for (auto& o : inserted_)
    if (o) o->insertedIndex_ = ManagedObject::kNotListed;
  inserted_.clear();
  insertedHoles_ = 0;
  updated_.clear();
  deleted_.clear();
  forget_.clear();
  turnObjects_.clear();
  insertedCount_ = updatedCount_ = 0;
  // Every link is cut before any hook runs, so no hook meets a half-dismantled graph.
  for (auto& o : all) {
    for (std::uint16_t i : o->entity_->relationships()) o->slots_[i].clear();
  }
  for (auto& o : all) o->turnIntoFault();
}

void Context::reset() {
  TW_MAIN_THREAD_ONLY("tw::store::Context::reset");
  dropAll();
  if (!store_ || !store_->isOpen()) return;
  try {
    adopt(store_->readAll());
  } catch (...) {
    log(LogLevel::Error, "<Context> Cannot read the store at " + store_->path().string() +
                             " again; the context stays empty");
  }
}

void Context::close() {
  TW_MAIN_THREAD_ONLY("tw::store::Context::close");
  dropAll();
  if (store_) store_->close();
}

}  // namespace tw::store
