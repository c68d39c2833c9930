#pragma once
// TyphoonComponentFactory: builds and hands out the components of an activated assembly
// (TyphoonAssembly::activated makes it). Components are obtained three ways:
//   - by type: componentForType<T>() yields the one component whose definition's class is T or
//     derives from it (protocols are abstract classes); the activated assembly itself counts as
//     a component of its own class. No such component, or more than one, raises
//     NSInternalInconsistencyException naming the type (and the candidates);
//   - by injection: inject(object) fills the marked properties of a tw::Injectable;
//   - through the assembly: TyphoonAssembly::componentFor(definition).
// Finding a component by type looks at the definitions' classes only, so it builds nothing but
// the component asked for.
//
// Scopes: a singleton (2, built at activation) or lazy singleton (3, built at its first request)
// is built once and kept by the factory until the factory goes; a definition without a scope
// gives a new instance at every resolution. A component that needs itself while it is being
// built, through its initializer, its properties or an injection made from its constructor,
// raises NSInternalInconsistencyException naming the cycle.
//
// The default factory: the process-wide factory that objects inject themselves from. Activation
// makes the new factory the default before it builds anything; makeDefault makes it so again.
// The default is kept for the life of the process (never destroyed at exit), as its components
// are meant to be.
//
// Thread-safe: resolution runs under one recursive lock, so every component is built once even
// when several threads ask at the same time. A component's constructor may resolve others from
// its own thread, but must not wait for another thread that resolves components.

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/inject/InjectedArgument.h"
#include "platform/inject/TyphoonDefinition.h"

class TyphoonAssembly;

namespace tw {
class Injectable;
}

class TyphoonComponentFactory : public std::enable_shared_from_this<TyphoonComponentFactory> {
 public:
  ~TyphoonComponentFactory();
  TyphoonComponentFactory(const TyphoonComponentFactory&) = delete;
  TyphoonComponentFactory& operator=(const TyphoonComponentFactory&) = delete;

  // The default factory, or null before any is made default. Any thread.
  static std::shared_ptr<TyphoonComponentFactory> defaultFactory();
  void makeDefault();
  // Forgets the default factory (tests; a running application keeps its factory to the end).
  static void clearDefaultFactory();

  template <class T>
  std::shared_ptr<T> componentForType() {
    static_assert(std::is_polymorphic_v<T>, "components are found by polymorphic types");
    const TypeQuery query{typeid(T), &conformsByClass<T>, &conformsByObject<T>};
    const auto component = componentForTypeQuery(query);
    if (!component) return nullptr;
    return tw::InjectedArgument(component, "the component for type " + typeName(query)).as<T>();
  }
  // The component of the definition the assembly method `key` made; null when that method made
  // none. An unknown key raises NSInternalInconsistencyException.
  template <class T>
  std::shared_ptr<T> componentForKey(std::string_view key) {
    const auto component = componentForKeyImpl(key);
    if (!component) return nullptr;
    return tw::InjectedArgument(component, "definition " + std::string(key)).as<T>();
  }
  // The component a definition yields; null for a null definition.
  tw::Component componentForDefinition(const std::shared_ptr<TyphoonDefinition>& definition);

  // Fills the object's marked properties (see tw::Injectable).
  void inject(tw::Injectable& object);

  const std::shared_ptr<TyphoonAssembly>& assembly() const { return assembly_; }
  // The assembly's definitions, in definition order.
  const std::vector<std::shared_ptr<TyphoonDefinition>>& definitions() const {
    return definitions_;
  }
  // Whether the singleton of the definition named `key` has been built (diagnostics, tests).
  bool hasBuiltComponentForKey(std::string_view key) const;

 private:
  friend class TyphoonAssembly;

  struct TypeQuery {
    const std::type_info& type;
    bool (*definitionConforms)(const TyphoonDefinition&);
    bool (*objectConforms)(const tw::Object&);
  };
  struct TypeMatch {
    bool isAssembly = false;
    std::shared_ptr<TyphoonDefinition> definition;
  };

  template <class T>
  static bool conformsByClass(const TyphoonDefinition& definition) {
    return definition.conformsTo<T>();
  }
  template <class T>
  static bool conformsByObject(const tw::Object& object) {
    return dynamic_cast<const T*>(&object) != nullptr;
  }
  static std::string typeName(const TypeQuery& query);

  TyphoonComponentFactory(std::shared_ptr<TyphoonAssembly> assembly,
                          std::vector<std::shared_ptr<TyphoonDefinition>> definitions);
  // Sets the default factory and returns the one it replaced.
  static std::shared_ptr<TyphoonComponentFactory> exchangeDefault(
      std::shared_ptr<TyphoonComponentFactory> factory);
  void buildEagerSingletons();

  tw::Component componentForTypeQuery(const TypeQuery& query);
  tw::Component componentForKeyImpl(std::string_view key);
  std::shared_ptr<TyphoonDefinition> definitionForKey(std::string_view key) const;
  // The lock is held.
  tw::Component resolve(const TyphoonDefinition& definition);
  tw::Component resolveValue(const tw::InjectedValue& value);
  [[noreturn]] void raiseCycle(const TyphoonDefinition& definition) const;

  // Guards everything below; recursive, as building one component resolves others.
  mutable std::recursive_mutex mutex_;
  std::shared_ptr<TyphoonAssembly> assembly_;
  std::vector<std::shared_ptr<TyphoonDefinition>> definitions_;
  std::unordered_map<const TyphoonDefinition*, tw::Component> singletons_;
  std::vector<tw::Component> creationOrder_;  // singletons, to let go of in reverse
  std::vector<const TyphoonDefinition*> resolving_;
  std::unordered_map<std::type_index, TypeMatch> typeMatches_;
};
