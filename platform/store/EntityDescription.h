#pragma once
// tw::store::EntityDescription: one entity of a store model (what an entity description was):
// its name, its place in the inheritance tree, its attributes and relationships and the C++
// class its objects are made of. Built only by ModelBuilder and immutable afterwards, so any
// thread may read it; it lives as long as its Model.
//
// Property slots: an entity lists its inherited properties first, in its parent's order, then
// its own. A property therefore has the same index in an entity and in every sub-entity, which
// is what lets a BTTimer be read through the slots of BTTimeObject.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "platform/foundation/Value.h"

namespace tw::store {

class ManagedObject;
class EntityDescription;

// Every attribute may also be null.
enum class AttributeType : std::uint8_t {
  String,
  Bool,
  Int64,
  Double,
  Date,  // tw::Date, seconds since 1970; kept exactly as the double it was given
};

enum class PropertyKind : std::uint8_t { Attribute, ToOne, ToMany };

// What deleting an object does to the objects at the other end of a relationship.
enum class DeleteRule : std::uint8_t {
  Nullify,  // they stay; their inverse loses the deleted object
  Cascade,  // they are deleted too
};

struct PropertyDescription {
  std::string name;
  PropertyKind kind = PropertyKind::Attribute;
  std::uint16_t index = 0;      // slot index, the same in every sub-entity
  std::string declaringEntity;  // the entity that declared it (sub-entities inherit it)

  // Attributes.
  AttributeType type = AttributeType::String;
  bool isTransient = false;  // kept in memory only: never saved, never a change
  Value defaultValue;        // given to new objects (and to rows that predate the attribute)

  // Relationships. Every relationship has an inverse: a to-one declared without one gets a
  // hidden to-many inverse, so no deleted object is ever left referenced.
  std::string destinationName;
  const EntityDescription* destination = nullptr;
  std::string inverseName;
  std::uint16_t inverseIndex = 0;  // slot of the inverse in the destination (and its sub-entities)
  DeleteRule deleteRule = DeleteRule::Nullify;
  bool isHidden = false;  // the model's own inverse, not reachable by key
  // A to-one whose column decides the link when rows are loaded: the to-one side of a
  // one-to-many, or one chosen side of a one-to-one (both sides are stored).
  bool wiresOnLoad = false;

  std::string columnName;  // stored properties: the column in the root entity's table

  bool isAttribute() const { return kind == PropertyKind::Attribute; }
  bool isRelationship() const { return kind != PropertyKind::Attribute; }
  bool isToMany() const { return kind == PropertyKind::ToMany; }
  bool isToOne() const { return kind == PropertyKind::ToOne; }
  // Saved in a column: stored attributes and to-one relationships.
  bool isStored() const {
    return kind == PropertyKind::ToOne || (kind == PropertyKind::Attribute && !isTransient);
  }
};

class EntityDescription {
 public:
  const std::string& name() const { return name_; }
  const EntityDescription* superentity() const { return superentity_; }
  const EntityDescription& rootEntity() const { return *root_; }
  const std::vector<const EntityDescription*>& subentities() const { return subentities_; }
  // This entity followed by every entity below it, parents before children.
  const std::vector<const EntityDescription*>& selfAndDescendants() const { return family_; }
  bool isAbstract() const { return abstract_; }
  // True for this entity and for every entity that inherits from it.
  bool isKindOf(const EntityDescription& other) const;
  // Position in the model's entity list.
  std::size_t index() const { return index_; }

  const std::vector<PropertyDescription>& properties() const { return properties_; }
  const PropertyDescription* property(std::string_view name) const;
  // -1 when the entity has no such (visible) property.
  int propertyIndex(std::string_view name) const;
  // Indexes of the stored properties, in slot order.
  const std::vector<std::uint16_t>& storedProperties() const { return stored_; }
  const std::vector<std::uint16_t>& relationships() const { return relationships_; }
  bool hasTransients() const { return hasTransients_; }

  // The table that holds the rows of this entity's whole hierarchy.
  const std::string& tableName() const { return root_->name_; }

  // A new, unregistered object of this entity's class (not for abstract entities).
  std::shared_ptr<ManagedObject> instantiate() const;
  const std::type_info& objectType() const { return *type_; }
  // Whether `object` is of this entity's C++ class (or a subclass).
  bool matchesClass(const ManagedObject& object) const { return isInstance_(object); }

 private:
  friend class ModelBuilder;
  EntityDescription() = default;

  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };

  std::string name_;
  const EntityDescription* superentity_ = nullptr;
  const EntityDescription* root_ = this;
  std::vector<const EntityDescription*> subentities_;
  std::vector<const EntityDescription*> family_;
  bool abstract_ = false;
  std::size_t index_ = 0;
  std::vector<PropertyDescription> properties_;
  std::unordered_map<std::string, std::uint16_t, NameHash, std::equal_to<>> byName_;
  std::vector<std::uint16_t> stored_;
  std::vector<std::uint16_t> relationships_;
  bool hasTransients_ = false;
  std::function<std::shared_ptr<ManagedObject>()> factory_;
  std::function<bool(const ManagedObject&)> isInstance_;
  const std::type_info* type_ = nullptr;
};

}  // namespace tw::store
