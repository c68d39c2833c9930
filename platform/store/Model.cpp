#include "platform/store/Model.h"

#include "platform/foundation/Exception.h"

namespace tw::store {

const EntityDescription* Model::entity(std::string_view name) const {
  for (const auto& e : entities_)
    if (e->name() == name) return e.get();
  return nullptr;
}

const EntityDescription& Model::entityNamed(std::string_view name) const {
  if (const EntityDescription* e = entity(name)) return *e;
  raise(NSInvalidArgumentException, "+entityForName: could not locate an entity named '" +
                                        std::string(name) + "' in this model.");
}

const EntityDescription& Model::entityForType(const std::type_info& type) const {
  auto it = byType_.find(std::type_index(type));
  if (it == byType_.end())
    raise(NSInvalidArgumentException,
          std::string("No entity of this model is made of class ") + type.name());
  if (!it->second)
    raise(NSInvalidArgumentException, std::string("Several entities are made of class ") +
                                          type.name() + "; name the entity instead");
  return *it->second;
}

}  // namespace tw::store
