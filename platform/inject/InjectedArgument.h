#pragma once
// tw::InjectedArgument: one resolved value on its way into a component, as an initializer
// argument or a property value. It converts itself to whatever std::shared_ptr<T> or
// std::weak_ptr<T> the receiving constructor or setter takes, so a definition can hand its
// parameters to the class's own constructor without naming the parameter types.
//
// Made by the component factory while it builds a component; lives only for that build. Any
// thread (that of the resolution).

#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>

#include "platform/foundation/Object.h"

namespace tw {

// Every component the factory hands out is an object of the system.
using Component = std::shared_ptr<Object>;

class InjectedArgument {
 public:
  // `description` names the argument's place for error messages ("parameter 1 of updater").
  InjectedArgument(Component component, std::string description)
      : component_(std::move(component)), description_(std::move(description)) {}

  const Component& component() const { return component_; }
  const std::string& description() const { return description_; }

  // Null stays null. An object that is not a T raises NSInternalInconsistencyException: the
  // definition wired the wrong component to this place.
  template <class T>
  std::shared_ptr<T> as() const {
    static_assert(std::is_polymorphic_v<T>, "components are reached through polymorphic types");
    if (!component_) return nullptr;
    if (auto cast = std::dynamic_pointer_cast<T>(component_)) return cast;
    raiseMismatch(typeid(T));
  }

  // Implicit, so that std::make_shared<C>(argument...) finds C's constructor by itself.
  template <class T>
  operator std::shared_ptr<T>() const {
    return as<T>();
  }
  template <class T>
  operator std::weak_ptr<T>() const {
    return as<T>();
  }

 private:
  [[noreturn]] void raiseMismatch(const std::type_info& expected) const;

  Component component_;
  std::string description_;
};

}  // namespace tw
