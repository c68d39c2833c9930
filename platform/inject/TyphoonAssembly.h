#pragma once
// TyphoonAssembly: the base of an assembly, the one class that names every long-lived component
// of the system once (its class, scope, initializer and properties) as a method returning its
// TyphoonDefinition. Activating the assembly makes a TyphoonComponentFactory of those
// definitions; from then on the components are obtained from the factory.
//
// Writing an assembly:
//
//   class MyAssembly : public TyphoonAssembly {
//    public:
//     virtual std::shared_ptr<TyphoonDefinition> updater() {
//       return define(__func__, [&] {
//         return TyphoonDefinition::withClass<BTUpdater>([&](TyphoonDefinition& d) {
//           d.injectProperty("delegate", &BTUpdater::setDelegate, updaterDelegate());
//           d.setScope(tw::DefinitionScope::LazySingleton);
//         });
//       });
//     }
//    protected:
//     void collectDefinitions() override { updater(); updaterDelegate(); }
//   };
//
// Every definition method wraps its body in define(__func__, ...): the first call builds the
// definition and keeps it under the method's name, every later call (from another definition
// that injects it, or from outside) returns that same definition, so a name stands for one
// component. A method may return no definition at all (define's block returns nullptr); what it
// is injected into then receives null. Definition methods are virtual so that a subclass can
// replace one; the replacement keeps the name and so takes the base's place everywhere, in the
// definitions that inject it included. A definition that reaches itself through the definitions
// it injects is refused with NSInternalInconsistencyException naming the cycle.
//
// Through the activated assembly a definition yields its component:
//   assembly->componentFor<BTTimeObjectDataProvider>(assembly->alarmsDataProvider()).
//
// Created with TyphoonAssembly::assembly<A>() (a std::make_shared). Define and activate on one
// thread (the main thread at launch); afterwards the methods may be called from any thread.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/inject/TyphoonDefinition.h"

class TyphoonComponentFactory;

class TyphoonAssembly : public tw::Object {
 public:
  ~TyphoonAssembly() override;

  // A new assembly of class A, not activated yet.
  template <class A>
  static std::shared_ptr<A> assembly() {
    static_assert(std::is_base_of_v<TyphoonAssembly, A>);
    return std::make_shared<A>();
  }

  // Defines every definition (collectDefinitions), makes a factory of them, makes that factory
  // the default factory, runs didActivate, then builds the eager singletons (scope 2) in
  // definition order. The factory is the default before anything is built, so a component that
  // injects itself while it is being made finds its services. When building fails, the previous
  // default factory is restored and the exception goes on to the caller. Activating again while
  // the factory lives returns it.
  std::shared_ptr<TyphoonComponentFactory> activated();
  bool isActivated() const;
  // The activated factory; null before activation.
  std::shared_ptr<TyphoonComponentFactory> factory() const;
  // makeDefault on the activated factory. Raises NSInternalInconsistencyException before
  // activation.
  void makeDefault();

  // The component that `definition` (one of this assembly's) yields: what calling a definition
  // method "through the activated assembly" means. Null for a null definition. Raises
  // NSInternalInconsistencyException before activation, or when the component is not a T.
  template <class T>
  std::shared_ptr<T> componentFor(const std::shared_ptr<TyphoonDefinition>& definition) const {
    const auto component = resolveThroughFactory(definition);
    if (!component) return nullptr;
    return tw::InjectedArgument(component, "definition " + definition->displayName()).as<T>();
  }

  // The names of the definition methods in the assembly's order: that in which
  // collectDefinitions calls them, then any reached only through other definitions. After
  // activation every method is listed, including those that yield no definition. Eager
  // singletons are built in this order.
  std::vector<std::string> definitionKeys() const;
  // The definition the method `key` made; null when it made none or was never called.
  std::shared_ptr<TyphoonDefinition> definitionForKey(std::string_view key) const;

 protected:
  TyphoonAssembly() = default;

  // Calls every definition method of the assembly once, in the assembly's order. A subclass that
  // adds definitions overrides it and calls its base first.
  virtual void collectDefinitions() = 0;
  // Runs during activation, once the factory is the default and before the eager singletons are
  // built. Nothing by default.
  virtual void didActivate(TyphoonComponentFactory& factory);

  // See the header comment. `build` runs once per key; it returns the definition or nullptr.
  std::shared_ptr<TyphoonDefinition> define(
      std::string_view key, const std::function<std::shared_ptr<TyphoonDefinition>()>& build);

 private:
  struct Entry {
    std::string key;
    std::shared_ptr<TyphoonDefinition> definition;
    bool building = false;
  };

  tw::Component resolveThroughFactory(const std::shared_ptr<TyphoonDefinition>& definition) const;
  Entry* entryForKey(std::string_view key);
  const Entry* entryForKey(std::string_view key) const;

  // Guards everything below; recursive, as definitions call other definitions.
  mutable std::recursive_mutex mutex_;
  std::vector<Entry> entries_;
  std::vector<std::string> building_;  // keys whose definitions are being built, outermost first
  std::vector<std::string> order_;     // keys in the order collectDefinitions calls them
  bool collected_ = false;
  std::weak_ptr<TyphoonComponentFactory> factory_;
};
