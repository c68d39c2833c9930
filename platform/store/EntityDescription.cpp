#include "platform/store/EntityDescription.h"

#include "platform/foundation/Exception.h"
#include "platform/store/ManagedObject.h"

namespace tw::store {

bool EntityDescription::isKindOf(const EntityDescription& other) const {
  for (const EntityDescription* e = this; e; e = e->superentity_)
    if (e == &other) return true;
  return false;
}

const PropertyDescription* EntityDescription::property(std::string_view name) const {
  auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : &properties_[it->second];
}

int EntityDescription::propertyIndex(std::string_view name) const {
  auto it = byName_.find(name);
  return it == byName_.end() ? -1 : it->second;
}

std::shared_ptr<ManagedObject> EntityDescription::instantiate() const {
  if (abstract_)
    raise(NSInternalInconsistencyException, "Cannot create an object of abstract entity " + name_);
  return factory_();
}

}  // namespace tw::store
