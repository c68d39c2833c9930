#include "platform/signals/RACSubscriptingAssignmentTrampoline.h"

#include "platform/signals/DeallocWatch.h"

RACSubscriptingAssignmentTrampoline::RACSubscriptingAssignmentTrampoline(
    const std::shared_ptr<tw::Object>& target, tw::Value nilValue)
    : target_(target), nilValue_(std::move(nilValue)) {}

void RACSubscriptingAssignmentTrampoline::set(const std::shared_ptr<RACSignal>& signal,
                                              std::string keyPath) const {
  bind(target_, nilValue_, signal, std::move(keyPath));
}

void RACSubscriptingAssignmentTrampoline::bind(const std::weak_ptr<tw::Object>& weakTarget,
                                               const tw::Value& nilValue,
                                               const std::shared_ptr<RACSignal>& signal,
                                               std::string keyPath) {
  auto target = weakTarget.lock();
  if (!target || !signal) return;
  auto subscriber = RACSubscriber::create(
      [weakTarget, nilValue, keyPath = std::move(keyPath)](const tw::Value& value) {
        if (auto t = weakTarget.lock())
          t->setValueForKeyPath(value.isNull() ? nilValue : value, keyPath);
      });
  // The target going away ends the binding (and with it the observation feeding it) at once
  // rather than at the signal's next value.
  tw::DeallocWatch targetGone =
      tw::DeallocWatch::add(target, [weakSub = std::weak_ptr<RACSubscriber>(subscriber)] {
        if (auto s = weakSub.lock()) s->dispose();
      });
  subscriber->addDisposer([targetGone] { targetGone.cancel(); });
  target.reset();
  signal->subscribe(subscriber);
}

RACSubscriptingAssignmentTrampoline::Slot& RACSubscriptingAssignmentTrampoline::Slot::operator=(
    const std::shared_ptr<RACSignal>& signal) {
  bind(target_, nilValue_, signal, keyPath_);
  return *this;
}
