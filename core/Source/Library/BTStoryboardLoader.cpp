#include "core/Source/Library/BTStoryboardLoader.h"

#include <mutex>
#include <utility>

#include "platform/foundation/Log.h"

namespace {

struct Registry {
  std::mutex mutex;
  // (bundle identifier, storyboard name) -> storyboard
  std::map<std::pair<std::string, std::string>, BTStoryboardLoader::Storyboard, std::less<>> boards;
};

Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

std::pair<std::string, std::string> keyFor(std::string_view name, const tw::Bundle* bundle) {
  const tw::Bundle& b = bundle ? *bundle : tw::Bundle::main();
  return {b.bundleIdentifier(), std::string(name)};
}

// A copy of the factory, so it runs outside the lock (it may load further storyboards).
BTStoryboardLoader::ControllerFactory factoryFor(std::string_view storyboard,
                                                 std::string_view identifier,
                                                 const tw::Bundle* bundle, bool initial) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto board = r.boards.find(keyFor(storyboard, bundle));
  if (board == r.boards.end()) return nullptr;
  const std::string_view id = initial ? board->second.initialControllerIdentifier : identifier;
  auto it = board->second.controllers.find(id);
  return it == board->second.controllers.end() ? nullptr : it->second;
}

std::shared_ptr<tw::Object> make(const BTStoryboardLoader::ControllerFactory& factory,
                                 std::string_view storyboard) {
  if (!factory) return nullptr;
  try {
    return factory();
  } catch (const std::exception& e) {
    tw::logf("<BTStoryboardLoader> Failed to load a controller from storyboard %@: %@",
             std::string(storyboard), std::string(e.what()));
  } catch (...) {
    tw::logf("<BTStoryboardLoader> Failed to load a controller from storyboard %@",
             std::string(storyboard));
  }
  return nullptr;
}

}  // namespace

void BTStoryboardLoader::registerStoryboard(std::string name, Storyboard storyboard,
                                            const tw::Bundle* bundle) {
  auto& r = registry();
  auto key = keyFor(name, bundle);
  std::lock_guard lock(r.mutex);
  r.boards.insert_or_assign(std::move(key), std::move(storyboard));
}

void BTStoryboardLoader::unregisterStoryboard(std::string_view name, const tw::Bundle* bundle) {
  auto& r = registry();
  auto key = keyFor(name, bundle);
  std::lock_guard lock(r.mutex);
  r.boards.erase(key);
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
