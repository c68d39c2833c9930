#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/signals/DeallocWatch.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"
#include "platform/signals/RACSubject.h"
#include "platform/signals/RACSubscriptingAssignmentTrampoline.h"
#include "platform/signals/RACUnit.h"

namespace {

using tw::Value;

// A small observable object: "name", "count" and a to-one "child".
class Node : public tw::Object {
 public:
  void setName(Value name) { setAndNotify("name", name_, std::move(name)); }
  void setCount(Value count) { setAndNotify("count", count_, std::move(count)); }
  void setChild(std::shared_ptr<Node> child) { setAndNotify("child", child_, std::move(child)); }
  const Value& name() const { return name_; }
  void prepareForReuse() { rac_selectorDidRun(*this, "prepareForReuse"); }

 protected:
  bool getValueForKey(std::string_view key, Value& out) const override {
    if (key == "name") {
      out = name_;
    } else if (key == "count") {
      out = count_;
    } else if (key == "child") {
      out = Value(child_);
    } else {
      return Object::getValueForKey(key, out);
    }
    return true;
  }
  bool setValueForKeyImpl(std::string_view key, const Value& value) override {
    if (key == "name") {
      setName(value);
    } else if (key == "count") {
      setCount(value);
    } else if (key == "child") {
      setChild(value.objectAs<Node>());
    } else {
      return Object::setValueForKeyImpl(key, value);
    }
    return true;
  }

 private:
  Value name_;
  Value count_;
  std::shared_ptr<Node> child_;
};

// Records what a subscription delivered.
struct Recorder {
  std::vector<Value> values;
  bool completed = false;
  void attach(const std::shared_ptr<RACSignal>& signal) {
    signal->subscribeNext([this](const Value& v) { values.push_back(v); },
                          [this] { completed = true; });
  }
};

// ----- hand-driven signals and the operators

TEST(SignalOperators, SubjectDeliversToEverySubscriberUntilCompleted) {
  auto subject = RACSubject::subject();
  Recorder a, b;
  a.attach(subject);
  subject->sendNext(1);
  b.attach(subject);
  subject->sendNext(2);
  subject->sendCompleted();
  subject->sendNext(3);
  EXPECT_EQ(a.values, (std::vector<Value>{1, 2}));
  EXPECT_EQ(b.values, (std::vector<Value>{2}));
  EXPECT_TRUE(a.completed && b.completed);
  EXPECT_EQ(subject->subscriberCount(), 0u);

  Recorder late;
  late.attach(subject);
  EXPECT_TRUE(late.completed);
  EXPECT_TRUE(late.values.empty());
}

TEST(SignalOperators, MapSkipDistinctAndReplaceTransformEachValue) {
  auto subject = RACSubject::subject();
  Recorder mapped, skipped, distinct, replaced;
  mapped.attach(subject->map([](const Value& v) { return Value(v.integerValue() * 10); }));
  skipped.attach(subject->skip(1));
  distinct.attach(subject->distinctUntilChanged());
  replaced.attach(subject->mapReplace(RACUnit::defaultUnit()));
  for (int v : {1, 1, 2, 2, 1}) subject->sendNext(v);
  subject->sendCompleted();
  EXPECT_EQ(mapped.values, (std::vector<Value>{10, 10, 20, 20, 10}));
  EXPECT_EQ(skipped.values, (std::vector<Value>{1, 2, 2, 1}));
  EXPECT_EQ(distinct.values, (std::vector<Value>{1, 2, 1}));
  ASSERT_EQ(replaced.values.size(), 5u);
  EXPECT_EQ(replaced.values[0].object(), RACUnit::defaultUnit());
  EXPECT_TRUE(mapped.completed && skipped.completed && distinct.completed && replaced.completed);
}

TEST(SignalOperators, ReturnSendsOnceAndCompletesForEachSubscriber) {
  auto signal = RACSignal::returnValue("only");
  Recorder a, b;
  a.attach(signal);
  b.attach(signal);
  EXPECT_EQ(a.values, (std::vector<Value>{"only"}));
  EXPECT_EQ(b.values, (std::vector<Value>{"only"}));
  EXPECT_TRUE(a.completed && b.completed);
}

TEST(SignalOperators, CombineLatestWaitsForEverySignalThenSendsOnEachChange) {
  auto first = RACSubject::subject();
  auto second = RACSubject::subject();
  Recorder combined;
  combined.attach(RACSignal::combineLatest({first, second}, [](const Value& a, const Value& b) {
    return Value(a.description() + "/" + b.description());
  }));
  first->sendNext("a1");
  first->sendNext("a2");
  EXPECT_TRUE(combined.values.empty()) << "second has not sent yet";
  second->sendNext("b1");
  first->sendNext("a3");
  second->sendNext("b2");
  EXPECT_EQ(combined.values, (std::vector<Value>{"a2/b1", "a3/b1", "a3/b2"}));
  first->sendCompleted();
  EXPECT_FALSE(combined.completed);
  second->sendCompleted();
  EXPECT_TRUE(combined.completed);
}

TEST(SignalOperators, CombineLatestOfThreeKeepsTheArrayOrder) {
  auto a = RACSubject::subject();
  auto b = RACSubject::subject();
  Recorder combined;
  combined.attach(RACSignal::combineLatest(
      {a, RACSignal::returnValue(2), b}, [](const Value& x, const Value& y, const Value& z) {
        return Value(x.integerValue() * 100 + y.integerValue() * 10 + z.integerValue());
      }));
  b->sendNext(3);
  a->sendNext(1);
  EXPECT_EQ(combined.values, (std::vector<Value>{123}));
}

TEST(SignalOperators, TakeUntilPassesValuesUntilTheTriggerThenLetsGoOfBoth) {
  auto source = RACSubject::subject();
  auto trigger = RACSubject::subject();
  Recorder taken;
  taken.attach(source->takeUntil(trigger));
  source->sendNext(1);
  source->sendNext(2);
  EXPECT_EQ(source->subscriberCount(), 1u);
  EXPECT_EQ(trigger->subscriberCount(), 1u);
  trigger->sendNext(Value());
  source->sendNext(3);
  EXPECT_EQ(taken.values, (std::vector<Value>{1, 2}));
  EXPECT_TRUE(taken.completed);
  EXPECT_EQ(source->subscriberCount(), 0u) << "the source subscription ends with it";
  EXPECT_EQ(trigger->subscriberCount(), 0u) << "a reused trigger must not collect dead bindings";

  // A trigger that completes ends it too; one that already completed lets nothing through.
  auto ending = RACSubject::subject();
  Recorder second;
  second.attach(source->takeUntil(ending));
  ending->sendCompleted();
  EXPECT_TRUE(second.completed);
  Recorder third;
  third.attach(source->takeUntil(ending));
  source->sendNext(4);
  EXPECT_TRUE(third.completed);
  EXPECT_TRUE(third.values.empty());
  EXPECT_EQ(source->subscriberCount(), 0u);
}

// ----- key-path values

TEST(SignalKeyPath, SendsTheCurrentValueThenEveryChange) {
  auto node = std::make_shared<Node>();
  auto observer = std::make_shared<Node>();
  node->setName("first");
  Recorder names;
  names.attach(rac_valuesForKeyPath(node, "name", observer));
  node->setName("second");
  node->setValueForKey("third", "name");
  EXPECT_EQ(names.values, (std::vector<Value>{"first", "second", "third"}));
  EXPECT_FALSE(names.completed);
}

TEST(SignalKeyPath, RebindsWhenAnIntermediateObjectIsReplaced) {
  auto root = std::make_shared<Node>();
  auto oldChild = std::make_shared<Node>();
  auto newChild = std::make_shared<Node>();
  oldChild->setName("old");
  newChild->setName("new");
  root->setChild(oldChild);
  Recorder names;
  names.attach(rac_valuesForKeyPath(root, "child.name", root));
  root->setChild(newChild);
  oldChild->setName("old changed");  // no longer on the path
  newChild->setName("new changed");
  root->setChild(nullptr);
  EXPECT_EQ(names.values, (std::vector<Value>{"old", "new", "new changed", Value()}));
}

TEST(SignalKeyPath, EndsWhenTheReceiverGoesAway) {
  auto node = std::make_shared<Node>();
  auto observer = std::make_shared<Node>();
  const std::size_t observerBaseline = observer->observationCount();
  Recorder names;
  names.attach(rac_valuesForKeyPath(node, "name", observer));
  std::weak_ptr<Node> weakNode = node;
  node.reset();
  EXPECT_TRUE(weakNode.expired()) << "the signal must not keep its receiver alive";
  EXPECT_TRUE(names.completed);
  EXPECT_EQ(names.values, (std::vector<Value>{Value()}));
  // The observer's watch for this subscription is gone with it (only the inert one may remain).
  EXPECT_LE(observer->observationCount(), observerBaseline + 1);
}

TEST(SignalKeyPath, EndsWhenTheObserverGoesAwayAndStopsObserving) {
  auto node = std::make_shared<Node>();
  auto observer = std::make_shared<Node>();
  const std::size_t before = node->observationCount();
  Recorder names;
  names.attach(rac_valuesForKeyPath(node, "name", observer));
  const std::size_t during = node->observationCount();
  EXPECT_GT(during, before);
  observer.reset();
  EXPECT_TRUE(names.completed);
  node->setName("after");
  EXPECT_EQ(names.values.size(), 1u);
  EXPECT_LE(node->observationCount(), before + 1) << "only the inert deallocation watch stays";
}

TEST(SignalKeyPath, SubscribingAfterEitherSideWentAwayCompletesAtOnce) {
  auto node = std::make_shared<Node>();
  auto observer = std::make_shared<Node>();
  auto signal = rac_valuesForKeyPath(node, "name", observer);
  observer.reset();
  Recorder late;
  late.attach(signal);
  EXPECT_TRUE(late.completed);
  EXPECT_TRUE(late.values.empty());
}

TEST(SignalKeyPath, TakeUntilEndsTheObservation) {
  auto node = std::make_shared<Node>();
  const std::size_t before = node->observationCount();
  auto reuse = RACSubject::subject();
  Recorder names;
  names.attach(rac_valuesForKeyPath(node, "name", node)->takeUntil(reuse));
  EXPECT_GT(node->observationCount(), before);
  reuse->sendNext(RACUnit::defaultUnit());
  EXPECT_TRUE(names.completed);
  EXPECT_LE(node->observationCount(), before + 1);
  // Rebinding many times over does not pile up observations.
  for (int i = 0; i < 50; ++i) {
    rac_valuesForKeyPath(node, "name", node)->takeUntil(reuse)->subscribeNext([](const Value&) {});
    reuse->sendNext(RACUnit::defaultUnit());
  }
  EXPECT_LE(node->observationCount(), before + 1);
  EXPECT_EQ(reuse->subscriberCount(), 0u);
}

TEST(SignalKeyPath, ChainsBuiltOnAViewModelDoNotKeepItAlive) {
  auto model = std::make_shared<Node>();
  std::weak_ptr<Node> weakModel = model;
  // The model's own "count" follows its "name", through a signal the model observes itself.
  RAC(model, "count") = rac_valuesForKeyPath(model, "name", model)->map([](const Value& v) {
    return Value(static_cast<std::int64_t>(v.description().size()));
  });
  model->setName("four");
  EXPECT_EQ(model->valueForKey("count"), Value(4));
  model.reset();
  EXPECT_TRUE(weakModel.expired());
}

TEST(SignalKeyPath, SendsOnTheThreadThatMakesTheChange) {
  auto node = std::make_shared<Node>();
  std::atomic<int> fromWorker{0};
  std::thread::id workerId;
  std::mutex idMutex;
  rac_valuesForKeyPath(node, "count", node)->skip(1)->subscribeNext([&](const Value&) {
    std::lock_guard lock(idMutex);
    if (std::this_thread::get_id() == workerId) ++fromWorker;
  });
  std::thread worker([&] {
    {
      std::lock_guard lock(idMutex);
      workerId = std::this_thread::get_id();
    }
    for (int i = 0; i < 100; ++i) node->setCount(i);
  });
  worker.join();
  EXPECT_EQ(fromWorker.load(), 100);
}

// ----- deallocation and method signals

TEST(SignalLifetime, WillDeallocCompletesWhenTheObjectIsDestroyed) {
  auto node = std::make_shared<Node>();
  Recorder gone, cut;
  gone.attach(rac_willDeallocSignal(node));
  auto stop = RACSubject::subject();
  cut.attach(rac_willDeallocSignal(node)->takeUntil(stop));
  stop->sendCompleted();
  EXPECT_FALSE(gone.completed);
  EXPECT_TRUE(cut.completed);
  cut.completed = false;
  node.reset();
  EXPECT_TRUE(gone.completed);
  EXPECT_TRUE(gone.values.empty());
  EXPECT_FALSE(cut.completed) << "an ended subscription hears nothing more";
}

TEST(SignalLifetime, DeallocWatchRunsOnceUnlessCancelled) {
  auto node = std::make_shared<Node>();
  int ran = 0, cancelledRan = 0;
  tw::DeallocWatch::add(node, [&] { ++ran; });
  auto cancelled = tw::DeallocWatch::add(node, [&] { ++cancelledRan; });
  tw::DeallocWatch::add(node, [&] { ++ran; });
  cancelled.cancel();
  EXPECT_EQ(node->observationCount(), 1u) << "one inert observation per object";
  node.reset();
  EXPECT_EQ(ran, 2);
  EXPECT_EQ(cancelledRan, 0);
}

TEST(SignalLifetime, DeallocWatchesFromManyThreadsAllRun) {
  for (int round = 0; round < 10; ++round) {
    auto node = std::make_shared<Node>();
    std::atomic<int> ran{0};
    std::vector<std::thread> threads;
    threads.reserve(6);
    for (int t = 0; t < 6; ++t) {
      threads.emplace_back([node, &ran] {
        for (int i = 0; i < 20; ++i) tw::DeallocWatch::add(node, [&ran] { ++ran; });
      });
    }
    for (auto& t : threads) t.join();
    node.reset();
    EXPECT_EQ(ran.load(), 120);
  }
}

TEST(SignalLifetime, MethodSignalSendsOnEachRunAndCompletesWithTheObject) {
  auto cell = std::make_shared<Node>();
  cell->prepareForReuse();  // nobody asked yet: nothing to send
  auto signal = rac_signalForSelector(cell, "prepareForReuse");
  EXPECT_EQ(signal, rac_signalForSelector(cell, "prepareForReuse"));
  Recorder runs;
  runs.attach(signal->mapReplace(RACUnit::defaultUnit()));
  cell->prepareForReuse();
  cell->prepareForReuse();
  ASSERT_EQ(runs.values.size(), 2u);
  EXPECT_EQ(runs.values[1].object(), RACUnit::defaultUnit());
  cell.reset();
  EXPECT_TRUE(runs.completed);
}

// ----- bindings

TEST(SignalBinding, AssignsThroughTheTargetSoItsObserversAreTold) {
  auto target = std::make_shared<Node>();
  std::vector<Value> heard;
  auto observation = target->observeScoped(
      "name", tw::KVONew,
      [&](const tw::KeyValueChange& change) { heard.push_back(change.newValue); });
  auto values = RACSubject::subject();
  RACSubscriptingAssignmentTrampoline(target, "(none)")["name"] = values;
  values->sendNext("one");
  values->sendNext(Value());
  EXPECT_EQ(target->name(), Value("(none)")) << "null is written as the nil value";
  RAC(target, "count") = RACSignal::returnValue(5);
  EXPECT_EQ(target->valueForKey("count"), Value(5));
  EXPECT_EQ(heard, (std::vector<Value>{"one", "(none)"}));
}

TEST(SignalBinding, EndsWhenTheTargetGoesAway) {
  auto target = std::make_shared<Node>();
  auto values = RACSubject::subject();
  RACSubscriptingAssignmentTrampoline(target, nullptr).set(values, "name");
  values->sendNext("kept");
  EXPECT_EQ(values->subscriberCount(), 1u);
  target.reset();
  EXPECT_EQ(values->subscriberCount(), 0u);
  values->sendNext("nobody there");  // must not reach the destroyed target
}

TEST(SignalBinding, FollowsAnotherObjectsKeyPathUntilTheSourceGoesAway) {
  auto source = std::make_shared<Node>();
  auto target = std::make_shared<Node>();
  source->setName("start");
  RAC(target, "name") = rac_valuesForKeyPath(source, "name", target)->distinctUntilChanged();
  EXPECT_EQ(target->name(), Value("start"));
  source->setName("next");
  EXPECT_EQ(target->name(), Value("next"));
  source.reset();
  EXPECT_EQ(target->name(), Value("next"));
  EXPECT_LE(target->observationCount(), 1u) << "no observation of the target lingers";
}

TEST(SignalThreads, SubjectSendingFromManyThreadsReachesEveryValueOnce) {
  auto subject = RACSubject::subject();
  std::atomic<std::int64_t> sum{0};
  std::atomic<int> count{0};
  subject->map([](const Value& v) { return Value(v.integerValue() * 2); })
      ->subscribeNext([&](const Value& v) {
        sum += v.integerValue();
        ++count;
      });
  auto trigger = RACSubject::subject();
  std::vector<std::thread> threads;
  threads.reserve(6);
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        subject->sendNext(t * 1000 + i);
        // Subscriptions that end at once, racing with the sends.
        subject->takeUntil(trigger)->subscribeNext([](const Value&) {});
        trigger->sendNext(Value());
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(count.load(), 1200);
  std::int64_t expected = 0;
  for (int t = 0; t < 6; ++t)
    for (int i = 0; i < 200; ++i) expected += std::int64_t{2} * (t * 1000 + i);
  EXPECT_EQ(sum.load(), expected);
  EXPECT_EQ(subject->subscriberCount(), 1u);
}

TEST(SignalThreads, ReceiverAndObserverDyingOnDifferentThreadsEndTheSubscriptionOnce) {
  for (int round = 0; round < 40; ++round) {
    auto node = std::make_shared<Node>();
    auto observer = std::make_shared<Node>();
    auto target = std::make_shared<Node>();
    std::atomic<int> completions{0};
    rac_valuesForKeyPath(node, "name", observer)
        ->subscribeNext([](const Value&) {}, [&completions] { ++completions; });
    RAC(target, "name") = rac_valuesForKeyPath(node, "name", observer);
    std::thread changer([n = std::move(node)]() mutable {
      for (int i = 0; i < 20; ++i) n->setName(i);
      n.reset();
    });
    std::thread leaver([o = std::move(observer)]() mutable { o.reset(); });
    std::thread unbinder([t = std::move(target)]() mutable { t.reset(); });
    changer.join();
    leaver.join();
    unbinder.join();
    EXPECT_EQ(completions.load(), 1);
  }
}

}  // namespace
