#pragma once
// tw::UserDefaults: the application's preferences. Two
// domains are consulted in order: the persistent one (stored in one property list, by default
// "$XDG_CONFIG_HOME/Tickwell/<bundle identifier>.plist") and the registered one (defaults the
// application registers at start-up, never stored).
//
// The file is read on first access. A file that cannot be read or parsed is moved aside (never
// deleted), logged, and the defaults go on empty. Changes stay in memory until synchronize(),
// which writes the whole file atomically, and only when something changed. The shared instance
// also saves by itself shortly after a change and once more when the process exits.
//
// Thread-safe: every member may be called from any thread.

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Value.h"

namespace tw {

class UserDefaults {
 public:
  // The application's defaults, for the main bundle's identifier.
  static UserDefaults& standard();

  // Defaults kept in `file` (for tests and for stores of their own). No automatic saving unless
  // setAutosaveDelay() turns it on.
  explicit UserDefaults(std::filesystem::path file,
                        PropertyList::Format format = PropertyList::Format::Binary);
  // Saves pending changes.
  ~UserDefaults();
  UserDefaults(const UserDefaults&) = delete;
  UserDefaults& operator=(const UserDefaults&) = delete;

  // Adds to the registered domain (later registrations of a key win). Not stored.
  void registerDefaults(const Dictionary& defaults);

  // The persistent value, else the registered one, else null.
  Value objectForKey(std::string_view key) const;
  Value valueForKey(std::string_view key) const { return objectForKey(key); }
  // Stores a value; null removes the key. A value a property list cannot hold (null inside a
  // collection, an object reference, a key or string with a NUL character) raises
  // NSInvalidArgumentException.
  void setObject(const Value& value, std::string_view key);
  void setBool(bool value, std::string_view key) { setObject(Value(value), key); }
  void setInteger(std::int64_t value, std::string_view key) { setObject(Value(value), key); }
  void setDouble(double value, std::string_view key) { setObject(Value(value), key); }
  void removeObjectForKey(std::string_view key);

  // Coercing getters: 0/false for an absent key.
  bool boolForKey(std::string_view key) const { return objectForKey(key).boolValue(); }
  std::int64_t integerForKey(std::string_view key) const {
    return objectForKey(key).integerValue();
  }
  double doubleForKey(std::string_view key) const { return objectForKey(key).doubleValue(); }
  // A string as it is, a number or boolean as its text; nullopt for anything else or absent.
  std::optional<std::string> stringForKey(std::string_view key) const;
  std::optional<Dictionary> dictionaryForKey(std::string_view key) const;
  std::optional<Array> arrayForKey(std::string_view key) const;

  // Both domains merged (persistent values win).
  Dictionary dictionaryRepresentation() const;
  // Only what is stored.
  Dictionary persistentDomain() const;

  // Writes the persistent domain when it changed since the last write. True when the file now
  // matches memory (including when there was nothing to write); false after a failed write,
  // which is logged and left pending for the next call.
  bool synchronize();

  const std::filesystem::path& filePath() const { return file_; }

  // For a reader that could use only part of what the file held (entries of the wrong type):
  // before the next write replaces the file, the file as it stands is kept beside it under the
  // name a file moved aside gets, so the user's original survives. Once per instance; a write
  // that cannot keep that copy does not happen.
  void keepOriginalBeforeNextWrite();

  // Saves by itself `seconds` after a change (negative: off, the default for explicit files).
  void setAutosaveDelay(double seconds);

 private:
  void loadLocked() const;
  void markChangedLocked();
  void autosaveLoop();

  const std::filesystem::path file_;
  const PropertyList::Format format_;

  // Guards the members from loaded_ to savedGeneration_.
  mutable std::mutex mutex_;
  mutable bool loaded_ = false;
  // Set when the file could not be read nor moved aside: writing would destroy it.
  mutable bool writeBlocked_ = false;
  bool keepOriginal_ = false;  // keep the file aside before the next write
  bool keptOriginal_ = false;
  mutable Dictionary persistent_;
  Dictionary registered_;
  std::uint64_t generation_ = 0;       // bumped by every change
  std::uint64_t savedGeneration_ = 0;  // the generation on disk

  std::mutex ioMutex_;  // one writer of the file at a time

  double autosaveDelay_ = -1;
  bool stopAutosave_ = false;
  std::condition_variable autosaveWake_;
  std::thread autosaveThread_;
};

}  // namespace tw
