#include "platform/signals/RACSignal.h"

#include <atomic>
#include <mutex>
#include <optional>

#include "platform/foundation/Exception.h"

namespace {

// A subscriber feeding `downstream` whose life is bound to it: when the downstream subscription
// ends, so does this one (and with it whatever feeds it). Held weakly by the downstream side, so
// the two never keep each other alive.
std::shared_ptr<RACSubscriber> linkedTo(const std::shared_ptr<RACSubscriber>& downstream,
                                        RACSubscriber::NextBlock next,
                                        RACSubscriber::CompletedBlock completed) {
  auto upstream = RACSubscriber::create(std::move(next), std::move(completed));
  downstream->addDisposer([weakUp = std::weak_ptr<RACSubscriber>(upstream)] {
    if (auto up = weakUp.lock()) up->dispose();
  });
  return upstream;
}

RACSubscriber::CompletedBlock completes(const std::shared_ptr<RACSubscriber>& downstream) {
  return [downstream] { downstream->sendCompleted(); };
}

}  // namespace

std::shared_ptr<RACSignal> RACSignal::createSignal(SubscribeBlock didSubscribe) {
  return std::shared_ptr<RACSignal>(new RACSignal(std::move(didSubscribe)));
}

std::shared_ptr<RACSignal> RACSignal::returnValue(tw::Value value) {
  return createSignal([value = std::move(value)](const std::shared_ptr<RACSubscriber>& subscriber) {
    subscriber->sendNext(value);
    subscriber->sendCompleted();
  });
}

std::shared_ptr<RACSignal> RACSignal::empty() {
  return createSignal(
      [](const std::shared_ptr<RACSubscriber>& subscriber) { subscriber->sendCompleted(); });
}

void RACSignal::subscribe(const std::shared_ptr<RACSubscriber>& subscriber) {
  if (subscriber->isDisposed()) return;
  if (didSubscribe_) didSubscribe_(subscriber);
}

void RACSignal::subscribeNext(NextBlock next) { subscribe(RACSubscriber::create(std::move(next))); }

void RACSignal::subscribeNext(NextBlock next, CompletedBlock completed) {
  subscribe(RACSubscriber::create(std::move(next), std::move(completed)));
}

std::shared_ptr<RACSignal> RACSignal::map(MapBlock block) {
  return createSignal([source = shared_from_this(),
                       block = std::move(block)](const std::shared_ptr<RACSubscriber>& down) {
    source->subscribe(linkedTo(
        down, [down, block](const tw::Value& value) { down->sendNext(block(value)); },
        completes(down)));
  });
}

std::shared_ptr<RACSignal> RACSignal::mapReplace(tw::Value value) {
  return map([value = std::move(value)](const tw::Value&) { return value; });
}

std::shared_ptr<RACSignal> RACSignal::takeUntil(std::shared_ptr<RACSignal> trigger) {
  TW_PARAMETER_ASSERT(trigger != nullptr);
  return createSignal([source = shared_from_this(),
                       trigger = std::move(trigger)](const std::shared_ptr<RACSubscriber>& down) {
    // The trigger first, so one that has already fired ends this before any value passes.
    trigger->subscribe(linkedTo(
        down, [down](const tw::Value&) { down->sendCompleted(); }, completes(down)));
    if (down->isDisposed()) return;
    source->subscribe(linkedTo(
        down, [down](const tw::Value& value) { down->sendNext(value); }, completes(down)));
  });
}

std::shared_ptr<RACSignal> RACSignal::distinctUntilChanged() {
  return createSignal([source = shared_from_this()](const std::shared_ptr<RACSubscriber>& down) {
    struct Last {
      // Guards value.
      std::mutex mutex;
      std::optional<tw::Value> value;
    };
    auto last = std::make_shared<Last>();
    source->subscribe(linkedTo(
        down,
        [down, last](const tw::Value& value) {
          {
            std::lock_guard lock(last->mutex);
            if (last->value && *last->value == value) return;
            last->value = value;
          }
          down->sendNext(value);
        },
        completes(down)));
  });
}

std::shared_ptr<RACSignal> RACSignal::skip(std::size_t count) {
  return createSignal(
      [source = shared_from_this(), count](const std::shared_ptr<RACSubscriber>& down) {
        auto skipped = std::make_shared<std::atomic<std::size_t>>(0);
        source->subscribe(linkedTo(
            down,
            [down, skipped, count](const tw::Value& value) {
              if (skipped->load() < count && skipped->fetch_add(1) < count) return;
              down->sendNext(value);
            },
            completes(down)));
      });
}

std::shared_ptr<RACSignal> RACSignal::combineLatest(
    std::vector<std::shared_ptr<RACSignal>> signals) {
  for (const auto& signal : signals) TW_PARAMETER_ASSERT(signal != nullptr);
  return createSignal([signals = std::move(signals)](const std::shared_ptr<RACSubscriber>& down) {
    if (signals.empty()) {
      down->sendCompleted();
      return;
    }
    struct Latest {
      // Guards values and both counts: the sources send on any threads.
      std::mutex mutex;
      std::vector<std::optional<tw::Value>> values;
      std::size_t haveSent = 0;
      std::size_t completed = 0;
    };
    auto latest = std::make_shared<Latest>();
    latest->values.resize(signals.size());
    const std::size_t count = signals.size();
    for (std::size_t i = 0; i < count && !down->isDisposed(); ++i) {
      signals[i]->subscribe(linkedTo(
          down,
          [down, latest, i, count](const tw::Value& value) {
            tw::Array combined;
            {
              std::lock_guard lock(latest->mutex);
              if (!latest->values[i]) ++latest->haveSent;
              latest->values[i] = value;
              if (latest->haveSent < count) return;
              combined.reserve(count);
              for (const auto& v : latest->values) combined.push_back(*v);
            }
            down->sendNext(tw::Value(std::move(combined)));
          },
          [down, latest, count] {
            {
              std::lock_guard lock(latest->mutex);
              if (++latest->completed < count) return;
            }
            down->sendCompleted();
          }));
    }
  });
}

std::shared_ptr<RACSignal> RACSignal::combineLatest(std::vector<std::shared_ptr<RACSignal>> signals,
                                                    ReduceBlock2 reduce) {
  TW_PARAMETER_ASSERT(signals.size() == 2);
  return combineLatest(std::move(signals))->map([reduce = std::move(reduce)](const tw::Value& v) {
    return reduce(v.at(0), v.at(1));
  });
}

std::shared_ptr<RACSignal> RACSignal::combineLatest(std::vector<std::shared_ptr<RACSignal>> signals,
                                                    ReduceBlock3 reduce) {
  TW_PARAMETER_ASSERT(signals.size() == 3);
  return combineLatest(std::move(signals))->map([reduce = std::move(reduce)](const tw::Value& v) {
    return reduce(v.at(0), v.at(1), v.at(2));
  });
}
