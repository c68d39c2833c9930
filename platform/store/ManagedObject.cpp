#include "platform/store/ManagedObject.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"
#include "platform/store/Context.h"

namespace tw::store {

namespace {

const char* typeName(AttributeType type) {
  switch (type) {
    case AttributeType::String:
      return "NSString";
    case AttributeType::Bool:
    case AttributeType::Int64:
    case AttributeType::Double:
      return "NSNumber";
    case AttributeType::Date:
      return "NSDate";
  }
  return "?";
}

const char* valueTypeName(const Value& v) {
  switch (v.type()) {
    case Value::Type::Null:
      return "nil";
    case Value::Type::Bool:
    case Value::Type::Int:
    case Value::Type::UInt:
    case Value::Type::Double:
      return "NSNumber";
    case Value::Type::String:
      return "NSString";
    case Value::Type::Data:
      return "NSData";
    case Value::Type::Date:
      return "NSDate";
    case Value::Type::Array:
      return "NSArray";
    case Value::Type::Dictionary:
      return "NSDictionary";
    case Value::Type::Object:
      return "object";
  }
  return "?";
}

Slot objectSlot(ManagedObject* o) {
  Slot s;
  s.setObject(o);
  return s;
}

std::shared_ptr<ManagedObject> strong(ManagedObject* o) {
  return std::static_pointer_cast<ManagedObject>(o->shared_from_this());
}

std::string address(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", p);
  return buf;
}

// Key-value notifications of one relationship change: every will-change goes out before the
// first slot changes and every did-change after the last, so observers on either side only
// ever see both sides in step. Each bracket is a ChangeScope, so a change that ends by an
// exception leaves none open; the scopes close in the reverse order of opening.
class Notes {
 public:
  explicit Notes(bool enabled) : enabled_(enabled) {}
  Notes(const Notes&) = delete;
  Notes& operator=(const Notes&) = delete;
  ~Notes() { close(); }

  void setting(ManagedObject* o, const PropertyDescription& p) {
    if (enabled_ && o && !p.isHidden) add(o, p, false, {}, nullptr);
  }
  void mutation(ManagedObject* o, const PropertyDescription& p, SetMutationKind kind,
                ManagedObject* member) {
    if (enabled_ && o && !p.isHidden) add(o, p, true, kind, member);
  }
  void will() {
    for (std::size_t i = 0; i < count_; ++i) {
      Note& n = notes_[i];
      if (n.isMutation) {
        n.members = Array{Value(strong(n.member))};
        n.scope.emplace(*n.object, n.property->name, n.kind, n.members);
      } else {
        n.scope.emplace(*n.object, n.property->name);
      }
    }
  }
  // Every slot has changed: the scopes announce it.
  void did() {
    for (std::size_t i = 0; i < count_; ++i)
      if (notes_[i].scope) notes_[i].scope->markChanged();
    close();
  }

 private:
  struct Note {
    ManagedObject* object = nullptr;
    const PropertyDescription* property = nullptr;
    bool isMutation = false;
    SetMutationKind kind = SetMutationKind::Set;
    ManagedObject* member = nullptr;
    Array members;                     // the mutation's objects, which the scope refers to
    std::optional<ChangeScope> scope;  // open between will() and did()
  };
  // A relationship change touches at most its own side, the old and new partners and the new
  // partner's previous partner.
  static constexpr std::size_t kMaxNotes = 4;

  void add(ManagedObject* o, const PropertyDescription& p, bool isMutation, SetMutationKind kind,
           ManagedObject* member) {
    if (count_ == kMaxNotes)
      raise(NSInternalInconsistencyException, "Too many change notifications for one change");
    Note& n = notes_[count_++];
    n.object = o;
    n.property = &p;
    n.isMutation = isMutation;
    n.kind = kind;
    n.member = member;
  }
  void close() {
    for (std::size_t i = count_; i-- > 0;) notes_[i].scope.reset();
  }

  bool enabled_;
  std::array<Note, kMaxNotes> notes_;
  std::size_t count_ = 0;
};

}  // namespace

ManagedObject::ManagedObject() = default;
ManagedObject::~ManagedObject() = default;

const EntityDescription& ManagedObject::entity() const {
  if (!entity_)
    raise(NSInternalInconsistencyException,
          "An object of class " + Object::className() +
              " was not made by a store context and has no entity");
  return *entity_;
}

std::shared_ptr<Context> ManagedObject::managedObjectContext() const {
  if (!context_) return nullptr;
  return std::static_pointer_cast<Context>(context_->shared_from_this());
}

Dictionary ManagedObject::changedValues() const {
  Dictionary out;
  if (!changes_) return out;
  for (const auto& [index, committed] : changes_->committed)
    out.emplace(entity_->properties()[index].name, valueOfSlot(entity_->properties()[index]));
  return out;
}

// ----- slots and values

Value ManagedObject::valueOfSlot(const PropertyDescription& p) const {
  const Slot& s = slots_[p.index];
  switch (p.kind) {
    case PropertyKind::ToOne:
      return s.object() ? Value(strong(s.object())) : Value();
    case PropertyKind::ToMany: {
      Array out;
      if (const ObjectSet* set = s.objectsIfAny()) {
        out.reserve(set->size());
        for (ManagedObject* m : *set) out.emplace_back(strong(m));
      }
      return Value(std::move(out));
    }
    case PropertyKind::Attribute:
      break;
  }
  if (s.isNull()) return Value();
  switch (p.type) {
    case AttributeType::String:
      return Value(std::string(s.string()));
    case AttributeType::Bool:
      return Value(s.boolValue());
    case AttributeType::Int64:
      return Value(static_cast<long long>(s.intValue()));
    case AttributeType::Double:
      return Value(s.doubleValue());
    case AttributeType::Date:
      return Value(Date{s.doubleValue()});
  }
  return Value();
}

Slot ManagedObject::slotFromValue(const Value& v, const PropertyDescription& p) {
  Slot s;
  if (v.isNull()) return s;
  bool numeric = v.isNumber() || v.isBool();
  switch (p.type) {
    case AttributeType::String:
      if (const std::string* str = v.string()) {
        s.setString(*str);
        return s;
      }
      break;
    case AttributeType::Bool:
      if (numeric) {
        s.setBool(v.boolValue());
        return s;
      }
      break;
    case AttributeType::Int64:
      if (numeric) {
        s.setInt(v.integerValue());
        return s;
      }
      break;
    case AttributeType::Double:
      if (numeric) {
        s.setDouble(v.doubleValue());
        return s;
      }
      break;
    case AttributeType::Date:
      if (const Date* d = v.date()) {
        s.setDouble(d->secondsSince1970);
        return s;
      }
      break;
  }
  raise(NSInvalidArgumentException,
        std::string("Unacceptable type of value for attribute: property = \"") + p.name +
            "\"; desired type = " + typeName(p.type) + "; given type = " + valueTypeName(v) +
            "; value = " + v.description() + ".");
}

Slot ManagedObject::committedForm(const PropertyDescription& p, const Slot& s) {
  if (!p.isToOne()) return s;
  Slot out;
  if (ManagedObject* o = s.object()) out.setInt(o->rowId_);
  return out;
}

void ManagedObject::storeSlot(const PropertyDescription& p, Slot value) {
  Slot& current = slots_[p.index];
  if (current == value) return;
  if (context_ && p.isStored() && !(state_ & (kInserted | kDeleted))) {
    Slot incoming = committedForm(p, value);
    bool wasUpdated = changes_ != nullptr;
    if (!changes_) changes_ = std::make_unique<Changes>();
    auto& list = changes_->committed;
    auto it = std::find_if(list.begin(), list.end(), [&](auto& e) { return e.first == p.index; });
    if (it == list.end()) {
      list.emplace_back(p.index, committedForm(p, current));
    } else if (it->second == incoming) {
      // Back to what was saved: no longer a change.
      list.erase(it);
      if (list.empty()) changes_.reset();
    }
    if (wasUpdated != (changes_ != nullptr)) context_->objectUpdatedStateChanged(this);
  }
  current = std::move(value);
  if (context_ && !p.isTransient && !p.isHidden) context_->objectDidChange(this);
}

void ManagedObject::setAttribute(const PropertyDescription& p, Slot value, bool notify) {
  std::optional<ChangeScope> change;
  if (notify) change.emplace(*this, p.name);
  storeSlot(p, std::move(value));
}

// ----- relationships

void ManagedObject::checkRelationshipTarget(const PropertyDescription& p,
                                            const ManagedObject* target) const {
  if (!context_)
    raise(NSInternalInconsistencyException, "Cannot change relationship '" + p.name + "' of " +
                                                description() + ": it is not in a context");
  if (isDeleted())
    raise(NSInternalInconsistencyException,
          "Cannot change relationship '" + p.name + "' of the deleted object " + description());
  if (!target) return;
  if (target->context_ != context_)
    raise(NSInvalidArgumentException, "Illegal attempt to establish a relationship '" + p.name +
                                          "' between objects in different contexts");
  if (target->isDeleted())
    raise(NSInvalidArgumentException, "Illegal attempt to establish a relationship '" + p.name +
                                          "' to the deleted object " + target->description());
  if (!target->entity_->isKindOf(*p.destination))
    raise(NSInvalidArgumentException, "Unacceptable type of value for relationship: property = \"" +
                                          p.name + "\"; desired type = " + p.destination->name() +
                                          "; given type = " + target->entity_->name() + ".");
}

void ManagedObject::insertMember(const PropertyDescription& p, ManagedObject* member) {
  slots_[p.index].objects().push_back(member);
  if (context_ && !p.isHidden) context_->objectDidChange(this);
}

void ManagedObject::eraseMember(const PropertyDescription& p, ManagedObject* member) {
  ObjectSet& set = slots_[p.index].objects();
  auto it = std::find(set.begin(), set.end(), member);
  if (it == set.end()) return;
  set.erase(it);
  if (set.empty()) slots_[p.index].clear();
  if (context_ && !p.isHidden) context_->objectDidChange(this);
}

void ManagedObject::setToOne(const PropertyDescription& p, ManagedObject* target, bool notify) {
  ManagedObject* old = slots_[p.index].object();
  if (old == target) return;
  const PropertyDescription& inv = p.destination->properties()[p.inverseIndex];
  ManagedObject* previousPartner =
      (inv.isToOne() && target) ? target->slots_[inv.index].object() : nullptr;

  Notes notes(notify);
  notes.setting(this, p);
  if (inv.isToMany()) {
    notes.mutation(old, inv, SetMutationKind::Minus, this);
    notes.mutation(target, inv, SetMutationKind::Union, this);
  } else {
    notes.setting(old, inv);
    notes.setting(previousPartner, p);
    notes.setting(target, inv);
  }
  notes.will();
  storeSlot(p, objectSlot(target));
  if (inv.isToMany()) {
    if (old) old->eraseMember(inv, this);
    if (target) target->insertMember(inv, this);
  } else {
    if (old) old->storeSlot(inv, Slot());
    if (previousPartner) previousPartner->storeSlot(p, Slot());
    if (target) target->storeSlot(inv, objectSlot(this));
  }
  notes.did();
}

void ManagedObject::addToMany(const PropertyDescription& p, ManagedObject* member, bool notify) {
  const ObjectSet* set = slots_[p.index].objectsIfAny();
  if (set && std::find(set->begin(), set->end(), member) != set->end()) return;
  const PropertyDescription& inv = p.destination->properties()[p.inverseIndex];
  ManagedObject* previousOwner = member->slots_[inv.index].object();
  if (previousOwner == this) return;

  Notes notes(notify);
  notes.mutation(previousOwner, p, SetMutationKind::Minus, member);
  notes.setting(member, inv);
  notes.mutation(this, p, SetMutationKind::Union, member);
  notes.will();
  if (previousOwner) previousOwner->eraseMember(p, member);
  member->storeSlot(inv, objectSlot(this));
  insertMember(p, member);
  notes.did();
}

void ManagedObject::removeFromToMany(const PropertyDescription& p, ManagedObject* member,
                                     bool notify) {
  const ObjectSet* set = slots_[p.index].objectsIfAny();
  if (!set || std::find(set->begin(), set->end(), member) == set->end()) return;
  const PropertyDescription& inv = p.destination->properties()[p.inverseIndex];

  Notes notes(notify);
  notes.setting(member, inv);
  notes.mutation(this, p, SetMutationKind::Minus, member);
  notes.will();
  eraseMember(p, member);
  member->storeSlot(inv, Slot());
  notes.did();
}

void ManagedObject::setToMany(const PropertyDescription& p,
                              const std::vector<ManagedObject*>& members) {
  std::vector<ManagedObject*> leaving;
  if (const ObjectSet* set = slots_[p.index].objectsIfAny())
    for (ManagedObject* m : *set)
      if (std::find(members.begin(), members.end(), m) == members.end()) leaving.push_back(m);
  for (ManagedObject* m : leaving) removeFromToMany(p, m, true);
  for (ManagedObject* m : members) addToMany(p, m, true);
}

// ----- key-value coding

bool ManagedObject::getValueForKey(std::string_view key, Value& out) const {
  if (entity_) {
    if (const PropertyDescription* p = entity_->property(key)) {
      out = valueOfSlot(*p);
      return true;
    }
  }
  return Object::getValueForKey(key, out);
}

bool ManagedObject::automaticallyNotifiesObserversForKey(std::string_view key) const {
  if (entity_ && entity_->property(key)) return false;
  return Object::automaticallyNotifiesObserversForKey(key);
}

bool ManagedObject::setValueForKeyImpl(std::string_view key, const Value& value) {
  const PropertyDescription* p = entity_ ? entity_->property(key) : nullptr;
  if (!p) return Object::setValueForKeyImpl(key, value);
  auto notAnObject = [&]() {
    raise(NSInvalidArgumentException, "Unacceptable type of value for relationship: property = \"" +
                                          p->name + "\"; desired type = " + p->destination->name() +
                                          "; given type = " + valueTypeName(value) + ".");
  };
  switch (p->kind) {
    case PropertyKind::Attribute:
      setAttribute(*p, slotFromValue(value, *p), true);
      break;
    case PropertyKind::ToOne: {
      std::shared_ptr<ManagedObject> target;
      if (!value.isNull()) {
        target = value.objectAs<ManagedObject>();
        if (!target) notAnObject();
      }
      checkRelationshipTarget(*p, target.get());
      setToOne(*p, target.get(), true);
      break;
    }
    case PropertyKind::ToMany: {
      std::vector<std::shared_ptr<ManagedObject>> keep;
      std::vector<ManagedObject*> members;
      if (!value.isNull()) {
        if (!value.array()) notAnObject();
        for (const Value& v : *value.array()) {
          auto m = v.objectAs<ManagedObject>();
          if (!m) notAnObject();
          checkRelationshipTarget(*p, m.get());
          if (std::find(members.begin(), members.end(), m.get()) == members.end())
            members.push_back(m.get());
          keep.push_back(std::move(m));
        }
      }
      checkRelationshipTarget(*p, nullptr);
      setToMany(*p, members);
      break;
    }
  }
  return true;
}

// ----- typed readers

std::int64_t ManagedObject::int64ForKey(std::string_view key) const {
  if (const PropertyDescription* p = entity_ ? entity_->property(key) : nullptr) {
    const Slot& s = slots_[p->index];
    if (s.kind() == Slot::Kind::Int || s.kind() == Slot::Kind::Bool || s.isNull())
      return s.intValue();
    return valueOfSlot(*p).integerValue();
  }
  return valueForKey(key).integerValue();
}

bool ManagedObject::boolForKey(std::string_view key) const {
  if (const PropertyDescription* p = entity_ ? entity_->property(key) : nullptr) {
    const Slot& s = slots_[p->index];
    if (s.kind() == Slot::Kind::Int || s.kind() == Slot::Kind::Bool || s.isNull())
      return s.boolValue();
    return valueOfSlot(*p).boolValue();
  }
  return valueForKey(key).boolValue();
}

double ManagedObject::doubleForKey(std::string_view key) const {
  if (const PropertyDescription* p = entity_ ? entity_->property(key) : nullptr) {
    const Slot& s = slots_[p->index];
    if (s.kind() == Slot::Kind::Double) return s.doubleValue();
    if (s.isNull()) return 0.0;
    return valueOfSlot(*p).doubleValue();
  }
  return valueForKey(key).doubleValue();
}

std::optional<std::string> ManagedObject::stringForKey(std::string_view key) const {
  const PropertyDescription* p = entity_ ? entity_->property(key) : nullptr;
  if (p && p->isAttribute() && p->type == AttributeType::String) {
    const Slot& s = slots_[p->index];
    if (s.isNull()) return std::nullopt;
    return std::string(s.string());
  }
  Value v = p ? valueOfSlot(*p) : valueForKey(key);
  if (v.isNull()) return std::nullopt;
  if (const std::string* str = v.string()) return *str;
  return v.description();
}

std::optional<Date> ManagedObject::dateForKey(std::string_view key) const {
  const PropertyDescription* p = entity_ ? entity_->property(key) : nullptr;
  if (p && p->isAttribute() && p->type == AttributeType::Date) {
    const Slot& s = slots_[p->index];
    if (s.isNull()) return std::nullopt;
    return Date{s.doubleValue()};
  }
  Value v = p ? valueOfSlot(*p) : valueForKey(key);
  if (const Date* d = v.date()) return *d;
  return std::nullopt;
}

std::shared_ptr<ManagedObject> ManagedObject::objectForKey(std::string_view key) const {
  const PropertyDescription* p = entity_ ? entity_->property(key) : nullptr;
  if (p && p->isToOne()) {
    ManagedObject* o = slots_[p->index].object();
    return o ? strong(o) : nullptr;
  }
  return (p ? valueOfSlot(*p) : valueForKey(key)).objectAs<ManagedObject>();
}

std::vector<std::shared_ptr<ManagedObject>> ManagedObject::objectsForKey(
    std::string_view key) const {
  std::vector<std::shared_ptr<ManagedObject>> out;
  const PropertyDescription* p = entity_ ? entity_->property(key) : nullptr;
  if (p && p->isToMany()) {
    if (const ObjectSet* set = slots_[p->index].objectsIfAny()) {
      out.reserve(set->size());
      for (ManagedObject* m : *set) out.push_back(strong(m));
    }
    return out;
  }
  Value v = p ? valueOfSlot(*p) : valueForKey(key);
  if (const Array* a = v.array())
    for (const Value& e : *a)
      if (auto o = e.objectAs<ManagedObject>()) out.push_back(std::move(o));
  return out;
}

std::size_t ManagedObject::countOfObjectsForKey(std::string_view key) const {
  const PropertyDescription* p = entity_ ? entity_->property(key) : nullptr;
  if (p && p->isToMany()) {
    const ObjectSet* set = slots_[p->index].objectsIfAny();
    return set ? set->size() : 0;
  }
  return objectsForKey(key).size();
}

bool ManagedObject::containsObjectForKey(const ManagedObject& object, std::string_view key) const {
  const PropertyDescription* p = entity_ ? entity_->property(key) : nullptr;
  if (p && p->isToMany()) {
    const ObjectSet* set = slots_[p->index].objectsIfAny();
    return set && std::find(set->begin(), set->end(), &object) != set->end();
  }
  for (const auto& o : objectsForKey(key))
    if (o.get() == &object) return true;
  return false;
}

// ----- to-many mutations

void ManagedObject::addObjectForKey(const std::shared_ptr<ManagedObject>& object,
                                    std::string_view key) {
  const PropertyDescription* p = entity_ ? entity_->property(key) : nullptr;
  if (!p || !p->isToMany())
    raise(NSInvalidArgumentException,
          "'" + std::string(key) + "' is not a to-many relationship of " + className());
  if (!object) raise(NSInvalidArgumentException, "Cannot add nil to '" + p->name + "'");
  checkRelationshipTarget(*p, object.get());
  addToMany(*p, object.get(), true);
}

void ManagedObject::removeObjectForKey(const std::shared_ptr<ManagedObject>& object,
                                       std::string_view key) {
  const PropertyDescription* p = entity_ ? entity_->property(key) : nullptr;
  if (!p || !p->isToMany())
    raise(NSInvalidArgumentException,
          "'" + std::string(key) + "' is not a to-many relationship of " + className());
  if (!object) return;
  checkRelationshipTarget(*p, nullptr);
  removeFromToMany(*p, object.get(), true);
}

// ----- primitive access

Value ManagedObject::primitiveValueForKey(std::string_view key) const {
  if (const PropertyDescription* p = entity_ ? entity_->property(key) : nullptr)
    return valueOfSlot(*p);
  return valueForKey(key);
}

void ManagedObject::setPrimitiveValueForKey(const Value& value, std::string_view key) {
  const PropertyDescription* p = entity_ ? entity_->property(key) : nullptr;
  if (!p)
    raise(NSUnknownKeyException, "[<" + className() + " " + address(this) +
                                     "> setValue:forUndefinedKey:]: this class is not key value "
                                     "coding-compliant for the key " +
                                     std::string(key) + ".");
  if (!p->isAttribute())
    raise(NSInvalidArgumentException, "Primitive setters are for attributes; '" + p->name +
                                          "' is a relationship of " + className());
  setAttribute(*p, slotFromValue(value, *p), false);
}

// ----- identity and lifecycle

std::string ManagedObject::className() const {
  return entity_ ? entity_->name() : Object::className();
}

std::string ManagedObject::description() const {
  std::string out = "<" + className() + ": " + address(this) + ">";
  if (!entity_) return out;
  out += " (entity: " + entity_->name() + "; id: " + std::to_string(rowId_);
  if (isDeleted()) out += "; deleted";
  if (isFault()) out += "; fault";
  return out + ")";
}

void ManagedObject::attach(Context* context, std::shared_ptr<const Model> model,
                           const EntityDescription* entity, std::int64_t rowId) {
  context_ = context;
  model_ = std::move(model);
  entity_ = entity;
  rowId_ = rowId;
  if (!slots_) slots_ = std::make_unique<Slot[]>(entity->properties().size());
}

void ManagedObject::turnIntoFault() {
  if (!context_) return;
  for (std::uint16_t i : entity_->relationships()) slots_[i].clear();
  context_ = nullptr;
  changes_.reset();
  state_ = 0;
  listIndex_ = kNotListed;
  didTurnIntoFault();
}

}  // namespace tw::store
