#include "kits/platform/MVXUserDefaults.h"

#include <fmt/format.h>

#include <cerrno>
#include <system_error>

#include "kits/platform/TSYAppInfo.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"

namespace fs = std::filesystem;

namespace {

// Guards gShared.
std::mutex gSharedMutex;
std::shared_ptr<MVXUserDefaults> gShared;

void logLine(const std::string& message) { tw::log(message); }

}  // namespace

std::shared_ptr<MVXUserDefaults> MVXUserDefaults::standardUserDefaults() {
  std::lock_guard lock(gSharedMutex);
  if (!gShared) gShared = std::make_shared<MVXUserDefaults>();
  return gShared;
}

void MVXUserDefaults::resetStandardUserDefaultsForTesting() {
  std::lock_guard lock(gSharedMutex);
  gShared.reset();
}

MVXUserDefaults::MVXUserDefaults() {
  directoryURL_ = generateDirectoryURL();
  fileURL_ = directoryURL_ / "MVXUserDefaults.plist";
  auto loaded = loadDefaults();
  std::lock_guard lock(accessMutex_);
  persisted_ = loaded.value_or(tw::Dictionary{});
  data_ = persisted_;
}

fs::path MVXUserDefaults::generateDirectoryURLForBaseURL(const fs::path& base,
                                                         const std::string& identifier) {
  fs::path dir = base;
  if (!identifier.empty()) dir /= identifier;
  return dir / "com.morvex";
}

fs::path MVXUserDefaults::generateDirectoryURL() const {
  // The user's application-support folder is the XDG data home on Linux.
  return generateDirectoryURLForBaseURL(tw::paths::dataHome(), getEscapedAppBundleIdentifier());
}

std::string MVXUserDefaults::getEscapedAppBundleIdentifier() const {
  return TSYGetEscapedBundleIdentifier();
}

tw::Value MVXUserDefaults::objectForKey(std::string_view key) const {
  std::lock_guard lock(accessMutex_);
  auto it = data_.find(key);
  return it == data_.end() ? tw::Value() : it->second;
}

std::optional<std::string> MVXUserDefaults::stringForKey(std::string_view key) const {
  tw::Value v = objectForKey(key);
  if (const std::string* s = v.string()) return *s;
  return std::nullopt;
}

bool MVXUserDefaults::boolForKey(std::string_view key) const {
  tw::Value v = objectForKey(key);
  return v.isNumber() || v.isBool() ? v.boolValue() : false;
}

std::int64_t MVXUserDefaults::integerForKey(std::string_view key) const {
  tw::Value v = objectForKey(key);
  return v.isNumber() || v.isBool() ? v.integerValue() : 0;
}

void MVXUserDefaults::setObject(const tw::Value& value, std::string_view key) {
  std::lock_guard lock(accessMutex_);
  if (value.isNull()) {
    if (auto it = data_.find(key); it != data_.end()) data_.erase(it);
  } else {
    data_.insert_or_assign(std::string(key), value);
  }
}

void MVXUserDefaults::setString(std::optional<std::string> value, std::string_view key) {
  setObject(value ? tw::Value(std::move(*value)) : tw::Value(), key);
}

void MVXUserDefaults::setBool(bool value, std::string_view key) {
  setObject(tw::Value(value), key);
}

void MVXUserDefaults::setInteger(std::int64_t value, std::string_view key) {
  setObject(tw::Value(static_cast<long long>(value)), key);
}

void MVXUserDefaults::removeObjectForKey(std::string_view key) { setObject(tw::Value(), key); }

void MVXUserDefaults::removeAllObjects() {
  std::lock_guard lock(accessMutex_);
  data_.clear();
}

tw::Dictionary MVXUserDefaults::dictionaryRepresentation() const {
  std::lock_guard lock(accessMutex_);
  return data_;
}

tw::Dictionary MVXUserDefaults::persistedDataDictionary() const {
  std::lock_guard lock(accessMutex_);
  return persisted_;
}

bool MVXUserDefaults::synchronizeWroteToDisk() const {
  std::lock_guard lock(accessMutex_);
  return synchronizeWroteToDisk_;
}

void MVXUserDefaults::synchronize() {
  // The file lock spans snapshot, write and bookkeeping: two threads synchronising at once can
  // then never land an older snapshot after a newer one. The access lock is only taken inside.
  std::lock_guard io(ioMutex_);
  tw::Dictionary snapshot;
  {
    std::lock_guard lock(accessMutex_);
    bool changed = !(tw::Value(persisted_) == tw::Value(data_));
    synchronizeWroteToDisk_ = changed;
    if (!changed) return;
    snapshot = data_;
  }

  std::error_code ec;
  if (!fs::exists(directoryURL_, ec)) {
    if (auto made = tw::paths::createDirectories(directoryURL_); !made)
      logLine(fmt::format("[Tessaly:UserDefaults] failed to create directory with error:{}",
                          made.error()));
  }
  bool written = false;
  auto xml = tw::PropertyList::writeXML(tw::Value(snapshot));
  if (xml) written = static_cast<bool>(tw::paths::writeFileAtomically(fileURL_, *xml));
  if (!written)
    logLine(fmt::format("[Tessaly:UserDefaults] Unable to open file for writing at path {}",
                        fileURL_.string()));

  // Only what reached the file counts as persisted: a value set during the write, or a write
  // that failed, leaves the store changed, so the next synchronize writes it.
  if (written) {
    std::lock_guard lock(accessMutex_);
    persisted_ = std::move(snapshot);
  }
}

std::optional<tw::Dictionary> MVXUserDefaults::loadDefaults() {
  std::lock_guard io(ioMutex_);
  std::error_code ec;
  auto status = fs::symlink_status(fileURL_, ec);
  if (ec || !fs::exists(status)) return std::nullopt;
  if (fs::is_directory(status)) {
    logLine(
        "[Tessaly:UserDefaults] found directory where file expected. Removing conflicting "
        "directory");
    // Moved out of the way rather than deleted: whatever it holds is not ours to destroy.
    if (auto moved = tw::paths::moveAside(fileURL_); !moved)
      logLine(
          fmt::format("[Tessaly:UserDefaults] error removing conflicting directory: {{error = "
                      "{}}}",
                      moved.error()));
    return std::nullopt;
  }
  std::optional<tw::Dictionary> result;
  int error = 0;
  auto bytes = tw::paths::readFile(fileURL_, &error);
  if (!bytes && error == ENOENT) return std::nullopt;  // gone since the look above
  if (bytes) {
    auto value = tw::PropertyList::read(*bytes);
    if (value && value->dictionary()) result = *value->dictionary();
  }
  if (!result) {
    logLine("[Tessaly:UserDefaults] failed to read existing UserDefaults file" +
            (bytes ? std::string() : ": " + bytes.error()));
    // Kept for inspection; the next changed synchronize writes a fresh file in its place.
    if (auto moved = tw::paths::moveAside(fileURL_); !moved)
      logLine(fmt::format("[Tessaly:UserDefaults] {}", moved.error()));
  }
  return result;
}

void MVXUserDefaults::migrateFromNSUserDefaults(const std::vector<std::string>& keys) {
  tw::UserDefaults& standard = tw::UserDefaults::standard();
  bool copied = false;
  for (const auto& key : keys) {
    tw::Value v = standard.objectForKey(key);
    if (v.isNull()) continue;
    setObject(v, key);
    copied = true;
  }
  if (!copied) return;
  synchronize();
  for (const auto& key : keys) standard.removeObjectForKey(key);
  standard.synchronize();
}

tw::Value MVXUserDefaults::objectForKeyByMigratingFromNSUserDefaults(std::string_view key) {
  if (key.empty()) return {};
  if (tw::Value v = objectForKey(key); !v.isNull()) return v;
  tw::UserDefaults& standard = tw::UserDefaults::standard();
  tw::Value v = standard.objectForKey(key);
  if (v.isNull()) return {};
  setObject(v, key);
  synchronize();
  standard.removeObjectForKey(key);
  standard.synchronize();
  return v;
}
