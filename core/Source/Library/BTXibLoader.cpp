#include "core/Source/Library/BTXibLoader.h"

#include <utility>

#include "core/Source/Library/BTBundleResourceRegistry.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"

namespace {

BTBundleResourceRegistry<BTXibLoader::NibFactory>& registry() {
  static auto* r = new BTBundleResourceRegistry<BTXibLoader::NibFactory>;
  return *r;
}

}  // namespace

void BTXibLoader::registerNib(std::string_view name, NibFactory factory, const tw::Bundle* bundle) {
  registry().add(name, std::move(factory), bundle);
}

void BTXibLoader::unregisterNib(std::string_view name, const tw::Bundle* bundle) {
  registry().remove(name, bundle);
}

std::optional<BTXibLoader::Objects> BTXibLoader::instantiateNib(
    std::string_view name, const tw::Bundle* bundle, const std::shared_ptr<tw::Object>& owner) {
  auto factory = registry().find(name, bundle);
  if (!factory || !*factory) return std::nullopt;
  try {
    return (*factory)(owner);
  } catch (...) {
    tw::logf("<BTXibLoader> Failed to load nib %@: %@", std::string(name),
             tw::describeCurrentException());
  }
  return std::nullopt;
}
