#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Object.h"
#include "platform/testsupport/TestSupport.h"

using namespace tw;

namespace {

class Sender : public Object {};

struct Received {
  std::vector<Notification> notes;
  NotificationBlock block() {
    return [this](const Notification& n) { notes.push_back(n); };
  }
};

}  // namespace

TEST(NotificationCenter, AbsentAndEmptyUserInfoStayDistinct) {
  auto center = NotificationCenter::create();
  Received r;
  ScopedNotificationToken token = center->addObserver("Changed", nullptr, nullptr, r.block());
  center->post("Changed");
  center->post("Changed", nullptr, Dictionary{});
  center->post("Changed", nullptr, Dictionary{{"mode", Value(2)}});
  ASSERT_EQ(r.notes.size(), 3u);
  EXPECT_FALSE(r.notes[0].userInfo.has_value());
  ASSERT_TRUE(r.notes[1].userInfo.has_value());
  EXPECT_TRUE(r.notes[1].userInfo->empty());
  EXPECT_EQ((*r.notes[2].userInfo)["mode"], Value(2));
}

TEST(NotificationCenter, ObserversFilterByNameAndSender) {
  auto center = NotificationCenter::create();
  auto s1 = std::make_shared<Sender>();
  auto s2 = std::make_shared<Sender>();
  Received byName, bySender, everything;
  ScopedNotificationToken t1 = center->addObserver("A", nullptr, nullptr, byName.block());
  ScopedNotificationToken t2 = center->addObserver("A", s1, nullptr, bySender.block());
  ScopedNotificationToken t3 = center->addObserver("", nullptr, nullptr, everything.block());
  center->post("A", s1);
  center->post("A", s2);
  center->post("A");
  center->post("B", s1);
  EXPECT_EQ(byName.notes.size(), 3u);
  ASSERT_EQ(bySender.notes.size(), 1u);
  EXPECT_EQ(bySender.notes[0].object, s1);
  EXPECT_EQ(everything.notes.size(), 4u);
}

TEST(NotificationCenter, SenderIsHeldWeaklyAndItsObservationLapsesWithIt) {
  auto center = NotificationCenter::create();
  auto sender = std::make_shared<Sender>();
  std::weak_ptr<Sender> weak = sender;
  Received r;
  NotificationToken token = center->addObserver("A", sender, nullptr, r.block());
  EXPECT_EQ(center->observerCount(), 1u);
  sender.reset();
  EXPECT_TRUE(weak.expired());  // the centre did not keep it
  EXPECT_EQ(center->observerCount(), 0u);
  // Another sender, possibly at the same address, is not the one filtered on.
  for (int i = 0; i < 8; ++i) center->post("A", std::make_shared<Sender>());
  EXPECT_TRUE(r.notes.empty());
}

TEST(NotificationCenter, TokensEndObservationsAndDroppingAPlainTokenDoesNot) {
  auto center = NotificationCenter::create();
  int kept = 0, removed = 0, scoped = 0;
  center->addObserver("A", nullptr, nullptr, [&](const Notification&) { ++kept; });
  NotificationToken token =
      center->addObserver("A", nullptr, nullptr, [&](const Notification&) { ++removed; });
  {
    ScopedNotificationToken s =
        center->addObserver("A", nullptr, nullptr, [&](const Notification&) { ++scoped; });
    center->post("A");
  }
  token.remove();
  EXPECT_FALSE(token.isActive());
  center->post("A");
  EXPECT_EQ(kept, 2);
  EXPECT_EQ(removed, 1);
  EXPECT_EQ(scoped, 1);
  EXPECT_EQ(center->observerCount(), 1u);
}

TEST(NotificationCenter, ObserverMayRemoveItselfOrOthersDuringDelivery) {
  auto center = NotificationCenter::create();
  NotificationToken self, other;
  int selfCalls = 0, otherCalls = 0;
  self = center->addObserver("A", nullptr, nullptr, [&](const Notification&) {
    ++selfCalls;
    self.remove();
    other.remove();
  });
  other = center->addObserver("A", nullptr, nullptr, [&](const Notification&) { ++otherCalls; });
  center->post("A");
  center->post("A");
  EXPECT_EQ(selfCalls, 1);
  EXPECT_EQ(otherCalls, 0);
  EXPECT_EQ(center->observerCount(), 0u);
}

TEST(NotificationCenter, ObserverLifetimeEndsTheObservationAndSelectorStyleRemoval) {
  auto center = NotificationCenter::create();
  auto observer = std::make_shared<int>(0);
  int calls = 0;
  center->addObserver(
      "A", nullptr, nullptr, [&](const Notification&) { ++calls; }, observer);
  center->addObserver(
      "B", nullptr, nullptr, [&](const Notification&) { ++calls; }, observer);
  center->post("A");
  center->removeObserver(observer, "B");
  center->post("B");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(center->observerCount(), 1u);
  observer.reset();
  center->post("A");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(center->observerCount(), 0u);
}

TEST(NotificationCenter, MainQueueObserverRunsInlineOnTheMainThreadAndLaterFromOthers) {
  auto center = NotificationCenter::create();
  std::atomic<int> calls{0};
  std::atomic<bool> onMain{false};
  ScopedNotificationToken token =
      center->addObserver("A", nullptr, DispatchQueue::main(), [&](const Notification&) {
        onMain = isMainThread();
        ++calls;
      });
  center->post("A");
  EXPECT_EQ(calls, 1);  // before post returned
  EXPECT_TRUE(onMain);

  onMain = false;
  std::thread poster([&] { center->post("A"); });
  poster.join();
  EXPECT_EQ(calls, 1);  // queued for the main thread
  ASSERT_TRUE(tw::test::pumpMainUntil([&] { return calls == 2; }));
  EXPECT_TRUE(onMain);
}

TEST(NotificationCenter, QueuedDeliveryIsDroppedWhenRemovedBeforeItRuns) {
  auto center = NotificationCenter::create();
  std::atomic<int> calls{0};
  NotificationToken token = center->addObserver("A", nullptr, DispatchQueue::main(),
                                                [&](const Notification&) { ++calls; });
  std::thread poster([&] { center->post("A"); });
  poster.join();
  token.remove();
  RunLoop::main().drain();
  EXPECT_EQ(calls, 0);
}

TEST(NotificationCenter, ManyThreadsPostWhileOthersAddAndRemove) {
  auto center = NotificationCenter::create();
  std::atomic<long> delivered{0};
  std::atomic<bool> stop{false};
  ScopedNotificationToken steady =
      center->addObserver("A", nullptr, nullptr, [&](const Notification&) { ++delivered; });
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      auto sender = std::make_shared<Sender>();
      for (int k = 0; k < 2000; ++k)
        center->post(k % 2 ? "A" : "B", k % 3 ? sender : nullptr, Dictionary{{"i", Value(i)}});
    });
  }
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&] {
      while (!stop) {
        auto life = std::make_shared<int>(1);
        NotificationToken a =
            center->addObserver("A", nullptr, nullptr, [&](const Notification&) { ++delivered; });
        center->addObserver(
            "B", nullptr, nullptr, [&](const Notification&) { ++delivered; }, life);
        ScopedNotificationToken any =
            center->addObserver("", nullptr, DispatchQueue::main(), [](const Notification&) {});
        a.remove();
        life.reset();
      }
    });
  }
  for (int i = 0; i < 4; ++i) threads[i].join();
  stop = true;
  for (std::size_t i = 4; i < threads.size(); ++i) threads[i].join();
  EXPECT_GE(delivered, 4 * 1000);
  EXPECT_EQ(center->observerCount(), 1u);
  RunLoop::main().drain();  // the queued deliveries of the main-queue observers
}
