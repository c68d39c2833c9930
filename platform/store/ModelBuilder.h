#pragma once
// tw::store::ModelBuilder: declares the entities of a store model in C++ and checks them. Each
// entity() call opens an entity; the attribute and relationship calls that follow belong to it.
// Entities may be declared in any order; build() resolves parents, destinations and inverses
// and throws NSInternalInconsistencyException with a plain reason for a model that cannot work
// (unknown parent or destination, an inverse that does not point back, a to-many without a
// to-one inverse, a default of the wrong type, a class that does not derive from its parent's).
//
//   auto model = ModelBuilder(2)
//       .entity<BTManagedObject>("BTManagedObject").abstract()
//           .attribute("uuid", AttributeType::String)
//       .entity<BTTimeObject>("BTTimeObject", "BTManagedObject")
//           .attribute("timingState", AttributeType::Int64, 0)
//           .transientAttribute("timingValue", AttributeType::Double, 0.0)
//           .toMany("actions", "BTActionObject", "timeObject", DeleteRule::Cascade)
//       ...
//       .build();
//
// Used once at start-up, on one thread.

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "platform/store/EntityDescription.h"
#include "platform/store/ManagedObject.h"
#include "platform/store/Model.h"

namespace tw::store {

class ModelBuilder {
 public:
  // `version`: raise it whenever entities or stored attributes are added.
  explicit ModelBuilder(std::int64_t version);
  ModelBuilder(ModelBuilder&&) noexcept;
  ModelBuilder& operator=(ModelBuilder&&) noexcept;
  ~ModelBuilder();

  // Opens the declaration of entity `name` made of class T (T derives from ManagedObject and is
  // default-constructible; T may be ManagedObject itself for an entity without code of its own).
  template <class T>
  ModelBuilder& entity(std::string name, std::string parent = {}) {
    static_assert(std::is_base_of_v<ManagedObject, T>, "entities are ManagedObject classes");
    std::function<std::shared_ptr<ManagedObject>()> factory = [] {
      if constexpr (std::is_abstract_v<T>)
        return std::shared_ptr<ManagedObject>();
      else
        return std::static_pointer_cast<ManagedObject>(std::make_shared<T>());
    };
    std::function<bool(const ManagedObject&)> isInstance = [](const ManagedObject& o) {
      if constexpr (std::is_same_v<T, ManagedObject>)
        return true;
      else
        return dynamic_cast<const T*>(&o) != nullptr;
    };
    const std::type_info& type = typeid(T);
    return addEntity(std::move(name), std::move(parent), type, std::move(factory),
                     std::move(isInstance));
  }
  // The open entity has no objects of its own, only sub-entities.
  ModelBuilder& abstract();

  ModelBuilder& attribute(std::string name, AttributeType type, Value defaultValue = {});
  ModelBuilder& transientAttribute(std::string name, AttributeType type, Value defaultValue = {});
  // `inverse` may be empty: the model then keeps a hidden inverse of its own.
  ModelBuilder& toOne(std::string name, std::string destination, std::string inverse = {},
                      DeleteRule rule = DeleteRule::Nullify);
  // The inverse must be a to-one of the destination (one-to-many).
  ModelBuilder& toMany(std::string name, std::string destination, std::string inverse,
                       DeleteRule rule = DeleteRule::Nullify);

  std::shared_ptr<const Model> build();

 private:
  struct Decl;
  ModelBuilder& addEntity(std::string name, std::string parent, const std::type_info& type,
                          std::function<std::shared_ptr<ManagedObject>()> factory,
                          std::function<bool(const ManagedObject&)> isInstance);
  ModelBuilder& addProperty(PropertyDescription p);

  // The passes of build(), in the order it runs them; each throws for what it finds wrong.
  using DeclsByName = std::unordered_map<std::string, Decl*>;
  using EntitiesByName = std::unordered_map<std::string, EntityDescription*>;
  DeclsByName indexDeclarations() const;
  void checkInheritance(const DeclsByName& byName) const;
  void addHiddenInverses(const DeclsByName& byName);
  std::vector<Decl*> parentsFirst() const;
  static EntitiesByName describeEntities(Model& model, const std::vector<Decl*>& order);
  static void linkFamilies(Model& model);
  static void resolveRelationships(Model& model, const EntitiesByName& entities);
  static void checkColumns(const Model& model);
  static void indexAndCheckClasses(Model& model);

  std::int64_t version_;
  std::vector<std::unique_ptr<Decl>> decls_;
};

}  // namespace tw::store
