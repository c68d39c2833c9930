#pragma once
// BTStoryboardLoader: makes controllers from storyboards by name. A storyboard here is what the
// application registers under a name (per bundle): a factory for each controller identifier and
// the identifier of its initial controller. Nothing is registered by the framework itself, so
// until the application registers its interfaces every load answers nullptr. A load never
// raises: an unknown storyboard or identifier, a factory that throws, or a controller of the
// wrong class all give nullptr.
//
// A null bundle means the main bundle; storyboards are told apart by the bundle's identifier.
// Thread-safe registry; the controllers themselves are made on the calling thread (the main
// thread for anything with a user interface).

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "core/Source/Library/BTTypeChecks.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Object.h"

class BTStoryboardLoader {
 public:
  using ControllerFactory = std::function<std::shared_ptr<tw::Object>()>;
  struct Storyboard {
    // Controller identifier -> factory.
    std::map<std::string, ControllerFactory, std::less<>> controllers;
    // Empty when the storyboard has no initial controller.
    std::string initialControllerIdentifier;
  };

  // ----- registration (the application, at start-up; tests)
  // Replaces a storyboard of the same name in the same bundle.
  static void registerStoryboard(std::string_view name, Storyboard storyboard,
                                 const tw::Bundle* bundle = nullptr);
  static void unregisterStoryboard(std::string_view name, const tw::Bundle* bundle = nullptr);

  // ----- loading
  // The controller whose identifier is C's class name, when it is a C.
  template <class C>
  static std::shared_ptr<C> loadControllerFromStoryboard(std::string_view name,
                                                         const tw::Bundle* bundle) {
    return std::dynamic_pointer_cast<C>(
        instantiateController(name, tw::demangledTypeName(typeid(C)), bundle));
  }
  template <class C>
  static std::shared_ptr<C> loadControllerFromStoryboard(std::string_view name) {
    return loadControllerFromStoryboard<C>(name, nullptr);
  }
  // From the storyboard named after C.
  template <class C>
  static std::shared_ptr<C> loadController() {
    const std::string name = tw::demangledTypeName(typeid(C));
    return loadControllerFromStoryboard<C>(name, nullptr);
  }

  // The storyboard's initial controller, whatever its class.
  static std::shared_ptr<tw::Object> loadInitialControllerFromStoryboard(std::string_view name,
                                                                         const tw::Bundle* bundle);
  template <class C>
  static std::shared_ptr<tw::Object> loadInitialController(const tw::Bundle* bundle) {
    return loadInitialControllerFromStoryboard(tw::demangledTypeName(typeid(C)), bundle);
  }

  // The controller of that identifier, of whatever class; nullptr on any failure.
  static std::shared_ptr<tw::Object> instantiateController(std::string_view storyboard,
                                                           std::string_view identifier,
                                                           const tw::Bundle* bundle);
};
