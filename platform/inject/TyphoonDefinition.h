#pragma once
// TyphoonDefinition: how the component factory builds one component: the class (or a factory
// function), the lifetime (scope), the initializer with its injected parameters and the
// properties set after construction. Definitions are written by the methods of an assembly
// (TyphoonAssembly) and may take a parent whose initializer and properties they inherit.
//
//   TyphoonDefinition::withClass<BTTimingController>([&](TyphoonDefinition& d) {
//     d.useInitializer([&](tw::InitializerParameters& p) {
//       p.injectParameterWith(updater());
//       p.injectParameterWith(actionExecutor());
//     });
//     d.setScope(tw::DefinitionScope::Singleton);
//   });
//
// The initializer is the class's constructor that takes as many arguments as there are
// parameters; each argument arrives as a tw::InjectedArgument, which converts itself to the
// std::shared_ptr<T> / std::weak_ptr<T> the constructor declares. A class whose constructors of
// that arity are ambiguous names its maker explicitly (the two-argument useInitializer).
//
// Components are tw::Objects. A component "conforms" to a type T when its class is T or derives
// publicly from it; protocols are abstract classes, so this is what conformance means here.
// That is decided from the definition's class alone, so finding a component by type never
// builds one that is not asked for.
//
// Configured on one thread while the assembly is defined; read-only, and so safe to read from any
// thread, once the assembly is activated.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/foundation/TypeName.h"
#include "platform/inject/InitializerParameters.h"
#include "platform/inject/InjectedArgument.h"
#include "platform/inject/InjectedValue.h"

namespace tw {

// Lifetimes, numbered as the injection library numbers them. A definition without a scope of its
// own takes its parent's, and without a parent PerResolution.
enum class DefinitionScope : int {
  PerResolution = 1,  // a new instance each time the definition is resolved
  Singleton = 2,      // one instance, made when the assembly is activated
  LazySingleton = 3,  // one instance, made at the first request
};

namespace detail {
template <std::size_t>
using InjectedArgumentRef = const InjectedArgument&;

[[noreturn]] void raiseNoInitializer(const std::string& className, std::size_t count);

template <class C, std::size_t... I>
Component constructWith(const std::vector<InjectedArgument>& arguments,
                        const std::string& className, std::index_sequence<I...>) {
  if constexpr (std::is_constructible_v<C, InjectedArgumentRef<I>...>)
    return std::make_shared<C>(arguments[I]...);
  else
    raiseNoInitializer(className, sizeof...(I));
}

inline constexpr std::size_t kMaximumInitializerArity = 8;

// Builds a C with the constructor that takes arguments.size() arguments.
template <class C>
Component construct(const std::vector<InjectedArgument>& arguments, const std::string& className) {
  switch (arguments.size()) {
    case 0:
      return constructWith<C>(arguments, className, std::make_index_sequence<0>());
    case 1:
      return constructWith<C>(arguments, className, std::make_index_sequence<1>());
    case 2:
      return constructWith<C>(arguments, className, std::make_index_sequence<2>());
    case 3:
      return constructWith<C>(arguments, className, std::make_index_sequence<3>());
    case 4:
      return constructWith<C>(arguments, className, std::make_index_sequence<4>());
    case 5:
      return constructWith<C>(arguments, className, std::make_index_sequence<5>());
    case 6:
      return constructWith<C>(arguments, className, std::make_index_sequence<6>());
    case 7:
      return constructWith<C>(arguments, className, std::make_index_sequence<7>());
    case 8:
      return constructWith<C>(arguments, className, std::make_index_sequence<8>());
    default:
      raiseNoInitializer(className, arguments.size());
  }
}

// Converts a resolved value to the type a property setter takes.
template <class A>
struct SetterArgument;
template <class T>
struct SetterArgument<std::shared_ptr<T>> {
  static std::shared_ptr<T> from(const InjectedArgument& a) { return a.as<T>(); }
};
template <class T>
struct SetterArgument<std::weak_ptr<T>> {
  static std::weak_ptr<T> from(const InjectedArgument& a) { return a.as<T>(); }
};
}  // namespace detail

}  // namespace tw

class TyphoonDefinition {
 public:
  using Configuration = std::function<void(TyphoonDefinition&)>;
  using ParametersBlock = std::function<void(tw::InitializerParameters&)>;
  using Arguments = std::vector<tw::InjectedArgument>;
  // Builds the component from the resolved initializer arguments.
  using Maker = std::function<tw::Component(const Arguments&)>;
  // Sets one property of a built component.
  using PropertySetter = std::function<void(tw::Object&, const tw::InjectedArgument&)>;

  // A definition of class C, built with C's constructor.
  template <class C>
  static std::shared_ptr<TyphoonDefinition> withClass(const Configuration& configuration = {}) {
    auto definition = blank<C>();
    definition->maker_ = [name = definition->className_](const Arguments& arguments) {
      return tw::detail::construct<C>(arguments, name);
    };
    return configure(std::move(definition), configuration);
  }

  // A definition of class C that takes `parent` as its template: unless it says otherwise it
  // uses the parent's initializer parameters (with C's own constructor), the parent's properties
  // and the parent's scope. Its own properties replace the parent's of the same name.
  template <class C>
  static std::shared_ptr<TyphoonDefinition> withParent(std::shared_ptr<TyphoonDefinition> parent,
                                                       const Configuration& configuration = {}) {
    std::shared_ptr<TyphoonDefinition> definition = blank<C>();
    definition->parent_ = std::move(parent);
    definition->maker_ = [name = definition->className_](const Arguments& arguments) {
      return tw::detail::construct<C>(arguments, name);
    };
    return configure(std::move(definition), configuration);
  }

  // A definition whose component comes from `factory`, declared to yield a C (or null). The
  // initializer parameters, if any, are the factory's arguments.
  template <class C>
  static std::shared_ptr<TyphoonDefinition> withFactory(
      std::function<std::shared_ptr<C>(const Arguments&)> factory,
      const Configuration& configuration = {}) {
    auto definition = blank<C>();
    definition->maker_ = [factory = std::move(factory)](const Arguments& arguments) {
      return tw::Component(factory(arguments));
    };
    return configure(std::move(definition), configuration);
  }

  // ----- configuration (inside the configuration block)
  void setScope(tw::DefinitionScope scope) { scope_ = scope; }
  // The library's numbers: 1, 2 or 3; anything else raises NSInvalidArgumentException.
  void setScope(int number);
  // The initializer of the class (or factory) with the parameters the block injects, in order.
  void useInitializer(const ParametersBlock& parameters);
  // An initializer of its own: `maker` builds the component from the resolved parameters. Meant
  // for a class whose constructors the arguments cannot tell apart, or that takes plain values.
  // A child definition inherits the parameters but not the maker.
  void useInitializer(Maker maker, const ParametersBlock& parameters);

  // Sets a property after construction through a setter of the component's class; the setter
  // takes std::shared_ptr<T> or std::weak_ptr<T>.
  template <class C, class A>
  void injectProperty(std::string name, void (C::*setter)(A), tw::InjectedValue value) {
    using Argument = std::remove_cvref_t<A>;
    std::string property = name;
    PropertySetter set = [setter, property = std::move(property)](tw::Object& object,
                                                                  const tw::InjectedArgument& a) {
      (ownerOf<C>(object, property).*setter)(tw::detail::SetterArgument<Argument>::from(a));
    };
    addProperty(std::move(name), std::move(set), std::move(value));
  }
  // Sets a property after construction through any function of the component and the value.
  template <class C>
  void injectProperty(std::string name, std::function<void(C&, const tw::InjectedArgument&)> apply,
                      tw::InjectedValue value) {
    std::string property = name;
    PropertySetter set = [apply = std::move(apply), property = std::move(property)](
                             tw::Object& object, const tw::InjectedArgument& a) {
      apply(ownerOf<C>(object, property), a);
    };
    addProperty(std::move(name), std::move(set), std::move(value));
  }

  // ----- reading
  // The name of the assembly method that made it ("timingController"); empty for a definition
  // written inline.
  const std::string& key() const { return key_; }
  // The key, or the class name in angle brackets for an inline definition.
  std::string displayName() const;
  // The declared class ("BTTimingController").
  const std::string& className() const { return className_; }
  const std::type_info& classType() const { return *classType_; }
  const std::shared_ptr<TyphoonDefinition>& parent() const { return parent_; }
  // The effective scope (own, else the parent's, else PerResolution); hasScope says whether this
  // definition or a parent set one.
  tw::DefinitionScope scope() const;
  bool hasScope() const;
  // The effective initializer parameters (own, else the nearest parent's).
  const std::vector<tw::InjectedValue>& initializerParameters() const;
  // Whether this definition sets its initializer itself rather than inheriting it.
  bool hasOwnInitializer() const { return ownInitializer_; }
  // The effective properties: the parent's first, then this definition's own, each name once.
  struct Property {
    std::string name;
    PropertySetter setter;
    tw::InjectedValue value;
  };
  std::vector<Property> properties() const;
  std::vector<std::string> propertyNames() const;

  // Whether the declared class is T or derives publicly from it.
  template <class T>
  bool conformsTo() const {
    try {
      throwClassPointer_();
    } catch (T*) {
      return true;
    } catch (...) {
      return false;
    }
    return false;
  }

  // Builds the component from resolved arguments (the factory calls it).
  tw::Component build(const Arguments& arguments) const;

 private:
  friend class TyphoonAssembly;
  TyphoonDefinition() = default;

  template <class C>
  static std::shared_ptr<TyphoonDefinition> blank() {
    static_assert(std::is_base_of_v<tw::Object, C>,
                  "a component class must derive from tw::Object");
    auto definition = std::shared_ptr<TyphoonDefinition>(new TyphoonDefinition());
    definition->classType_ = &typeid(C);
    definition->className_ = tw::demangledTypeName(typeid(C));
    // Conformance is asked of the class, not of an instance: catching the thrown C* as a T*
    // succeeds exactly when C converts to T publicly and unambiguously.
    definition->throwClassPointer_ = [] { throw static_cast<C*>(nullptr); };
    return definition;
  }
  static std::shared_ptr<TyphoonDefinition> configure(std::shared_ptr<TyphoonDefinition> definition,
                                                      const Configuration& configuration);
  template <class C>
  static C& ownerOf(tw::Object& object, const std::string& property) {
    if (auto* owner = dynamic_cast<C*>(&object)) return *owner;
    raisePropertyOwnerMismatch(object, property, typeid(C));
  }
  [[noreturn]] static void raisePropertyOwnerMismatch(const tw::Object& object,
                                                      const std::string& property,
                                                      const std::type_info& owner);
  void addProperty(std::string name, PropertySetter setter, tw::InjectedValue value);

  std::string key_;
  std::string className_;
  const std::type_info* classType_ = nullptr;
  void (*throwClassPointer_)() = nullptr;
  std::shared_ptr<TyphoonDefinition> parent_;
  Maker maker_;
  bool ownInitializer_ = false;
  Maker ownInitializerMaker_;  // set by the three-argument useInitializer
  std::vector<tw::InjectedValue> parameters_;
  std::vector<Property> properties_;
  std::optional<tw::DefinitionScope> scope_;
};
