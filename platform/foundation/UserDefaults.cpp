#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Thread.h"

#include <errno.h>

#include <chrono>
#include <cstdlib>

#include <fmt/format.h>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"

namespace tw {

namespace {

// What a property list can hold; the first offending place is reported.
bool isPropertyListValue(const Value& v) {
  auto holdsNul = [](std::string_view s) { return s.find('\0') != std::string_view::npos; };
  switch (v.type()) {
    case Value::Type::Null:
    case Value::Type::Object:
      return false;
    case Value::Type::String:
      return !holdsNul(*v.string());
    case Value::Type::Array:
      for (const Value& e : *v.array())
        if (!isPropertyListValue(e)) return false;
      return true;
    case Value::Type::Dictionary:
      for (const auto& [k, e] : *v.dictionary())
        if (holdsNul(k) || !isPropertyListValue(e)) return false;
      return true;
    default:
      return true;
  }
}

constexpr double kStandardAutosaveDelay = 1.0;

}  // namespace

UserDefaults& UserDefaults::standard() {
  // Never destroyed: other static destructors may still read preferences during exit.
  static UserDefaults* shared = [] {
    auto* d = new UserDefaults(paths::applicationConfigDirectory() /
                               (Bundle::main().bundleIdentifier() + ".plist"));
    d->setAutosaveDelay(kStandardAutosaveDelay);
    std::atexit([] { UserDefaults::standard().synchronize(); });
    return d;
  }();
  return *shared;
}

UserDefaults::UserDefaults(std::filesystem::path file, PropertyList::Format format)
    : file_(std::move(file)), format_(format) {}

UserDefaults::~UserDefaults() {
  {
    std::lock_guard lock(mutex_);
    stopAutosave_ = true;
  }
  autosaveWake_.notify_all();
  if (autosaveThread_.joinable()) autosaveThread_.join();
  synchronize();
}

void UserDefaults::loadLocked() const {
  if (loaded_) return;
  loaded_ = true;
  int err = 0;
  auto bytes = paths::readFile(file_, &err);
  if (!bytes) {
    if (err == ENOENT) return;  // no preferences stored yet
  }
  std::string problem;
  if (!bytes) {
    problem = bytes.error();
  } else {
    auto value = PropertyList::read(*bytes);
    if (!value)
      problem = value.error();
    else if (!value->dictionary())
      problem = "the property list is not a dictionary";
    else
      persistent_ = *value->dictionary();
  }
  if (problem.empty()) return;

  auto moved = paths::moveAside(file_);
  if (moved) {
    log(LogLevel::Error,
        fmt::format("UserDefaults: cannot read {} ({}); moved it to {} and going on with defaults",
                    file_.string(), problem, moved->string()));
  } else {
    writeBlocked_ = true;
    log(LogLevel::Error,
        fmt::format("UserDefaults: cannot read {} ({}) nor move it aside ({}); going on with "
                    "defaults and leaving the file untouched",
                    file_.string(), problem, moved.error()));
  }
}

void UserDefaults::markChangedLocked() {
  ++generation_;
  if (autosaveDelay_ >= 0) autosaveWake_.notify_all();
}

void UserDefaults::registerDefaults(const Dictionary& defaults) {
  std::lock_guard lock(mutex_);
  for (const auto& [k, v] : defaults) registered_.insert_or_assign(k, v);
}

Value UserDefaults::objectForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  loadLocked();
  if (auto it = persistent_.find(key); it != persistent_.end()) return it->second;
  if (auto it = registered_.find(key); it != registered_.end()) return it->second;
  return Value();
}

void UserDefaults::setObject(const Value& value, std::string_view key) {
  if (value.isNull()) {
    removeObjectForKey(key);
    return;
  }
  if (!isPropertyListValue(value) || key.find('\0') != std::string_view::npos)
    raise(NSInvalidArgumentException,
          fmt::format("Attempt to insert non-property list object {} for key {}",
                      value.description(), key));
  std::lock_guard lock(mutex_);
  loadLocked();
  persistent_.insert_or_assign(std::string(key), value);
  markChangedLocked();
}

void UserDefaults::removeObjectForKey(std::string_view key) {
  std::lock_guard lock(mutex_);
  loadLocked();
  auto it = persistent_.find(key);
  if (it == persistent_.end()) return;
  persistent_.erase(it);
  markChangedLocked();
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
  Value v = objectForKey(key);
  if (const std::string* s = v.string()) return *s;
  if (v.isNumber() || v.isBool()) return v.description();
  return std::nullopt;
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
  Value v = objectForKey(key);
  if (const Dictionary* d = v.dictionary()) return *d;
  return std::nullopt;
}

std::optional<Array> UserDefaults::arrayForKey(std::string_view key) const {
  Value v = objectForKey(key);
  if (const Array* a = v.array()) return *a;
  return std::nullopt;
}

Dictionary UserDefaults::dictionaryRepresentation() const {
  std::lock_guard lock(mutex_);
  loadLocked();
  Dictionary merged = registered_;
  for (const auto& [k, v] : persistent_) merged.insert_or_assign(k, v);
  return merged;
}

Dictionary UserDefaults::persistentDomain() const {
  std::lock_guard lock(mutex_);
  loadLocked();
  return persistent_;
}

bool UserDefaults::synchronize() {
  // One writer at a time; readers and setters are held up only for the snapshot, not the I/O.
  std::lock_guard io(ioMutex_);
  Dictionary snapshot;
  std::uint64_t generation;
  bool keepOriginal = false;
  {
    std::lock_guard lock(mutex_);
    if (!loaded_ || generation_ == savedGeneration_) return true;
    if (writeBlocked_) {
      log(LogLevel::Error, fmt::format("UserDefaults: not writing {}: its unreadable content "
                                       "could not be moved aside",
                                       file_.string()));
      return false;
    }
    snapshot = persistent_;
    generation = generation_;
    keepOriginal = keepOriginal_ && !keptOriginal_;
  }
  if (keepOriginal) {
    auto kept = paths::keepAside(file_);
    int err = 0;
    if (!kept && !paths::readFile(file_, &err) && err == ENOENT) {
      // Nothing left to keep.
    } else if (!kept) {
      log(LogLevel::Error,
          fmt::format("UserDefaults: not rewriting {}: {}", file_.string(), kept.error()));
      return false;
    } else {
      log(LogLevel::Notice, fmt::format("UserDefaults: kept a copy of {} as {} before rewriting it",
                                        file_.string(), kept->string()));
    }
    std::lock_guard lock(mutex_);
    keptOriginal_ = true;
  }
  auto bytes = PropertyList::write(Value(std::move(snapshot)), format_);
  Status written =
      bytes ? paths::writeFileAtomically(file_, *bytes) : Status::failure(bytes.error());
  if (!written) {
    log(LogLevel::Error,
        fmt::format("UserDefaults: cannot write {}: {}", file_.string(), written.error()));
    return false;
  }
  std::lock_guard lock(mutex_);
  if (generation > savedGeneration_) savedGeneration_ = generation;
  return true;
}

void UserDefaults::keepOriginalBeforeNextWrite() {
  std::lock_guard lock(mutex_);
  keepOriginal_ = true;
}

void UserDefaults::setAutosaveDelay(double seconds) {
  std::lock_guard lock(mutex_);
  autosaveDelay_ = seconds;
  if (seconds >= 0 && !autosaveThread_.joinable())
    autosaveThread_ = startThread("tw.autosave", [this] { autosaveLoop(); });
  autosaveWake_.notify_all();
}

void UserDefaults::autosaveLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    autosaveWake_.wait(lock, [this] {
      return stopAutosave_ || (autosaveDelay_ >= 0 && generation_ != savedGeneration_);
    });
    if (stopAutosave_) return;
    // Let a burst of changes settle, then write them together.
    auto delay = std::chrono::duration<double>(autosaveDelay_);
    autosaveWake_.wait_for(lock, delay, [this] { return stopAutosave_; });
    if (stopAutosave_) return;
    lock.unlock();
    bool ok = synchronize();
    lock.lock();
    if (!ok) {
      // Do not spin on a disk that keeps failing; try again after a longer pause.
      autosaveWake_.wait_for(lock, std::chrono::seconds(30), [this] { return stopAutosave_; });
      if (stopAutosave_) return;
    }
  }
}

}  // namespace tw
