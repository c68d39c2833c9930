#pragma once
// ORVApplication: a view of the host bundle's Info.plist (identifiers, versions, whether the kit
// runs inside an application extension). Immutable; any thread.
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class ORVApplication {
 public:
  static ORVApplication hostApplication();
  explicit ORVApplication(tw::Dictionary infoPlistDict) : info_(std::move(infoPlistDict)) {}
  std::optional<std::string> bundleIdentifier() const { return stringEntry("CFBundleIdentifier"); }
  std::optional<std::string> bundleVersion() const { return stringEntry("CFBundleVersion"); }
  std::optional<std::string> shortVersionString() const {
    return stringEntry("CFBundleShortVersionString");
  }
  std::optional<tw::Dictionary> extensionDefinitionDictionary() const;
  std::optional<std::string> extensionPointIdentifier() const;
  bool isExtension() const { return extensionPointIdentifier().has_value(); }
  const tw::Dictionary& infoPlistDict() const { return info_; }

 private:
  std::optional<std::string> stringEntry(const char* key) const;
  tw::Dictionary info_;
};
