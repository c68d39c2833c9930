#pragma once
// tw::store::Model: the entities of a store and the model version they make up (what a managed
// object model was). A store written by an older version is upgraded in place when opened with
// a newer one; a store of a newer version than the model is set aside. Built by ModelBuilder,
// immutable, shared by every context and store that uses it; any thread may read it.

#include <cstdint>
#include <memory>
#include <string_view>
#include <typeindex>
#include <unordered_map>
#include <vector>

#include "platform/store/EntityDescription.h"

namespace tw::store {

class Model {
 public:
  std::int64_t version() const { return version_; }
  // In declaration order, parents always before their children.
  const std::vector<std::unique_ptr<EntityDescription>>& entities() const { return entities_; }
  // Entities without a superentity; each owns one table.
  const std::vector<const EntityDescription*>& rootEntities() const { return roots_; }

  // nullptr when the model has no such entity.
  const EntityDescription* entity(std::string_view name) const;
  // Throws NSInvalidArgumentException for an unknown name.
  const EntityDescription& entityNamed(std::string_view name) const;

  // The one entity made of class T. Throws NSInvalidArgumentException when no entity, or more
  // than one, uses T (use entityNamed then).
  template <class T>
  const EntityDescription& entityFor() const {
    return entityForType(typeid(T));
  }
  const EntityDescription& entityForType(const std::type_info& type) const;

 private:
  friend class ModelBuilder;
  Model() = default;

  std::int64_t version_ = 0;
  std::vector<std::unique_ptr<EntityDescription>> entities_;
  std::vector<const EntityDescription*> roots_;
  // nullptr marks a class used by several entities.
  std::unordered_map<std::type_index, const EntityDescription*> byType_;
};

}  // namespace tw::store
