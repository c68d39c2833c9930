#include "platform/signals/RACSubject.h"

#include <algorithm>

std::shared_ptr<RACSubject> RACSubject::subject() {
  return std::make_shared<RACSubject>(PrivateTag{});
}

void RACSubject::subscribe(const std::shared_ptr<RACSubscriber>& subscriber) {
  bool alreadyCompleted = false;
  {
    std::lock_guard lock(mutex_);
    if (completed_) {
      alreadyCompleted = true;
    } else {
      subscribers_.push_back(subscriber);
    }
  }
  if (alreadyCompleted) {
    subscriber->sendCompleted();
    return;
  }
  // A subscription ended elsewhere (takeUntil, a binding's target gone) leaves the list at once,
  // so a long-lived trigger does not collect dead subscribers.
  std::weak_ptr<RACSignal> weakSelf = weak_from_this();
  const RACSubscriber* raw = subscriber.get();
  subscriber->addDisposer([weakSelf, raw] {
    if (auto self = weakSelf.lock()) static_cast<RACSubject*>(self.get())->remove(raw);
  });
}

void RACSubject::remove(const RACSubscriber* subscriber) {
  std::shared_ptr<RACSubscriber> removed;  // released outside the lock
  std::lock_guard lock(mutex_);
  auto it = std::find_if(subscribers_.begin(), subscribers_.end(),
                         [subscriber](const auto& s) { return s.get() == subscriber; });
  if (it == subscribers_.end()) return;
  removed = std::move(*it);
  subscribers_.erase(it);
}

void RACSubject::sendNext(const tw::Value& value) {
  std::vector<std::shared_ptr<RACSubscriber>> current;
  {
    std::lock_guard lock(mutex_);
    if (completed_) return;
    current = subscribers_;
  }
  for (const auto& subscriber : current) subscriber->sendNext(value);
}

void RACSubject::sendCompleted() {
  std::vector<std::shared_ptr<RACSubscriber>> current;
  {
    std::lock_guard lock(mutex_);
    if (completed_) return;
    completed_ = true;
    current.swap(subscribers_);
  }
  for (const auto& subscriber : current) subscriber->sendCompleted();
}

std::size_t RACSubject::subscriberCount() const {
  std::lock_guard lock(mutex_);
  return subscribers_.size();
}
