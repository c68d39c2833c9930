#pragma once
// RACSubject: a signal driven by hand: every sendNext reaches all current subscribers, and
// sendCompleted ends them all (later subscribers complete at once). Used as the trigger that ends
// bindings (a new object shown, a cell reused). Keeps its subscribers for as long as it lives or
// until they end. Safe on any thread; values are delivered on the sending thread.

#include <memory>
#include <mutex>
#include <vector>

#include "platform/signals/RACSignal.h"

class RACSubject : public RACSignal {
  struct PrivateTag {};

 public:
  explicit RACSubject(PrivateTag) {}
  static std::shared_ptr<RACSubject> subject();

  void sendNext(const tw::Value& value);
  void sendCompleted();

  void subscribe(const std::shared_ptr<RACSubscriber>& subscriber) override;
  // Live subscribers; for tests and leak checks.
  std::size_t subscriberCount() const;

 private:
  void remove(const RACSubscriber* subscriber);

  // Guards completed_ and subscribers_.
  mutable std::mutex mutex_;
  bool completed_ = false;
  std::vector<std::shared_ptr<RACSubscriber>> subscribers_;
};
