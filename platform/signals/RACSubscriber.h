#pragma once
// RACSubscriber: the receiving end of one subscription to a RACSignal: a block per value and one
// at completion. A subscriber is owned by its source (the observation, subject or operator that
// feeds it), so a subscription lives as long as its source and nobody has to dispose it.
//
// Operators end subscriptions early (takeUntil, a binding whose target went away): dispose()
// drops the blocks and runs the disposers its sources registered, which tear down what feeds it.
// After completion or disposal nothing more is delivered. Safe on any thread; blocks run on the
// sending thread, never under a lock of ours.

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/foundation/Value.h"

class RACSubscriber {
  struct PrivateTag {};

 public:
  using NextBlock = std::function<void(const tw::Value&)>;
  using CompletedBlock = std::function<void()>;
  using Disposer = std::function<void()>;

  RACSubscriber(PrivateTag, NextBlock next, CompletedBlock completed);
  RACSubscriber(const RACSubscriber&) = delete;
  RACSubscriber& operator=(const RACSubscriber&) = delete;

  static std::shared_ptr<RACSubscriber> create(NextBlock next, CompletedBlock completed = {});

  void sendNext(const tw::Value& value);
  // Delivers completion once, then disposes.
  void sendCompleted();
  // Ends without completion: no more deliveries, blocks released, disposers run (once).
  void dispose();
  // Completed or disposed.
  bool isDisposed() const;
  // Registers teardown for when this subscription ends; runs it at once if it already has.
  void addDisposer(Disposer disposer);

 private:
  struct Blocks {
    NextBlock next;
    CompletedBlock completed;
  };
  // Ends the subscription; returns the blocks to finish with, or null when it had already ended.
  std::shared_ptr<const Blocks> end(std::vector<Disposer>& disposers);

  // Guards ended_, blocks_ and disposers_.
  mutable std::mutex mutex_;
  bool ended_ = false;
  std::shared_ptr<const Blocks> blocks_;
  std::vector<Disposer> disposers_;
};
