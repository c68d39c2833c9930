#pragma once
// A thread-safe table of interface resources (storyboards, nibs) that the application registers
// by bundle and name, for the loaders to look up. Look-ups hand out a copy, so whatever the entry
// builds runs outside the lock (it may load further resources). Any thread.

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/foundation/Bundle.h"

template <class Entry>
class BTBundleResourceRegistry {
 public:
  // nullptr stands for the main bundle.
  void add(std::string_view name, Entry entry, const tw::Bundle* bundle) {
    auto key = keyFor(name, bundle);
    std::lock_guard lock(mutex_);
    entries_.insert_or_assign(std::move(key), std::move(entry));
  }
  void remove(std::string_view name, const tw::Bundle* bundle) {
    auto key = keyFor(name, bundle);
    std::lock_guard lock(mutex_);
    entries_.erase(key);
  }
  std::optional<Entry> find(std::string_view name, const tw::Bundle* bundle) const {
    auto key = keyFor(name, bundle);
    std::lock_guard lock(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) return std::nullopt;
    return it->second;
  }

 private:
  // (bundle identifier, resource name)
  using Key = std::pair<std::string, std::string>;
  static Key keyFor(std::string_view name, const tw::Bundle* bundle) {
    const tw::Bundle& b = bundle ? *bundle : tw::Bundle::main();
    return {b.bundleIdentifier(), std::string(name)};
  }

  mutable std::mutex mutex_;
  std::map<Key, Entry> entries_;
};
