#include "kits/analytics/ORVApplication.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"

ORVApplication ORVApplication::hostApplication() {
  return ORVApplication(tw::Bundle::main().infoDictionary());
}

std::optional<std::string> ORVApplication::stringEntry(const char* key) const {
  auto it = info_.find(key);
  if (it == info_.end() || !it->second.isString()) return std::nullopt;
  return *it->second.string();
}

std::optional<tw::Dictionary> ORVApplication::extensionDefinitionDictionary() const {
  auto it = info_.find("NSExtension");
  if (it == info_.end()) return std::nullopt;
  if (!it->second.dictionary()) {
    tw::log(tw::format("Error: NSExtension Info.plist entry is mal-formed %@\n", it->second));
    return std::nullopt;
  }
  return *it->second.dictionary();
}

std::optional<std::string> ORVApplication::extensionPointIdentifier() const {
  auto definition = extensionDefinitionDictionary();
  if (!definition) return std::nullopt;
  auto it = definition->find("NSExtensionPointIdentifier");
  if (it == definition->end() || !it->second.isString()) {
    tw::log("Error: NSExtensionPointIdentifier Info.plist entry is mal-formed\n");
    return std::nullopt;
  }
  return *it->second.string();
}
