#pragma once
// tw::Bundle: a folder of resources with an Info.plist: the
// application's identifier and versions, its information-dictionary entries, resource lookup and
// localized strings (Localization.h).
//
// The main bundle's folder is, in order: $TICKWELL_BUNDLE_DIR; "<executable's folder>/../share/
// Tickwell" when it exists (an installed tree); "<executable's folder>/../resources" (the build
// tree). Info.plist, the "<language>.lproj" folders and the other resources sit directly in it.
// Without a readable Info.plist the bundle answers identifier "com.velmora.Tickwell", version
// "1.0", build "1".
//
// Immutable after construction except for its cache of string tables; any thread.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace tw {

class Bundle {
 public:
  static Bundle& main();
  static std::shared_ptr<Bundle> fromDirectory(std::filesystem::path directory);

  explicit Bundle(std::filesystem::path directory);
  Bundle(const Bundle&) = delete;
  Bundle& operator=(const Bundle&) = delete;

  const std::string& bundleIdentifier() const { return identifier_; }
  const Dictionary& infoDictionary() const { return info_; }
  // Null when absent.
  const Value& objectForInfoDictionaryKey(std::string_view key) const;
  // CFBundleShortVersionString / CFBundleVersion.
  std::string shortVersionString() const;
  std::string bundleVersion() const;
  // CFBundleDevelopmentRegion, "en" when absent: the language of the keys themselves.
  std::string developmentRegion() const;

  const std::filesystem::path& bundlePath() const { return directory_; }
  const std::filesystem::path& resourcePath() const { return directory_; }
  // "<resources>/<name>.<ext>", else the same inside the user's language folders (best first),
  // else the development region's; nullopt when nowhere. An empty `ext` means `name` is complete.
  std::optional<std::filesystem::path> pathForResource(std::string_view name,
                                                       std::string_view ext) const;

  // The localized text for `key` (the English text) from `table` ("Localizable" when empty) in
  // the user's language; when there is no translation: `value` when non-empty, else the key.
  // Implemented in Localization.cpp.
  std::string localizedString(std::string_view key, std::string_view value = {},
                              std::string_view table = {}) const;
  // The languages the bundle has a "<language>.lproj" folder for (scanned once).
  std::vector<std::string> localizations() const;

 private:
  const Dictionary& stringsTable(const std::filesystem::path& file) const;

  std::filesystem::path directory_;
  Dictionary info_;
  std::string identifier_;

  // Guards the lazily read tables_ and localizations_.
  mutable std::mutex tablesMutex_;
  mutable std::map<std::filesystem::path, Dictionary> tables_;
  mutable std::optional<std::vector<std::string>> localizations_;
};

}  // namespace tw
