#include "platform/store/ModelBuilder.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <tuple>
#include <unordered_map>

#include "platform/foundation/Exception.h"

namespace tw::store {

struct ModelBuilder::Decl {
  std::string name;
  std::string parent;
  bool abstract = false;
  const std::type_info* type = nullptr;
  std::function<std::shared_ptr<ManagedObject>()> factory;
  std::function<bool(const ManagedObject&)> isInstance;
  std::vector<PropertyDescription> own;
};

namespace {

[[noreturn]] void invalidModel(const std::string& reason) {
  raise(NSInternalInconsistencyException, "Invalid store model: " + reason);
}

bool isIdentifier(std::string_view s) {
  if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
}

bool fitsType(const Value& v, AttributeType type) {
  if (v.isNull()) return true;
  switch (type) {
    case AttributeType::String:
      return v.isString();
    case AttributeType::Bool:
    case AttributeType::Int64:
    case AttributeType::Double:
      return v.isNumber() || v.isBool();
    case AttributeType::Date:
      return v.date() != nullptr;
  }
  return false;
}

}  // namespace

ModelBuilder::ModelBuilder(std::int64_t version) : version_(version) {}
ModelBuilder::ModelBuilder(ModelBuilder&&) noexcept = default;
ModelBuilder& ModelBuilder::operator=(ModelBuilder&&) noexcept = default;
ModelBuilder::~ModelBuilder() = default;

ModelBuilder& ModelBuilder::addEntity(std::string name, std::string parent,
                                      const std::type_info& type,
                                      std::function<std::shared_ptr<ManagedObject>()> factory,
                                      std::function<bool(const ManagedObject&)> isInstance) {
  auto d = std::make_unique<Decl>();
  d->name = std::move(name);
  d->parent = std::move(parent);
  d->type = &type;
  d->factory = std::move(factory);
  d->isInstance = std::move(isInstance);
  decls_.push_back(std::move(d));
  return *this;
}

ModelBuilder& ModelBuilder::abstract() {
  if (decls_.empty()) invalidModel("abstract() before any entity()");
  decls_.back()->abstract = true;
  return *this;
}

ModelBuilder& ModelBuilder::addProperty(PropertyDescription p) {
  if (decls_.empty()) invalidModel("property '" + p.name + "' before any entity()");
  if (!isIdentifier(p.name))
    invalidModel("property name '" + p.name + "' of " + decls_.back()->name +
                 " is not an identifier");
  p.declaringEntity = decls_.back()->name;
  decls_.back()->own.push_back(std::move(p));
  return *this;
}

ModelBuilder& ModelBuilder::attribute(std::string name, AttributeType type, Value defaultValue) {
  PropertyDescription p;
  p.name = std::move(name);
  p.type = type;
  p.defaultValue = std::move(defaultValue);
  return addProperty(std::move(p));
}

ModelBuilder& ModelBuilder::transientAttribute(std::string name, AttributeType type,
                                               Value defaultValue) {
  PropertyDescription p;
  p.name = std::move(name);
  p.type = type;
  p.isTransient = true;
  p.defaultValue = std::move(defaultValue);
  return addProperty(std::move(p));
}

ModelBuilder& ModelBuilder::toOne(std::string name, std::string destination, std::string inverse,
                                  DeleteRule rule) {
  PropertyDescription p;
  p.name = std::move(name);
  p.kind = PropertyKind::ToOne;
  p.destinationName = std::move(destination);
  p.inverseName = std::move(inverse);
  p.deleteRule = rule;
  return addProperty(std::move(p));
}

ModelBuilder& ModelBuilder::toMany(std::string name, std::string destination, std::string inverse,
                                   DeleteRule rule) {
  PropertyDescription p;
  p.name = std::move(name);
  p.kind = PropertyKind::ToMany;
  p.destinationName = std::move(destination);
  p.inverseName = std::move(inverse);
  p.deleteRule = rule;
  return addProperty(std::move(p));
}

std::shared_ptr<const Model> ModelBuilder::build() {
  if (version_ < 1) invalidModel("the model version must be 1 or more");
  DeclsByName byName = indexDeclarations();
  checkInheritance(byName);
  addHiddenInverses(byName);
  const std::vector<Decl*> order = parentsFirst();

  auto model = std::shared_ptr<Model>(new Model());
  model->version_ = version_;
  const EntitiesByName entities = describeEntities(*model, order);
  linkFamilies(*model);
  resolveRelationships(*model, entities);
  checkColumns(*model);
  indexAndCheckClasses(*model);
  return model;
}

// Every entity named as an identifier, and once.
ModelBuilder::DeclsByName ModelBuilder::indexDeclarations() const {
  DeclsByName byName;
  for (const auto& d : decls_) {
    if (!isIdentifier(d->name)) invalidModel("entity name '" + d->name + "' is not an identifier");
    if (!byName.emplace(d->name, d.get()).second)
      invalidModel("entity " + d->name + " is declared twice");
  }
  return byName;
}

// Every parent known, and no entity its own ancestor.
void ModelBuilder::checkInheritance(const DeclsByName& byName) const {
  for (const auto& d : decls_) {
    if (!d->parent.empty() && !byName.count(d->parent))
      invalidModel("entity " + d->name + " inherits from unknown entity " + d->parent);
    // A chain longer than the number of entities has a cycle in it.
    std::size_t steps = 0;
    // Looked up without inserting: an entry made for an unknown name would let a later entity
    // that inherits from it past the check above.
    for (const Decl* p = d.get(); p && !p->parent.empty();) {
      if (++steps > decls_.size()) invalidModel("entity " + d->name + " inherits from itself");
      const auto parent = byName.find(p->parent);
      p = parent == byName.end() ? nullptr : parent->second;
    }
  }
}

// A to-one without an inverse gets a hidden one, so that deleting its destination can find
// and cut the reference.
void ModelBuilder::addHiddenInverses(const DeclsByName& byName) {
  for (auto& d : decls_) {
    for (auto& p : d->own) {
      if (p.isToOne() && p.inverseName.empty()) {
        auto dest = byName.find(p.destinationName);
        if (dest == byName.end())
          invalidModel(d->name + "." + p.name + " points to unknown entity " + p.destinationName);
        PropertyDescription inv;
        inv.name = "_inverse_" + d->name + "_" + p.name;
        inv.kind = PropertyKind::ToMany;
        inv.declaringEntity = dest->second->name;
        inv.destinationName = d->name;
        inv.inverseName = p.name;
        inv.isHidden = true;
        p.inverseName = inv.name;
        dest->second->own.push_back(std::move(inv));
      }
    }
  }
}

// Parents before children, otherwise in declaration order.
std::vector<ModelBuilder::Decl*> ModelBuilder::parentsFirst() const {
  std::vector<Decl*> order;
  std::set<std::string> placed;
  while (order.size() < decls_.size()) {
    for (const auto& d : decls_) {
      if (placed.count(d->name)) continue;
      if (d->parent.empty() || placed.count(d->parent)) {
        order.push_back(d.get());
        placed.insert(d->name);
      }
    }
  }
  return order;
}

// One description per entity, in `order`: its parent's properties, then its own, each given its
// index, its column when stored, and a default that fits its type.
ModelBuilder::EntitiesByName ModelBuilder::describeEntities(Model& model,
                                                            const std::vector<Decl*>& order) {
  EntitiesByName entities;
  for (Decl* d : order) {
    auto e = std::unique_ptr<EntityDescription>(new EntityDescription());
    e->name_ = d->name;
    e->abstract_ = d->abstract;
    e->factory_ = d->factory;
    e->isInstance_ = d->isInstance;
    e->type_ = d->type;
    e->index_ = model.entities_.size();
    if (!d->parent.empty()) {
      EntityDescription* parent = entities.at(d->parent);
      e->superentity_ = parent;
      e->root_ = parent->root_;
      e->properties_ = parent->properties_;
    } else {
      e->root_ = e.get();
    }
    for (const auto& p : d->own) {
      for (const auto& q : e->properties_)
        if (q.name == p.name)
          invalidModel(d->name + "." + p.name + " is already declared by " + q.declaringEntity);
      e->properties_.push_back(p);
    }
    if (e->properties_.size() > 0xFFFF)
      invalidModel("entity " + d->name + " has too many properties");
    for (std::size_t i = 0; i < e->properties_.size(); ++i) {
      PropertyDescription& p = e->properties_[i];
      p.index = static_cast<std::uint16_t>(i);
      if (!p.isHidden) e->byName_.emplace(p.name, p.index);
      if (p.isStored()) {
        e->stored_.push_back(p.index);
        p.columnName = p.declaringEntity + "_" + p.name;
      }
      if (p.isRelationship()) e->relationships_.push_back(p.index);
      if (p.isAttribute() && p.isTransient) e->hasTransients_ = true;
      if (p.isAttribute() && !fitsType(p.defaultValue, p.type))
        invalidModel("the default of " + p.declaringEntity + "." + p.name +
                     " does not fit its type");
    }
    entities[e->name_] = e.get();
    model.entities_.push_back(std::move(e));
  }
  return entities;
}

// Sub-entities, roots, and each entity's family (itself and everything below it, depth first).
void ModelBuilder::linkFamilies(Model& model) {
  for (auto& e : model.entities_) {
    if (e->superentity_)
      const_cast<EntityDescription*>(e->superentity_)->subentities_.push_back(e.get());
    else
      model.roots_.push_back(e.get());
  }
  for (auto& e : model.entities_) {
    std::vector<const EntityDescription*> stack{e.get()};
    while (!stack.empty()) {
      const EntityDescription* x = stack.back();
      stack.pop_back();
      e->family_.push_back(x);
      for (auto it = x->subentities_.rbegin(); it != x->subentities_.rend(); ++it)
        stack.push_back(*it);
    }
  }
}

// Each relationship's destination and inverse, which must name it back and connect the same
// entities; which side of a one-to-one wires the pair when objects load.
void ModelBuilder::resolveRelationships(Model& model, const EntitiesByName& entities) {
  for (auto& e : model.entities_) {
    for (auto& p : e->properties_) {
      if (!p.isRelationship()) continue;
      auto dest = entities.find(p.destinationName);
      if (dest == entities.end())
        invalidModel(p.declaringEntity + "." + p.name + " points to unknown entity " +
                     p.destinationName);
      p.destination = dest->second;
      const PropertyDescription* inv = nullptr;
      for (const auto& q : dest->second->properties_)
        if (q.name == p.inverseName) inv = &q;
      const std::string where = p.declaringEntity + "." + p.name;
      if (p.inverseName.empty() || !inv || !inv->isRelationship())
        invalidModel(where + " needs a relationship '" + p.inverseName + "' of " +
                     p.destinationName + " as its inverse");
      if (inv->inverseName != p.name)
        invalidModel(where + " and its inverse " + inv->declaringEntity + "." + inv->name +
                     " do not name each other");
      const EntityDescription* invDeclaring = entities.at(inv->declaringEntity);
      const EntityDescription* invDestination = entities.at(inv->destinationName);
      const EntityDescription* declaring = entities.at(p.declaringEntity);
      if (!p.destination->isKindOf(*invDeclaring) || !invDestination->isKindOf(*declaring))
        invalidModel(where + " and its inverse " + inv->declaringEntity + "." + inv->name +
                     " do not connect the same entities");
      if (p.isToMany() && inv->isToMany())
        invalidModel(where + ": to-many relationships need a to-one inverse");
      p.inverseIndex = inv->index;
      if (p.isToOne())
        p.wiresOnLoad = inv->isToMany() || std::tie(p.declaringEntity, p.name) <
                                               std::tie(inv->declaringEntity, inv->name);
    }
  }
}

// A family shares one table, so no two of its stored properties may map to one column.
void ModelBuilder::checkColumns(const Model& model) {
  for (const EntityDescription* root : model.roots_) {
    std::set<std::string> columns;
    for (const EntityDescription* e : root->family_)
      for (std::uint16_t i : e->stored_) {
        const PropertyDescription& p = e->properties_[i];
        if (p.declaringEntity != e->name_) continue;
        if (!columns.insert(p.columnName).second)
          invalidModel("two properties of " + root->name_ + "'s table map to column " +
                       p.columnName);
      }
  }
}

// The entities by class (a class two entities share finds neither), and each concrete entity's
// class instantiable and derived from its ancestors' classes.
void ModelBuilder::indexAndCheckClasses(Model& model) {
  for (auto& e : model.entities_) {
    auto [it, fresh] = model.byType_.emplace(std::type_index(*e->type_), e.get());
    if (!fresh) it->second = nullptr;
    if (e->abstract_) continue;
    std::shared_ptr<ManagedObject> sample = e->factory_();
    if (!sample) invalidModel("the class of entity " + e->name_ + " cannot be instantiated");
    for (const EntityDescription* a = e.get(); a; a = a->superentity_)
      if (!a->isInstance_(*sample))
        invalidModel("the class of entity " + e->name_ + " does not derive from the class of " +
                     a->name_);
  }
}

}  // namespace tw::store
