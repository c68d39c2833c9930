#pragma once
// RACSignal: a stream of tw::Values that ends with completion or goes on for as long as its source
// lives. View models publish their state as signals and screens bind to them.
//
// A signal is a recipe: each subscription runs it afresh (a key-path signal registers a new
// observation per subscriber and sends the current value first). Values are delivered
// synchronously on the thread where the change happens; there are no schedulers. Subscriptions
// are owned by their sources and are never disposed by callers; operators such as takeUntil end
// theirs and tear down what fed them.
//
// Signals hold the objects they observe weakly, so a view model may keep signals built on itself.
// Blocks given to operators and subscriptions are kept by the source for the subscription's life:
// capture the objects they act on weakly. Signal objects are immutable; any thread may subscribe.

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/signals/RACSubscriber.h"

class RACSignal : public std::enable_shared_from_this<RACSignal> {
 public:
  using NextBlock = RACSubscriber::NextBlock;
  using CompletedBlock = RACSubscriber::CompletedBlock;
  using SubscribeBlock = std::function<void(const std::shared_ptr<RACSubscriber>&)>;
  using MapBlock = std::function<tw::Value(const tw::Value&)>;
  using ReduceBlock2 = std::function<tw::Value(const tw::Value&, const tw::Value&)>;
  using ReduceBlock3 =
      std::function<tw::Value(const tw::Value&, const tw::Value&, const tw::Value&)>;

  virtual ~RACSignal() = default;
  RACSignal(const RACSignal&) = delete;
  RACSignal& operator=(const RACSignal&) = delete;

  // A signal that runs `didSubscribe` for every new subscriber; the block feeds the subscriber
  // (now or later) and registers disposers for anything it sets up.
  static std::shared_ptr<RACSignal> createSignal(SubscribeBlock didSubscribe);
  // Sends `value` once and completes (return:).
  static std::shared_ptr<RACSignal> returnValue(tw::Value value);
  // Completes at once.
  static std::shared_ptr<RACSignal> empty();
  // Once every signal has sent, sends an array of the latest value of each (in the given order)
  // each time any of them sends; completes when all have completed.
  static std::shared_ptr<RACSignal> combineLatest(std::vector<std::shared_ptr<RACSignal>> signals);
  // The same, reduced: exactly two (or three) signals, one block parameter per signal in order.
  static std::shared_ptr<RACSignal> combineLatest(std::vector<std::shared_ptr<RACSignal>> signals,
                                                  ReduceBlock2 reduce);
  static std::shared_ptr<RACSignal> combineLatest(std::vector<std::shared_ptr<RACSignal>> signals,
                                                  ReduceBlock3 reduce);

  // Starts a subscription feeding `subscriber`.
  virtual void subscribe(const std::shared_ptr<RACSubscriber>& subscriber);
  void subscribeNext(NextBlock next);
  void subscribeNext(NextBlock next, CompletedBlock completed);

  // Each value replaced by the block's result.
  std::shared_ptr<RACSignal> map(MapBlock block);
  // Each value replaced by `value`.
  std::shared_ptr<RACSignal> mapReplace(tw::Value value);
  // Values pass until `trigger` sends or completes; then this completes and stops listening to
  // both.
  std::shared_ptr<RACSignal> takeUntil(std::shared_ptr<RACSignal> trigger);
  // Drops a value equal (tw::Value ==) to the one sent just before it.
  std::shared_ptr<RACSignal> distinctUntilChanged();
  // Drops the first `count` values.
  std::shared_ptr<RACSignal> skip(std::size_t count);

 protected:
  RACSignal() = default;
  explicit RACSignal(SubscribeBlock didSubscribe) : didSubscribe_(std::move(didSubscribe)) {}

 private:
  SubscribeBlock didSubscribe_;
};
