#include "platform/signals/RACSubscriber.h"

RACSubscriber::RACSubscriber(PrivateTag, NextBlock next, CompletedBlock completed)
    : blocks_(std::make_shared<const Blocks>(Blocks{std::move(next), std::move(completed)})) {}

std::shared_ptr<RACSubscriber> RACSubscriber::create(NextBlock next, CompletedBlock completed) {
  return std::make_shared<RACSubscriber>(PrivateTag{}, std::move(next), std::move(completed));
}

void RACSubscriber::sendNext(const tw::Value& value) {
  std::shared_ptr<const Blocks> blocks;
  {
    std::lock_guard lock(mutex_);
    if (ended_) return;
    blocks = blocks_;
  }
  if (blocks->next) blocks->next(value);
}

std::shared_ptr<const RACSubscriber::Blocks> RACSubscriber::end(std::vector<Disposer>& disposers) {
  std::lock_guard lock(mutex_);
  if (ended_) return nullptr;
  ended_ = true;
  disposers.swap(disposers_);
  return std::move(blocks_);
}

void RACSubscriber::sendCompleted() {
  std::vector<Disposer> disposers;
  auto blocks = end(disposers);
  if (!blocks) return;
  if (blocks->completed) blocks->completed();
  for (auto& disposer : disposers) disposer();
}

void RACSubscriber::dispose() {
  std::vector<Disposer> disposers;
  auto blocks = end(disposers);
  if (!blocks) return;
  for (auto& disposer : disposers) disposer();
}

bool RACSubscriber::isDisposed() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

void RACSubscriber::addDisposer(Disposer disposer) {
  {
    std::lock_guard lock(mutex_);
    if (!ended_) {
      disposers_.push_back(std::move(disposer));
      return;
    }
  }
  disposer();
}
