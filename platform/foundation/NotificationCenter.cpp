#include "platform/foundation/NotificationCenter.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/WeakPointer.h"

namespace tw {

struct NotificationEntry {
  std::string name;                        // empty: every name
  const Object* senderIdentity = nullptr;  // null: any sender
  std::weak_ptr<Object> sender;
  std::shared_ptr<DispatchQueue> queue;
  NotificationBlock block;
  bool hasLifetime = false;
  std::weak_ptr<const void> lifetime;
  std::atomic<bool> removed{false};

  // A filtered sender or the observer's owner went away: the entry can never fire again.
  bool lapsed() const {
    return (senderIdentity && sender.expired()) || (hasLifetime && lifetime.expired());
  }
  bool matches(const Notification& n) const {
    return (name.empty() || name == n.name) &&
           (!senderIdentity || senderIdentity == n.object.get());
  }
};

namespace {

void run(const NotificationEntry& entry, const Notification& notification) {
  if (entry.removed.load(std::memory_order_acquire)) return;
  // Keeps the observer alive while its block runs.
  std::shared_ptr<const void> keepObserver;
  if (entry.hasLifetime && !(keepObserver = entry.lifetime.lock())) return;
  if (entry.senderIdentity && entry.sender.expired()) return;
  callGuarded("notification observer", [&] { entry.block(notification); });
}

}  // namespace

struct NotificationCenter::Impl {
  // Guards entries; observers' blocks run after it is released.
  mutable std::mutex mutex;
  std::vector<std::shared_ptr<NotificationEntry>> entries;  // in registration order

  // Under the lock; what is dropped is handed back so it dies after the lock is released
  // (an observer's block may own anything).
  void pruneLapsed(std::vector<std::shared_ptr<NotificationEntry>>& dropped) {
    std::erase_if(entries, [&](std::shared_ptr<NotificationEntry>& e) {
      if (!e->lapsed()) return false;
      e->removed.store(true, std::memory_order_release);
      dropped.push_back(std::move(e));
      return true;
    });
  }
};

// ----- tokens

void NotificationToken::remove() const {
  if (!entry_) return;
  if (auto center = center_.lock())
    center->removeObserver(*this);
  else
    entry_->removed.store(true, std::memory_order_release);
}

bool NotificationToken::isActive() const {
  return entry_ && !entry_->removed.load(std::memory_order_acquire);
}

// ----- centre

NotificationCenter::NotificationCenter() : impl_(std::make_unique<Impl>()) {}

NotificationCenter::~NotificationCenter() {
  for (auto& entry : impl_->entries) entry->removed.store(true, std::memory_order_release);
}

std::shared_ptr<NotificationCenter> NotificationCenter::defaultCenter() {
  // Never destroyed: objects released during static destruction may still remove observers.
  static auto* center = new std::shared_ptr<NotificationCenter>(create());
  return *center;
}

std::shared_ptr<NotificationCenter> NotificationCenter::create() {
  return std::shared_ptr<NotificationCenter>(new NotificationCenter());
}

NotificationToken NotificationCenter::addObserver(std::string name,
                                                  const std::shared_ptr<Object>& sender,
                                                  std::shared_ptr<DispatchQueue> queue,
                                                  NotificationBlock block,
                                                  std::weak_ptr<const void> observerLifetime) {
  TW_PARAMETER_ASSERT(block);
  auto entry = std::make_shared<NotificationEntry>();
  entry->name = std::move(name);
  entry->senderIdentity = sender.get();
  entry->sender = sender;
  entry->queue = std::move(queue);
  entry->block = std::move(block);
  entry->hasLifetime = !isEmptyWeak(observerLifetime);
  entry->lifetime = std::move(observerLifetime);

  NotificationToken token;
  token.entry_ = entry;
  token.center_ = weak_from_this();
  std::vector<std::shared_ptr<NotificationEntry>> dropped;
  std::lock_guard lock(impl_->mutex);
  impl_->pruneLapsed(dropped);
  impl_->entries.push_back(std::move(entry));
  return token;
}

void NotificationCenter::removeObserver(const NotificationToken& token) {
  if (!token.entry_) return;
  token.entry_->removed.store(true, std::memory_order_release);
  std::shared_ptr<NotificationEntry> dropped;
  std::lock_guard lock(impl_->mutex);
  auto& entries = impl_->entries;
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    if (*it == token.entry_) {
      dropped = std::move(*it);
      entries.erase(it);
      break;
    }
  }
}

void NotificationCenter::removeObserver(const std::shared_ptr<const void>& observer,
                                        std::string_view name, const Object* sender) {
  if (!observer) return;
  std::vector<std::shared_ptr<NotificationEntry>> dropped;
  std::lock_guard lock(impl_->mutex);
  std::erase_if(impl_->entries, [&](std::shared_ptr<NotificationEntry>& e) {
    const bool sameObserver = e->hasLifetime && sameOwner(e->lifetime, observer);
    if (!sameObserver) return false;
    if (!name.empty() && e->name != name) return false;
    if (sender && e->senderIdentity != sender) return false;
    e->removed.store(true, std::memory_order_release);
    dropped.push_back(std::move(e));
    return true;
  });
}

void NotificationCenter::post(const Notification& notification) {
  std::vector<std::shared_ptr<NotificationEntry>> matched;
  {
    std::vector<std::shared_ptr<NotificationEntry>> dropped;
    std::lock_guard lock(impl_->mutex);
    impl_->pruneLapsed(dropped);
    for (const auto& entry : impl_->entries)
      if (entry->matches(notification)) matched.push_back(entry);
  }
  // Queued deliveries share one copy of the notification.
  std::shared_ptr<const Notification> shared;
  for (const auto& entry : matched) {
    if (entry->removed.load(std::memory_order_acquire)) continue;
    if (entry->queue && !entry->queue->isCurrent()) {
      if (!shared) shared = std::make_shared<const Notification>(notification);
      entry->queue->async([entry, shared] { run(*entry, *shared); });
    } else {
      run(*entry, notification);
    }
  }
}

void NotificationCenter::post(std::string name, std::shared_ptr<Object> sender,
                              std::optional<Dictionary> userInfo) {
  post(Notification{std::move(name), std::move(sender), std::move(userInfo)});
}

std::size_t NotificationCenter::observerCount() const {
  std::vector<std::shared_ptr<NotificationEntry>> dropped;
  std::lock_guard lock(impl_->mutex);
  impl_->pruneLapsed(dropped);
  return impl_->entries.size();
}

}  // namespace tw
