#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/foundation/Object.h"
#include "platform/foundation/tests/ObservationFixtures.h"

using namespace tw;
using namespace tw::test;

// The cases here are mostly about never touching freed memory; the sanitizer builds turn any
// slip into a failure.

TEST(ObservationLifetime, RemovingAnObservationInsideItsOwnCallbackIsSafe) {
  auto t = std::make_shared<TimeObject>();
  int selfCalls = 0;
  Recorder other;
  Observation self;
  self = t->observeScoped("timingState", KVONew, [&](const KeyValueChange&) {
    ++selfCalls;
    self.invalidate();
  });
  auto second = t->observeScoped("timingState", KVONew, other.callback());
  t->setTimingState(20);
  t->setTimingState(21);
  EXPECT_EQ(selfCalls, 1);
  EXPECT_EQ(other.count(), 2u);
  EXPECT_FALSE(self.isActive());
  EXPECT_EQ(t->observationCount(), 1u);
}

TEST(ObservationLifetime, ObservationRemovedByAnEarlierCallbackIsNotCalledInTheSameRound) {
  auto t = std::make_shared<TimeObject>();
  Observation victim;
  int victimCalls = 0;
  auto killer =
      t->observeScoped("timingState", KVONew, [&](const KeyValueChange&) { victim.invalidate(); });
  victim = t->observeScoped("timingState", KVONew, [&](const KeyValueChange&) { ++victimCalls; });
  t->setTimingState(20);
  EXPECT_EQ(victimCalls, 0);
}

TEST(ObservationLifetime, ObservationsAddedDuringDeliveryHearOnlyLaterChanges) {
  auto t = std::make_shared<TimeObject>();
  std::vector<Observation> added;
  Recorder late;
  auto adder = t->observeScoped("timingState", KVONew, [&](const KeyValueChange&) {
    if (added.empty()) added.push_back(t->observeScoped("timingState", KVONew, late.callback()));
  });
  t->setTimingState(1);
  EXPECT_EQ(late.count(), 0u);
  t->setTimingState(2);
  EXPECT_EQ(late.integers(), (std::vector<std::int64_t>{2}));
}

TEST(ObservationLifetime, ObservationEndsWhenTheObservedObjectGoes) {
  auto t = std::make_shared<TimeObject>();
  Recorder rec;
  auto obs = t->observeScoped("timingState", KVONew, rec.callback());
  EXPECT_TRUE(obs.isActive());
  t.reset();
  EXPECT_FALSE(obs.isActive());
  obs.invalidate();  // harmless afterwards
}

TEST(ObservationLifetime, ObservedObjectDestroyedByOneOfItsCallbacksStopsTheRound) {
  auto t = std::make_shared<TimeObject>();
  std::weak_ptr<TimeObject> weak = t;
  int laterCalls = 0;
  auto first = t->observeScoped("timingState", KVONew, [&](const KeyValueChange&) { t.reset(); });
  auto second =
      t->observeScoped("timingState", KVONew, [&](const KeyValueChange&) { ++laterCalls; });
  first.release();
  second.release();
  // The caller holds no reference of its own: the object dies inside its own did-change.
  TimeObject* raw = t.get();
  raw->setTimingState(20);
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(laterCalls, 0);
}

TEST(ObservationLifetime, IntermediateObjectDestroyedLeavesThePathUnboundUntilRebound) {
  auto t = std::make_shared<TimeObject>();
  auto action = std::make_shared<ActionObject>();  // holds its time object weakly
  action->setTimeObject(t);
  Recorder rec;
  auto obs = action->observeScoped("timeObject.timingState", KVONew, rec.callback());
  t.reset();
  EXPECT_TRUE(obs.isActive());
  EXPECT_EQ(action->valueForKeyPath("timeObject.timingState"), Value());

  auto replacement = std::make_shared<TimeObject>();
  action->setTimeObject(replacement);
  replacement->setTimingState(20);
  EXPECT_EQ(rec.integers(), (std::vector<std::int64_t>{0, 20}));
}

TEST(ObservationLifetime, ObserverObjectGoingAwayEndsItsObservationsAtOnce) {
  auto t = std::make_shared<TimeObject>();
  auto control = std::make_shared<Control>();
  control->setTimingObject(t);
  auto watcher = std::make_shared<Watcher>();
  Watcher* raw = watcher.get();
  t->observeDetached("timingState", KVONew, watcher,
                     [raw](const KeyValueChange&) { ++raw->calls; });
  control->observeDetached("timingObject.timingState", KVONew | KVOInitial, watcher,
                           [raw](const KeyValueChange&) { ++raw->calls; });
  t->setTimingState(20);
  EXPECT_EQ(watcher->calls, 3);
  EXPECT_EQ(t->observationCount(), 1u);
  EXPECT_EQ(control->observationCount(), 1u);

  watcher.reset();
  EXPECT_EQ(t->observationCount(), 0u);
  EXPECT_EQ(control->observationCount(), 0u);
  t->setTimingState(21);  // nobody left to call
}

TEST(ObservationLifetime, AnyObserverGoingAwayStopsItsCallbacks) {
  auto t = std::make_shared<TimeObject>();
  auto observer = std::make_shared<int>(0);
  int calls = 0;
  t->observeDetached("timingState", KVONew, std::weak_ptr<const void>(observer),
                     [&](const KeyValueChange&) { ++calls; });
  t->setTimingState(1);
  observer.reset();
  t->setTimingState(2);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(t->observationCount(), 0u);
}

TEST(ObservationLifetime, ObserverDestroyedFromWithinAnotherCallbackIsNotCalled) {
  auto t = std::make_shared<TimeObject>();
  auto holder = std::make_shared<Watcher>();
  auto victim = std::make_shared<Watcher>();
  Watcher* victimRaw = victim.get();
  t->observeDetached("timingState", KVONew, holder, [&](const KeyValueChange&) { victim.reset(); });
  t->observeDetached("timingState", KVONew, victim,
                     [victimRaw](const KeyValueChange&) { ++victimRaw->calls; });
  t->setTimingState(20);
  EXPECT_EQ(victim, nullptr);
  EXPECT_EQ(t->observationCount(), 1u);
}

TEST(ObservationLifetime, ObserverStaysAliveUntilItsOwnCallbackReturns) {
  auto t = std::make_shared<TimeObject>();
  auto watcher = std::make_shared<Watcher>();
  Watcher* raw = watcher.get();
  t->observeDetached("timingState", KVONew, watcher, [&, raw](const KeyValueChange&) {
    watcher.reset();  // the last outside reference
    ++raw->calls;     // still ours to touch
    EXPECT_EQ(raw->calls, 1);
  });
  t->setTimingState(20);
  EXPECT_EQ(t->observationCount(), 0u);
}

TEST(ObservationLifetime, RemoveObserverForKeyPathEndsOnlyThatObserversPath) {
  auto t = std::make_shared<TimeObject>();
  auto w1 = std::make_shared<Watcher>();
  auto w2 = std::make_shared<Watcher>();
  int c1 = 0, c2 = 0, c3 = 0;
  t->observeDetached("timingState", KVONew, w1, [&](const KeyValueChange&) { ++c1; });
  t->observeDetached("time", KVONew, w1, [&](const KeyValueChange&) { ++c3; });
  t->observeDetached("timingState", KVONew, w2, [&](const KeyValueChange&) { ++c2; });
  t->removeObserver(w1, "timingState");
  t->setTimingState(20);
  t->setTime(1);
  EXPECT_EQ(c1, 0);
  EXPECT_EQ(c2, 1);
  EXPECT_EQ(c3, 1);
  EXPECT_EQ(t->observationCount(), 2u);
}

TEST(ObservationLifetime, ThousandCreateDestroyCyclesLeaveNothingBehind) {
  auto model = std::make_shared<Trigger>();
  std::vector<std::weak_ptr<Object>> everything;
  int calls = 0;
  for (int i = 0; i < 1000; ++i) {
    auto t = std::make_shared<TimeObject>();
    auto action = std::make_shared<ActionObject>();
    action->setTimeObject(t);
    model->setActionObject(action);
    auto watcher = std::make_shared<Watcher>();
    auto plain = std::make_shared<int>(i);
    model->observeDetached("actionObject.timeObject.timingState", KVONew | KVOInitial, watcher,
                           [&](const KeyValueChange&) { ++calls; });
    model->observeDetached("actionObject.running", KVONew, std::weak_ptr<const void>(plain),
                           [&](const KeyValueChange&) { ++calls; });
    auto handle =
        t->observeScoped("computedFinishDate", KVONew, [&](const KeyValueChange&) { ++calls; });
    t->setTimingState(20);
    t->setTime(i);
    everything.push_back(t);
    everything.push_back(action);
    everything.push_back(watcher);
    // Vary which side goes first.
    if (i % 3 == 0) {
      watcher.reset();
      plain.reset();
      model->setActionObject(nullptr);
    } else if (i % 3 == 1) {
      model->setActionObject(nullptr);
      t.reset();
    } else {
      action.reset();
      model->setActionObject(nullptr);
    }
  }
  EXPECT_EQ(model->observationCount(), 0u);
  for (const auto& w : everything) EXPECT_TRUE(w.expired());
  EXPECT_GT(calls, 3000);
}

TEST(ObservationLifetime, ExceptionEscapingACallbackTerminates) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        auto t = std::make_shared<TimeObject>();
        auto obs = t->observeScoped(
            "timingState", KVONew, [](const KeyValueChange&) { throw std::runtime_error("boom"); });
        t->setTimingState(1);
      },
      "");
}

// ----- threads

TEST(ObservationThreads, CallbacksRunOnTheChangingThread) {
  auto t = std::make_shared<TimeObject>();
  std::thread::id seen;
  auto obs = t->observeScoped("timingState", KVONew,
                              [&](const KeyValueChange&) { seen = std::this_thread::get_id(); });
  std::thread worker([&] { t->setTimingState(20); });
  std::thread::id workerId = worker.get_id();
  worker.join();
  EXPECT_EQ(seen, workerId);
}

TEST(ObservationThreads, RegistrationsComeAndGoWhileAnotherThreadChangesTheObject) {
  auto t = std::make_shared<TimeObject>();
  auto control = std::make_shared<Control>();
  control->setTimingObject(t);
  std::atomic<bool> stop{false};
  std::atomic<long> delivered{0};
  std::thread changer([&] {
    for (int i = 0; i < 20000 && !stop; ++i) {
      t->setTimingState(i);
      if (i % 64 == 0) {
        // Re-announce the intermediate step (the models themselves are not thread-safe).
        control->willChangeValueForKey("timingObject");
        control->didChangeValueForKey("timingObject");
      }
    }
    stop = true;
  });
  std::vector<std::thread> observers;
  observers.reserve(3);
  for (int k = 0; k < 3; ++k) {
    observers.emplace_back([&] {
      while (!stop) {
        auto watcher = std::make_shared<Watcher>();
        auto a = control->observeDetached("timingObject.timingState", KVONew, watcher,
                                          [&](const KeyValueChange&) { ++delivered; });
        auto b = t->observeScoped("timingState", KVONew | KVOOld,
                                  [&](const KeyValueChange&) { ++delivered; });
        std::this_thread::yield();
        if (delivered % 2) b.invalidate();
        watcher.reset();
      }
    });
  }
  changer.join();
  for (auto& th : observers) th.join();
  EXPECT_EQ(t->observationCount(), 0u);
  EXPECT_EQ(control->observationCount(), 0u);
}

TEST(ObservationThreads, EveryChangeIsDeliveredWhileManyThreadsRebindOnePath) {
  // Each re-announcement of the intermediate step re-binds the path; threads that lose the race
  // to re-bind must read again rather than drop their change.
  auto t = std::make_shared<TimeObject>();
  auto control = std::make_shared<Control>();
  control->setTimingObject(t);
  std::atomic<long> delivered{0};
  auto observation = control->observeScoped("timingObject.timingState", KVONew,
                                            [&](const KeyValueChange&) { ++delivered; });
  constexpr int kThreads = 6, kRounds = 3000, kStateChanges = 5000;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([&] {
      while (!go) std::this_thread::yield();
      for (int i = 0; i < kRounds; ++i) {
        control->willChangeValueForKey("timingObject");
        control->didChangeValueForKey("timingObject");
      }
    });
  }
  threads.emplace_back([&] {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < kStateChanges; ++i) t->setTimingState(i + 1);
  });
  go = true;
  for (auto& th : threads) th.join();
  EXPECT_EQ(delivered.load(), long{kThreads} * kRounds + kStateChanges);
  // The path is still bound: a later change is heard.
  const long before = delivered.load();
  t->setTimingState(-1);
  EXPECT_EQ(delivered.load(), before + 1);
}
