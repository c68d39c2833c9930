#include "kits/analytics/ORVTimer.h"

#include <cmath>

std::shared_ptr<ORVTimer> ORVTimer::create(double timeInterval,
                                           std::shared_ptr<tw::OperationQueue> queue,
                                           std::string timerIdentifier,
                                           std::function<void()> block) {
  std::shared_ptr<ORVTimer> timer(
      new ORVTimer(timeInterval, std::move(queue), std::move(timerIdentifier), std::move(block)));
  timer->scheduleDispatchTimer();
  return timer;
}

ORVTimer::ORVTimer(double timeInterval, std::shared_ptr<tw::OperationQueue> queue,
                   std::string identifier, std::function<void()> block)
    : timeInterval_(std::isfinite(timeInterval) ? std::min(timeInterval, kMaximumInterval) : 0.0),
      queue_(std::move(queue)),
      timerIdentifier_(std::move(identifier)),
      timerBlock_(std::move(block)) {}

ORVTimer::~ORVTimer() {
  std::lock_guard lock(mutex_);
  pending_.cancel();
}

void ORVTimer::scheduleDispatchTimer() {
  if (!(timeInterval_ > 0)) return;
  std::weak_ptr<ORVTimer> weak = weak_from_this();
  std::lock_guard lock(mutex_);
  pending_ = tw::DispatchQueue::global()->after(timeInterval_, [weak] {
    auto self = weak.lock();
    if (!self) return;
    self->executeBlock();
    self->scheduleDispatchTimer();
  });
}

void ORVTimer::executeBlock() {
  if (queue_ && timerBlock_) queue_->addOperationWithBlock(timerBlock_);
}

ORVActivity::ORVActivity(std::uint64_t options, std::string reason)
    : options_(options), reason_(std::move(reason)) {
  token_ = tw::TerminationActivities::shared().begin(options_, reason_);
}

ORVActivity::~ORVActivity() { end(); }

std::shared_ptr<ORVActivity> ORVActivity::beginActivity(const std::string& reason,
                                                        std::uint64_t options) {
  return std::shared_ptr<ORVActivity>(new ORVActivity(options, reason));
}

void ORVActivity::performActivity(const std::string& reason, std::uint64_t options,
                                  const std::function<void()>& block) {
  auto activity = beginActivity(reason, options);
  if (block) block();
  activity->end();
}

void ORVActivity::end() {
  if (!active_.exchange(false)) return;
  tw::TerminationActivities::shared().end(token_);
}

std::shared_ptr<ORVActivityOperation> ORVActivityOperation::operationByStartingActivityName(
    const std::string& name, std::uint64_t options) {
  auto op = std::make_shared<ORVActivityOperation>();
  op->startActivityWithName(name, options);
  return op;
}

void ORVActivityOperation::startActivityWithName(const std::string& name, std::uint64_t options) {
  activity_ = ORVActivity::beginActivity(name, options);
}

void ORVActivityOperation::main() {
  if (activity_) activity_->end();
}
