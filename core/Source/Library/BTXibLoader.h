#pragma once
// BTXibLoader: makes objects from nibs by name. A nib here is what the application registers
// under a name (per bundle): a factory that, given the owner, makes the nib's top-level objects
// in order. Nothing is registered by the framework itself, so until the application registers
// its interfaces every load answers nullptr. A load never raises: an unknown nib, a factory
// that throws, or no top-level object of the wanted class all give nullptr.
//
// A null bundle means the main bundle. Thread-safe registry; objects are made on the calling
// thread (the main thread for views).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Source/Library/BTTypeChecks.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Object.h"

class BTXibLoader {
 public:
  using Objects = std::vector<std::shared_ptr<tw::Object>>;
  using NibFactory = std::function<Objects(const std::shared_ptr<tw::Object>& owner)>;

  // ----- registration (the application, at start-up; tests)
  // Replaces a nib of the same name in the same bundle.
  static void registerNib(std::string_view name, NibFactory factory,
                          const tw::Bundle* bundle = nullptr);
  static void unregisterNib(std::string_view name, const tw::Bundle* bundle = nullptr);

  // ----- loading
  // The first top-level object, in the nib's order, that is a C.
  template <class C>
  static std::shared_ptr<C> loadObjectFromNib(std::string_view name, const tw::Bundle* bundle,
                                              const std::shared_ptr<tw::Object>& owner) {
    auto objects = instantiateNib(name, bundle, owner);
    if (!objects) return nullptr;
    for (const auto& object : *objects)
      if (auto match = std::dynamic_pointer_cast<C>(object)) return match;
    return nullptr;
  }
  template <class C>
  static std::shared_ptr<C> loadObjectFromNib(std::string_view name,
                                              const std::shared_ptr<tw::Object>& owner) {
    return loadObjectFromNib<C>(name, nullptr, owner);
  }
  // From the nib named after C.
  template <class C>
  static std::shared_ptr<C> loadObject(const std::shared_ptr<tw::Object>& owner) {
    const std::string name = tw::demangledTypeName(typeid(C));
    return loadObjectFromNib<C>(name, nullptr, owner);
  }

  // The nib's top-level objects; nullopt when it cannot be loaded.
  static std::optional<Objects> instantiateNib(std::string_view name, const tw::Bundle* bundle,
                                               const std::shared_ptr<tw::Object>& owner);
};
