#include "platform/signals/DeallocWatch.h"

#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/foundation/Exception.h"

namespace tw {

namespace detail {

struct DeallocRegistry {
  DeallocRegistry(const Object* object, std::weak_ptr<Object> owner)
      : object(object), owner(std::move(owner)) {}
  ~DeallocRegistry();
  DeallocRegistry(const DeallocRegistry&) = delete;
  DeallocRegistry& operator=(const DeallocRegistry&) = delete;

  const Object* const object;
  // Tells a registry whose object died (and whose teardown is still under way) from one made for
  // a new object that happens to live at the same address.
  const std::weak_ptr<Object> owner;
  // Guards blocks and nextId.
  std::mutex mutex;
  std::map<std::uint64_t, std::function<void()>> blocks;
  std::uint64_t nextId = 1;
};

}  // namespace detail

namespace {

struct DirectoryEntry {
  std::weak_ptr<detail::DeallocRegistry> registry;
  const detail::DeallocRegistry* raw = nullptr;
};

struct Directory {
  // Guards entries.
  std::mutex mutex;
  std::unordered_map<const Object*, DirectoryEntry> entries;
};

Directory& directory() {
  // Never destroyed: objects may still die while static destructors run at exit.
  static Directory* const instance = new Directory();
  return *instance;
}

std::shared_ptr<detail::DeallocRegistry> liveRegistryFor(const std::shared_ptr<Object>& object) {
  Directory& dir = directory();
  std::lock_guard lock(dir.mutex);
  auto it = dir.entries.find(object.get());
  if (it == dir.entries.end()) return nullptr;
  auto registry = it->second.registry.lock();
  if (registry && registry->owner.lock() == object) return registry;
  return nullptr;
}

}  // namespace

detail::DeallocRegistry::~DeallocRegistry() {
  {
    Directory& dir = directory();
    std::lock_guard lock(dir.mutex);
    auto it = dir.entries.find(object);
    if (it != dir.entries.end() && it->second.raw == this) dir.entries.erase(it);
  }
  std::map<std::uint64_t, std::function<void()>> due;
  {
    std::lock_guard lock(mutex);
    due.swap(blocks);
  }
  for (auto& entry : due) callGuarded("deallocation watch", entry.second);
}

const char* DeallocWatch::sentinelKey() { return "tw_deallocWatch"; }

DeallocWatch DeallocWatch::add(const std::shared_ptr<Object>& object, std::function<void()> block) {
  if (!object) return {};
  std::shared_ptr<detail::DeallocRegistry> registry = liveRegistryFor(object);
  if (!registry) {
    auto fresh = std::make_shared<detail::DeallocRegistry>(object.get(), object);
    // Registered outside the directory's lock: the observation machinery takes its own locks, and
    // a registry dying inside an object's teardown takes the directory's.
    Observation sentinel =
        object->observeScoped(sentinelKey(), 0, [fresh](const KeyValueChange&) {});
    bool won = false;
    {
      Directory& dir = directory();
      std::lock_guard lock(dir.mutex);
      DirectoryEntry& entry = dir.entries[object.get()];
      auto existing = entry.registry.lock();
      if (existing && existing->owner.lock() == object) {
        registry = std::move(existing);
      } else {
        entry.registry = fresh;
        entry.raw = fresh.get();
        registry = fresh;
        won = true;
      }
    }
    if (won) {
      sentinel.release();
    } else {
      sentinel.invalidate();
    }
  }
  std::lock_guard lock(registry->mutex);
  const std::uint64_t id = registry->nextId++;
  registry->blocks.emplace(id, std::move(block));
  return DeallocWatch(registry, id);
}

void DeallocWatch::cancel() const {
  auto registry = registry_.lock();
  if (!registry) return;
  std::function<void()> dropped;
  {
    std::lock_guard lock(registry->mutex);
    auto it = registry->blocks.find(id_);
    if (it == registry->blocks.end()) return;
    dropped = std::move(it->second);
    registry->blocks.erase(it);
  }
  // `dropped` goes out of scope here, outside the lock: its captures may own whole chains.
}

}  // namespace tw
