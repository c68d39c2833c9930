#include "core/Source/Library/BTXibLoader.h"

#include <map>
#include <mutex>
#include <utility>

#include "platform/foundation/Log.h"

namespace {

struct Registry {
  std::mutex mutex;
  // (bundle identifier, nib name) -> factory
  std::map<std::pair<std::string, std::string>, BTXibLoader::NibFactory, std::less<>> nibs;
};

Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

std::pair<std::string, std::string> keyFor(std::string_view name, const tw::Bundle* bundle) {
  const tw::Bundle& b = bundle ? *bundle : tw::Bundle::main();
  return {b.bundleIdentifier(), std::string(name)};
}

}  // namespace

void BTXibLoader::registerNib(std::string name, NibFactory factory, const tw::Bundle* bundle) {
  auto& r = registry();
  auto key = keyFor(name, bundle);
  std::lock_guard lock(r.mutex);
  r.nibs.insert_or_assign(std::move(key), std::move(factory));
}

void BTXibLoader::unregisterNib(std::string_view name, const tw::Bundle* bundle) {
  auto& r = registry();
  auto key = keyFor(name, bundle);
  std::lock_guard lock(r.mutex);
  r.nibs.erase(key);
}

std::optional<BTXibLoader::Objects> BTXibLoader::instantiateNib(
    std::string_view name, const tw::Bundle* bundle, const std::shared_ptr<tw::Object>& owner) {
  NibFactory factory;
  {
    auto& r = registry();
    auto key = keyFor(name, bundle);
    std::lock_guard lock(r.mutex);
    auto it = r.nibs.find(key);
    if (it == r.nibs.end()) return std::nullopt;
    factory = it->second;
  }
  if (!factory) return std::nullopt;
  try {
    return factory(owner);
  } catch (const std::exception& e) {
    tw::logf("<BTXibLoader> Failed to load nib %@: %@", std::string(name), std::string(e.what()));
  } catch (...) {
    tw::logf("<BTXibLoader> Failed to load nib %@", std::string(name));
  }
  return std::nullopt;
}
