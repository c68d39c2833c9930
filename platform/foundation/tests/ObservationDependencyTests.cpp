// Dependent keys registered beside the key they affect, and key paths shared between
// observations: what a loaded store leans on (a setting's value <- day/hour/minute/second, tens
// of thousands of triggers watching the same path).

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/foundation/tests/ObservationFixtures.h"

using namespace tw;
using namespace tw::test;

namespace {

// "current" is the primary or the spare time object, as "useSpare" says; "label" depends on
// "current" and "suffix"; "total" depends on "a" and "subtotal", which depends on "a" and "b".
class Holder : public Object {
 public:
  std::shared_ptr<TimeObject> primary = std::make_shared<TimeObject>();
  std::shared_ptr<TimeObject> spare = std::make_shared<TimeObject>();

  void setUseSpare(bool v) { setAndNotify("useSpare", useSpare_, v); }
  void setA(std::int64_t v) { setAndNotify("a", a_, v); }
  void setB(std::int64_t v) { setAndNotify("b", b_, v); }

 protected:
  bool getValueForKey(std::string_view key, Value& out) const override {
    if (key == "useSpare") {
      out = useSpare_;
    } else if (key == "current") {
      out = useSpare_ ? spare : primary;
    } else if (key == "a") {
      out = a_;
    } else if (key == "b") {
      out = b_;
    } else if (key == "subtotal") {
      out = a_ + b_;
    } else if (key == "total") {
      out = 2 * a_ + b_;
    } else {
      return Object::getValueForKey(key, out);
    }
    return true;
  }
  std::vector<std::string> keyPathsForValuesAffectingKey(std::string_view key) const override {
    if (key == "current") return {"useSpare"};
    if (key == "total") return {"a", "subtotal"};
    if (key == "subtotal") return {"a", "b"};
    return Object::keyPathsForValuesAffectingKey(key);
  }

 private:
  bool useSpare_ = false;
  std::int64_t a_ = 0;
  std::int64_t b_ = 0;
};

// A count kept over a to-many set.
class Counted : public TimeObject {
 protected:
  bool getValueForKey(std::string_view key, Value& out) const override {
    if (key != "actionCount") return TimeObject::getValueForKey(key, out);
    out = static_cast<std::int64_t>(actionObjects().size());
    return true;
  }
  std::vector<std::string> keyPathsForValuesAffectingKey(std::string_view key) const override {
    if (key == "actionCount") return {"actionObjects"};
    return TimeObject::keyPathsForValuesAffectingKey(key);
  }
};

// "pN" depends on "p(N+1)" and "qN" on "me.q(N+1)", where "me" is the object itself: chains of
// dependencies as long as a test likes, of plain keys and of paths.
class Chained : public Object {
 public:
  void touch(const std::string& key) { ChangeScope change(*this, key); }

 protected:
  bool getValueForKey(std::string_view key, Value& out) const override {
    if (key == "me") {
      out = std::const_pointer_cast<Object>(shared_from_this());
      return true;
    }
    if (key.size() > 1 && (key[0] == 'p' || key[0] == 'q')) {
      out = std::int64_t{0};
      return true;
    }
    return Object::getValueForKey(key, out);
  }
  std::vector<std::string> keyPathsForValuesAffectingKey(std::string_view key) const override {
    if (key.size() > 1 && (key[0] == 'p' || key[0] == 'q')) {
      const std::string next =
          std::string(1, key[0]) + std::to_string(std::stoi(std::string(key.substr(1))) + 1);
      return {key[0] == 'p' ? next : "me." + next};
    }
    return Object::keyPathsForValuesAffectingKey(key);
  }
};

}  // namespace

// Dependencies are followed 16 deep and no further, so a cycle through ever new objects or keys
// ends; the depth is the same for plain keys and for paths.
TEST(DependentKeyRegistration, DependenciesAreFollowedSixteenDeepAndNoFurther) {
  auto chained = std::make_shared<Chained>();
  for (const char* first : {"p", "q"}) {
    Recorder rec;
    auto obs = chained->observeScoped(std::string(first) + "0", KVONew, rec.callback());
    chained->touch(std::string(first) + "16");
    EXPECT_EQ(rec.count(), 1u) << first;
    chained->touch(std::string(first) + "17");
    EXPECT_EQ(rec.count(), 1u) << first;
  }
}

TEST(DependentKeyRegistration, DependencyOfAnIntermediateStepRebindsTheRestOfThePath) {
  auto holder = std::make_shared<Holder>();
  holder->primary->setTimingState(1);
  holder->spare->setTimingState(2);
  Recorder rec;
  auto obs = holder->observeScoped("current.timingState", KVONew | KVOInitial, rec.callback());

  holder->setUseSpare(true);
  holder->spare->setTimingState(3);
  holder->primary->setTimingState(4);  // off the path now
  holder->setUseSpare(false);
  holder->primary->setTimingState(5);
  EXPECT_EQ(rec.integers(), (std::vector<std::int64_t>{1, 2, 3, 4, 5}));
}

TEST(DependentKeyRegistration, EachChangeOfAnyDependencyNotifiesOnce) {
  auto holder = std::make_shared<Holder>();
  Recorder rec;
  // "a" affects "total" directly and through "subtotal": still one notification per change.
  auto obs = holder->observeScoped("total", KVONew, rec.callback());
  holder->setA(1);
  holder->setB(10);
  EXPECT_EQ(rec.integers(), (std::vector<std::int64_t>{2, 12}));
}

TEST(DependentKeyRegistration, PriorAndOldValuesAreThoseOfTheDependentKey) {
  auto t = std::make_shared<TimeObject>();
  Recorder rec;
  auto obs = t->observeScoped("computedFinishDate", KVONew | KVOOld | KVOPrior, rec.callback());
  t->setTime(60);
  auto changes = rec.changes();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_TRUE(changes[0].isPrior);
  EXPECT_EQ(changes[0].kind, KeyValueChangeKind::Setting);
  EXPECT_EQ(changes[0].oldValue, Value(1000.0));
  EXPECT_FALSE(changes[1].isPrior);
  EXPECT_EQ(changes[1].newValue, Value(1060.0));
  EXPECT_EQ(changes[1].oldValue, Value(1000.0));
  EXPECT_EQ(changes[1].keyPath, "computedFinishDate");
}

TEST(DependentKeyRegistration, SetMutationOfADependencyIsASettingOfTheDependentKey) {
  auto t = std::make_shared<Counted>();
  Recorder count;
  Recorder set;
  auto countObs = t->observeScoped("actionCount", KVONew, count.callback());
  auto setObs = t->observeScoped("actionObjects", KVONew, set.callback());
  auto a = std::make_shared<ActionObject>();
  t->addActionObjects({a});

  auto counted = count.changes();
  ASSERT_EQ(counted.size(), 1u);
  EXPECT_EQ(counted[0].kind, KeyValueChangeKind::Setting);
  EXPECT_TRUE(counted[0].changedObjects.empty());
  EXPECT_EQ(counted[0].newValue, Value(std::int64_t{1}));
  // The set's own observer still hears the insertion.
  ASSERT_EQ(set.changes().size(), 1u);
  EXPECT_EQ(set.changes()[0].kind, KeyValueChangeKind::Insertion);
}

TEST(DependentKeyRegistration, AnObservationWithDependenciesCountsOnceAndEndsWhole) {
  auto holder = std::make_shared<Holder>();
  auto watcher = std::make_shared<Watcher>();
  Recorder rec;
  holder->observeDetached("total", KVONew, watcher, rec.callback());
  auto plain = holder->observeScoped("current.timingState", KVONew, rec.callback());
  EXPECT_EQ(holder->observationCount(), 2u);

  holder->removeObserver(watcher, "total");
  plain.invalidate();
  EXPECT_EQ(holder->observationCount(), 0u);
  holder->setA(1);
  holder->setB(1);
  holder->setUseSpare(true);
  holder->spare->setTimingState(7);
  EXPECT_EQ(rec.count(), 0u);
}

TEST(SharedKeyPaths, ObservationsOfOnePathStayIndependent) {
  constexpr const char* kPath = "actionObject.timeObject.timingState";
  auto t = std::make_shared<TimeObject>();
  auto action = std::make_shared<ActionObject>();
  action->setTimeObject(t);
  auto first = std::make_shared<Trigger>();
  auto second = std::make_shared<Trigger>();
  first->setActionObject(action);
  second->setActionObject(action);
  Recorder one;
  Recorder two;
  auto a = first->observeScoped(kPath, KVONew, one.callback());
  auto b = second->observeScoped(kPath, KVONew, two.callback());
  t->setTimingState(1);
  a.invalidate();
  t->setTimingState(2);
  b.invalidate();
  // Observed again once nobody holds the path any more.
  Recorder three;
  auto c = first->observeScoped(kPath, KVONew, three.callback());
  t->setTimingState(3);

  EXPECT_EQ(one.integers(), (std::vector<std::int64_t>{1}));
  EXPECT_EQ(two.integers(), (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(three.integers(), (std::vector<std::int64_t>{3}));
  ASSERT_EQ(three.changes().size(), 1u);
  EXPECT_EQ(three.changes()[0].keyPath, kPath);
  EXPECT_EQ(three.changes()[0].object, first.get());
}

TEST(SharedKeyPaths, ThreadsObservingAndEndingTheSamePathsKeepTheirOwnKeys) {
  // Shared paths are made and let go of concurrently; each observation must still walk its
  // own path (a per-thread key on the same object tells them apart).
  class Bag : public Object {
   protected:
    bool getValueForKey(std::string_view key, Value& out) const override {
      out = static_cast<std::int64_t>(key.size());
      return true;
    }
  };
  std::atomic<long> wrong{0};
  std::atomic<long> delivered{0};
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int k = 0; k < 4; ++k) {
    threads.emplace_back([&, k] {
      auto bag = std::make_shared<Bag>();
      const std::string own = "key" + std::string(static_cast<std::size_t>(k) + 1, 'x');
      for (int i = 0; i < 500; ++i) {
        const std::string& path = i % 2 ? own : std::string("shared");
        auto obs = bag->observeScoped(path, KVONew, [&, path](const KeyValueChange& c) {
          ++delivered;
          if (c.keyPath != path || c.newValue.integerValue() != static_cast<long>(path.size()))
            ++wrong;
        });
        bag->willChangeValueForKey(path);
        bag->didChangeValueForKey(path);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(delivered.load(), 4 * 500);
  EXPECT_EQ(wrong.load(), 0);
}
