#include "core/Source/Library/BTStoryboardLoader.h"

#include <utility>

#include "core/Source/Library/BTBundleResourceRegistry.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"

namespace {

BTBundleResourceRegistry<BTStoryboardLoader::Storyboard>& registry() {
  static auto* r = new BTBundleResourceRegistry<BTStoryboardLoader::Storyboard>;
  return *r;
}

BTStoryboardLoader::ControllerFactory factoryFor(std::string_view storyboard,
                                                 std::string_view identifier,
                                                 const tw::Bundle* bundle, bool initial) {
  auto board = registry().find(storyboard, bundle);
  if (!board) return nullptr;
  const std::string_view id = initial ? board->initialControllerIdentifier : identifier;
  auto it = board->controllers.find(id);
  return it == board->controllers.end() ? nullptr : it->second;
}

std::shared_ptr<tw::Object> make(const BTStoryboardLoader::ControllerFactory& factory,
                                 std::string_view storyboard) {
  if (!factory) return nullptr;
  try {
    return factory();
  } catch (...) {
    tw::logf("<BTStoryboardLoader> Failed to load a controller from storyboard %@: %@",
             std::string(storyboard), tw::describeCurrentException());
  }
  return nullptr;
}

}  // namespace

void BTStoryboardLoader::registerStoryboard(std::string_view name, Storyboard storyboard,
                                            const tw::Bundle* bundle) {
  registry().add(name, std::move(storyboard), bundle);
}

void BTStoryboardLoader::unregisterStoryboard(std::string_view name, const tw::Bundle* bundle) {
  registry().remove(name, bundle);
}

std::shared_ptr<tw::Object> BTStoryboardLoader::instantiateController(std::string_view storyboard,
                                                                      std::string_view identifier,
                                                                      const tw::Bundle* bundle) {
  return make(factoryFor(storyboard, identifier, bundle, false), storyboard);
}

std::shared_ptr<tw::Object> BTStoryboardLoader::loadInitialControllerFromStoryboard(
    std::string_view name, const tw::Bundle* bundle) {
  return make(factoryFor(name, {}, bundle, true), name);
}
