#pragma once
// MVXUserDefaults: the kits' own small key-value store, kept apart from the application's
// preferences in a property list of its own ("<data home>/<escaped bundle id>/com.morvex/
// MVXUserDefaults.plist", 0600 in a 0700 folder). Values live in memory; synchronize() writes
// the file, only when something changed. The kit registry keeps the installation identifier and
// the data-collection switch here.
//
// One shared store per process (standardUserDefaults), owned by nobody in particular and alive
// for the process. Any thread: the values are guarded by one lock ("access"), the file by
// another ("io"); every call returns when its work is done.

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

class MVXUserDefaults : public tw::Object {
 public:
  static std::shared_ptr<MVXUserDefaults> standardUserDefaults();
  // Test-only: the next standardUserDefaults() makes a fresh store (reading the file again).
  static void resetStandardUserDefaultsForTesting();

  // Reads the file at once; an unreadable file is moved aside and the store starts empty.
  MVXUserDefaults();

  std::filesystem::path generateDirectoryURL() const;
  static std::filesystem::path generateDirectoryURLForBaseURL(
      const std::filesystem::path& base, const std::string& hostAppBundleIdentifier);
  std::string getEscapedAppBundleIdentifier() const;

  tw::Value objectForKey(std::string_view key) const;
  // The value only when it is a string.
  std::optional<std::string> stringForKey(std::string_view key) const;
  // The value's boolean or integer only when it is a number, else NO or 0.
  bool boolForKey(std::string_view key) const;
  std::int64_t integerForKey(std::string_view key) const;

  // A null value removes the key.
  void setObject(const tw::Value& value, std::string_view key);
  void setString(std::optional<std::string> value, std::string_view key);
  void setBool(bool value, std::string_view key);
  void setInteger(std::int64_t value, std::string_view key);
  void removeObjectForKey(std::string_view key);
  void removeAllObjects();
  tw::Dictionary dictionaryRepresentation() const;

  // Writes the current values when they differ from what the file holds. Snapshot, write and
  // bookkeeping are one step under the file lock, so concurrent calls write in order and the
  // last write carries the newest values; a value set meanwhile stays pending for the next call.
  void synchronize();
  // The file's dictionary, or nullopt (absent, unreadable: moved aside, or a folder in its place:
  // moved aside too).
  std::optional<tw::Dictionary> loadDefaults();

  // Moves the keys' values over from the application's preferences.
  void migrateFromNSUserDefaults(const std::vector<std::string>& keys);
  tw::Value objectForKeyByMigratingFromNSUserDefaults(std::string_view key);

  const std::filesystem::path& directoryURL() const { return directoryURL_; }
  const std::filesystem::path& fileURL() const { return fileURL_; }
  tw::Dictionary persistedDataDictionary() const;
  tw::Dictionary dataDictionary() const { return dictionaryRepresentation(); }
  bool synchronizeWroteToDisk() const;

  std::string className() const override { return "MVXUserDefaults"; }

 private:
  mutable std::mutex accessMutex_;  // "com.morvex.MVXUserDefaults.access"
  std::mutex ioMutex_;              // "com.morvex.MVXUserDefaults.io"
  std::filesystem::path directoryURL_;
  std::filesystem::path fileURL_;
  tw::Dictionary persisted_;
  tw::Dictionary data_;
  bool synchronizeWroteToDisk_ = false;
};
