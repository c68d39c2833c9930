#pragma once
// tw::InjectedValue: what a definition puts into an initializer parameter or a property: another
// definition (the component that definition yields), a ready object (injected as it is), or
// nothing (a definition method that returned no definition injects null).
//
// Part of a definition: written while the assembly is being defined, read-only afterwards.

#include <cstddef>
#include <memory>
#include <type_traits>

#include "platform/foundation/Object.h"

class TyphoonDefinition;

namespace tw {

class InjectedValue {
 public:
  InjectedValue(std::nullptr_t = nullptr) {}
  InjectedValue(std::shared_ptr<TyphoonDefinition> definition)
      : definition_(std::move(definition)) {}
  template <class T>
  requires std::is_base_of_v<Object, T> InjectedValue(std::shared_ptr<T> object)
      : object_(std::move(object)) {}

  // The definition whose component is injected, or null.
  const std::shared_ptr<TyphoonDefinition>& definition() const { return definition_; }
  // The object injected as it is, or null.
  const std::shared_ptr<Object>& object() const { return object_; }

 private:
  std::shared_ptr<TyphoonDefinition> definition_;
  std::shared_ptr<Object> object_;
};

}  // namespace tw
