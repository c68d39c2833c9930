#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/Source/Timing/BTUpdater.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/testsupport/TestSupport.h"

namespace {

constexpr const char* kInvalidRate =
    "<BTUpdater> invalid updateable object rate; valid range <= 500 Hz";

class FakeUpdateable : public BTUpdateable {
 public:
  explicit FakeUpdateable(std::uint16_t rate, std::shared_ptr<int> sink = nullptr)
      : rate_(rate), sink_(sink ? std::move(sink) : std::make_shared<int>(0)) {}
  void update() override {
    EXPECT_TRUE(tw::isMainThread());
    ++*sink_;
  }
  std::uint16_t updateRate() const override { return rate_; }
  int updates() const { return *sink_; }

 private:
  std::uint16_t rate_;
  std::shared_ptr<int> sink_;
};

class RecordingDelegate : public BTUpdaterDelegate {
 public:
  void updaterDidBeginUpdating(BTUpdater&) override { ++began; }
  void updaterDidStopUpdating(BTUpdater&) override { ++stopped; }
  int began = 0;
  int stopped = 0;
};

std::size_t countLines(const tw::LogCapture& log, std::string_view needle) {
  auto lines = log.lines();
  return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const auto& l) {
    return l.find(needle) != std::string::npos;
  }));
}

// Timer driven by a virtual clock; every wait for the loop is bounded in real time.
class UpdaterTest : public ::testing::Test {
 protected:
  UpdaterTest() { updater->setDelegate(delegate); }

  // Waits until the timer has fired `ticks` times in all and the loop has finished with each
  // firing, then runs the updates the loop queued.
  void settleAt(std::uint64_t ticks) {
    ASSERT_TRUE(tw::test::pumpMainUntil([&] {
      return updater->updateTicks() == ticks && updater->servedTicks() == ticks;
    })) << "ticks "
        << updater->updateTicks() << " served " << updater->servedTicks();
    tw::RunLoop::main().drain();
  }
  // One more firing: the clock steps one interval and the loop serves it.
  void tick() {
    const std::uint64_t next = updater->updateTicks() + 1;
    clock.advance(updater->updateTimer()->interval());
    settleAt(next);
  }

  tw::VirtualClock clock;
  tw::LogCapture log;
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<BTUpdater> updater = std::make_shared<BTUpdater>();
};

TEST_F(UpdaterTest, TimerRateServesEveryObjectOnWholeTicks) {
  struct Case {
    std::vector<std::uint16_t> rates;
    std::uint16_t expected;
  };
  const Case cases[] = {{{2}, 4},        {{2, 10}, 20},     {{10}, 20},   {{100}, 200},
                        {{2, 100}, 200}, {{10, 100}, 200},  {{3, 4}, 12}, {{2, 2}, 4},
                        {{500}, 1000},   {{250, 500}, 1000}};
  for (const Case& c : cases) {
    auto u = std::make_shared<BTUpdater>();
    std::vector<std::shared_ptr<FakeUpdateable>> objects;
    for (auto r : c.rates) {
      objects.push_back(std::make_shared<FakeUpdateable>(r));
      u->addUpdateableObject(objects.back());
    }
    EXPECT_EQ(u->optimalUpdateRate(), c.expected) << "first rate " << c.rates.front();
    EXPECT_EQ(u->timerUpdateRate(), c.expected);
    EXPECT_DOUBLE_EQ(u->updateTimer()->interval(), 1.0 / c.expected);
    EXPECT_TRUE(u->updateTimer()->isActive());
  }
  EXPECT_EQ(std::make_shared<BTUpdater>()->optimalUpdateRate(), 0);
}

TEST_F(UpdaterTest, AddingOrRemovingTwiceRecomputesNothing) {
  auto timer = std::make_shared<FakeUpdateable>(2);
  updater->addUpdateableObject(timer);
  EXPECT_EQ(countLines(log, "<BTUpdater> New Interval : 0.250000"), 1u);
  EXPECT_EQ(countLines(log, "<BTUpdater> Starting Update Loop"), 1u);

  updater->addUpdateableObject(timer);
  EXPECT_EQ(updater->updateableObjects().size(), 1u);
  EXPECT_EQ(countLines(log, "<BTUpdater>"), 2u);
  EXPECT_EQ(delegate->began, 1);

  updater->removeUpdateableObject(std::make_shared<FakeUpdateable>(2));
  updater->removeUpdateableObject(nullptr);
  updater->addUpdateableObject(nullptr);
  EXPECT_EQ(countLines(log, "<BTUpdater>"), 2u);
  EXPECT_EQ(delegate->stopped, 0);
  EXPECT_TRUE(updater->updateTimer()->isActive());
}

TEST_F(UpdaterTest, OneTimerTicksAtFourHertzAndUpdatesEverySecondTick) {
  auto timer = std::make_shared<FakeUpdateable>(2);
  updater->addUpdateableObject(timer);
  EXPECT_DOUBLE_EQ(updater->updateTimer()->interval(), 0.25);
  EXPECT_EQ(delegate->began, 1);

  settleAt(1);  // the immediate firing: tick 1 is odd
  EXPECT_EQ(timer->updates(), 0);
  std::vector<int> seen;
  for (int i = 0; i < 8; ++i) {
    tick();
    seen.push_back(timer->updates());
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 1, 2, 2, 3, 3, 4, 4}));
  EXPECT_EQ(updater->updateTicks(), 9u);
}

TEST_F(UpdaterTest, AddingAFasterObjectRetimesWithoutStopping) {
  auto timer = std::make_shared<FakeUpdateable>(2);
  updater->addUpdateableObject(timer);
  settleAt(1);
  tick();
  auto stopwatch = std::make_shared<FakeUpdateable>(10);
  updater->addUpdateableObject(stopwatch);
  EXPECT_DOUBLE_EQ(updater->updateTimer()->interval(), 0.05);
  EXPECT_TRUE(updater->updateTimer()->isActive());
  EXPECT_EQ(delegate->began, 1);
  EXPECT_EQ(delegate->stopped, 0);
  EXPECT_EQ(countLines(log, "<BTUpdater> New Interval : 0.050000"), 1u);
  EXPECT_EQ(countLines(log, "<BTUpdater> Starting Update Loop"), 1u);

  // Twenty ticks at 20 Hz: every second one serves the stopwatch, every tenth the timer.
  const int timerBefore = timer->updates();
  for (int i = 0; i < 20; ++i) tick();
  EXPECT_EQ(stopwatch->updates(), 10);
  EXPECT_EQ(timer->updates() - timerBefore, 2);
}

TEST_F(UpdaterTest, RemovingTheLastObjectStopsTheTimerAndTellsTheDelegateOnce) {
  auto a = std::make_shared<FakeUpdateable>(2);
  auto b = std::make_shared<FakeUpdateable>(10);
  updater->addUpdateableObject(a);
  updater->addUpdateableObject(b);
  settleAt(1);
  updater->removeUpdateableObject(b);
  EXPECT_DOUBLE_EQ(updater->updateTimer()->interval(), 0.25);
  EXPECT_EQ(delegate->stopped, 0);
  updater->removeUpdateableObject(a);
  updater->removeUpdateableObject(a);
  EXPECT_FALSE(updater->updateTimer()->isActive());
  EXPECT_EQ(delegate->stopped, 1);
  EXPECT_EQ(countLines(log, "<BTUpdater> Stopping Update Loop"), 1u);
  EXPECT_TRUE(updater->updateableObjects().empty());

  // Stopped means stopped: time passes and nothing fires.
  const auto ticks = updater->updateTicks();
  const int updates = a->updates();
  clock.advance(2.0);
  tw::RunLoop::main().drain();
  EXPECT_EQ(updater->updateTicks(), ticks);
  EXPECT_EQ(a->updates(), updates);

  // And it starts again, telling the delegate again.
  updater->addUpdateableObject(a);
  EXPECT_TRUE(updater->updateTimer()->isActive());
  EXPECT_EQ(delegate->began, 2);
}

TEST_F(UpdaterTest, InvalidRatesRaiseAndLeaveTheUpdaterAsItWas) {
  auto timer = std::make_shared<FakeUpdateable>(2);
  updater->addUpdateableObject(timer);
  log.clear();

  // 1000 Hz is above the limit, 0 Hz is no rate at all, and 132 Hz beside 497 Hz needs a common
  // multiple of 65604, whose low 16 bits (68) would pass for a valid rate.
  updater->addUpdateableObject(std::make_shared<FakeUpdateable>(132));
  for (std::uint16_t rate : {1000, 0, 497}) {
    auto bad = std::make_shared<FakeUpdateable>(rate);
    try {
      updater->addUpdateableObject(bad);
      ADD_FAILURE() << "rate " << rate << " was accepted";
    } catch (const tw::Exception& e) {
      EXPECT_STREQ(e.name().c_str(), tw::NSInternalInconsistencyException);
      EXPECT_EQ(e.reason(), kInvalidRate);
    }
    auto objects = updater->updateableObjects();
    EXPECT_EQ(objects.size(), 2u);
    EXPECT_EQ(std::find(objects.begin(), objects.end(), bad), objects.end());
    EXPECT_EQ(updater->optimalUpdateRate(), 132u * 2);
  }
  EXPECT_DOUBLE_EQ(updater->updateTimer()->interval(), 1.0 / 264);
  EXPECT_EQ(delegate->began, 1);
  EXPECT_EQ(countLines(log, "Starting Update Loop"), 0u);

  // On an idle updater a refused object does not start anything either.
  auto idle = std::make_shared<BTUpdater>();
  EXPECT_THROW(idle->addUpdateableObject(std::make_shared<FakeUpdateable>(501)), tw::Exception);
  EXPECT_FALSE(idle->updateTimer()->isActive());
  EXPECT_TRUE(idle->updateableObjects().empty());
}

TEST_F(UpdaterTest, QueuedUpdatesNeverReachADestroyedObject) {
  auto keeperSink = std::make_shared<int>(0);
  auto victimSink = std::make_shared<int>(0);
  auto keeper = std::make_shared<FakeUpdateable>(2, keeperSink);
  auto victim = std::make_shared<FakeUpdateable>(2, victimSink);
  // The tick count runs on across restarts, so the second start's immediate firing is tick 2, on
  // which both objects are due.
  updater->addUpdateableObject(keeper);
  settleAt(1);
  updater->removeUpdateableObject(keeper);
  // The victim starts the timer, whose immediate firing waits on the main queue; the block queued
  // behind it runs after the firing has queued both updates, and destroys the victim. The keeper
  // keeps the timer running, so the removal does not stop (nor pump) anything.
  updater->addUpdateableObject(victim);
  updater->addUpdateableObject(keeper);
  std::weak_ptr<FakeUpdateable> weak = victim;
  std::size_t queuedWhenRemoved = 0;
  tw::onMain([&] {
    queuedWhenRemoved = updater->servedTicks() == 2 ? tw::RunLoop::main().pendingCount() : 0;
    updater->removeUpdateableObject(victim);
    victim.reset();
  });
  tw::RunLoop::main().drain();
  EXPECT_EQ(queuedWhenRemoved, 2u);
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(*victimSink, 0);
  EXPECT_EQ(*keeperSink, 1);
}

TEST_F(UpdaterTest, ADelegateThatWentAwayIsNotCalled) {
  updater->setDelegate(std::weak_ptr<BTUpdaterDelegate>(std::make_shared<RecordingDelegate>()));
  auto timer = std::make_shared<FakeUpdateable>(2);
  updater->addUpdateableObject(timer);
  updater->removeUpdateableObject(timer);
  EXPECT_FALSE(updater->updateTimer()->isActive());
}

// An update that adds or removes objects while the timer stops must not leave the delegate
// believing the opposite of what the timer does.
class ReentrantDelegate : public BTUpdaterDelegate {
 public:
  std::shared_ptr<BTUpdateable> toAdd;
  void updaterDidBeginUpdating(BTUpdater&) override { ++running; }
  void updaterDidStopUpdating(BTUpdater& u) override {
    --running;
    if (toAdd) u.addUpdateableObject(std::exchange(toAdd, nullptr));
  }
  int running = 0;
};

TEST_F(UpdaterTest, ChangesFromInsideADelegateCallKeepTimerAndDelegateInStep) {
  auto d = std::make_shared<ReentrantDelegate>();
  updater->setDelegate(d);
  auto a = std::make_shared<FakeUpdateable>(2);
  d->toAdd = std::make_shared<FakeUpdateable>(10);
  updater->addUpdateableObject(a);
  updater->removeUpdateableObject(a);
  EXPECT_TRUE(updater->updateTimer()->isActive());
  EXPECT_EQ(d->running, 1);
  EXPECT_DOUBLE_EQ(updater->updateTimer()->interval(), 0.05);
}

TEST(UpdaterLifetime, DestroyingARunningUpdaterEndsItsLoop) {
  tw::VirtualClock clock;
  auto sink = std::make_shared<int>(0);
  auto object = std::make_shared<FakeUpdateable>(100, sink);
  {
    auto updater = std::make_shared<BTUpdater>();
    updater->addUpdateableObject(object);
    for (int i = 0; i < 10; ++i) clock.advance(0.005);
    ASSERT_TRUE(tw::test::pumpMainUntil([&] { return updater->servedTicks() == 11; }));
  }  // must return: the loop ends and the timer stops
  tw::RunLoop::main().drain();
  const int updates = *sink;
  EXPECT_GE(updates, 5);
  clock.advance(1.0);
  tw::RunLoop::main().drain();
  EXPECT_EQ(*sink, updates);
  EXPECT_EQ(object.use_count(), 1);  // the updater let go of it
}

// Adds and removes at a high rate on the main thread while the real timer runs up to 200 Hz and
// the loop walks the set; run under ThreadSanitizer as well. Rates are divisors of 100, so every
// combination is valid.
TEST(UpdaterStress, RandomAddsAndRemovesWhileTheLoopRuns) {
  auto updater = std::make_shared<BTUpdater>();
  auto delegate = std::make_shared<RecordingDelegate>();
  updater->setDelegate(delegate);
  const std::uint16_t rates[] = {1, 2, 4, 5, 10, 20, 25, 50, 100};
  auto sink = std::make_shared<int>(0);
  std::vector<std::shared_ptr<FakeUpdateable>> pool;
  for (auto r : rates) pool.push_back(std::make_shared<FakeUpdateable>(r, sink));

  std::mt19937 random(12345);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
  long operations = 0;
  while (std::chrono::steady_clock::now() < end || operations < 20000) {
    auto& slot = pool[random() % pool.size()];
    switch (random() % 4) {
      case 0:
      case 1:
        updater->addUpdateableObject(slot);
        break;
      case 2:
        updater->removeUpdateableObject(slot);
        break;
      case 3:  // the object goes away for good; a fresh one takes its place
        updater->removeUpdateableObject(slot);
        slot = std::make_shared<FakeUpdateable>(slot->updateRate(), sink);
        break;
    }
    if (++operations % 64 == 0) tw::RunLoop::main().drain();
  }
  for (auto& o : pool) updater->removeUpdateableObject(o);
  tw::RunLoop::main().drain();
  EXPECT_FALSE(updater->updateTimer()->isActive());
  EXPECT_EQ(delegate->began, delegate->stopped);
  EXPECT_GT(delegate->began, 0);
  EXPECT_GT(*sink, 0) << "the loop never delivered an update";
  EXPECT_GT(updater->updateTicks(), 0u);
}

}  // namespace

// Real clock: a 2 Hz object on the 4 Hz timer, which fires on the main queue. Every tick is
// counted and served, passes happen only on the due (even) ticks, and only the main thread wakes
// for them, about once per due tick rather than once per tick.
TEST(UpdaterWakeUps, ADueTickWakesOnlyTheMainThreadAndIdleTicksWakeNothing) {
  auto updater = std::make_shared<BTUpdater>();
  std::mutex mutex;
  std::vector<std::uint64_t> passes;
  updater->setTickObserver([&](std::uint64_t tick) {
    std::lock_guard lock(mutex);
    passes.push_back(tick);
  });
  auto object = std::make_shared<FakeUpdateable>(2);
  updater->addUpdateableObject(object);
  ASSERT_TRUE(tw::test::pumpMainUntil([&] { return updater->servedTicks() >= 1; }, 10));
  const std::uint64_t startTick = updater->updateTicks();
  const int updatesBefore = object->updates();
  // Two seconds of the main loop alone: 8 ticks, 4 of them due. Only the stop at the end wakes
  // another thread (the scheduler's, which keeps delayed work); on a loaded machine a thread may
  // also block on a lock a moment, so the bound is well below the one wake per tick a hop through
  // another thread would cost.
  const long mainBefore = tw::test::thisThreadWakes();
  const long othersBefore = tw::test::dispatchThreadsWakes();
  tw::DispatchQueue::main()->after(2.0, [] { tw::RunLoop::main().stop(); });
  tw::RunLoop::main().run();
  const long mainWakes = tw::test::thisThreadWakes() - mainBefore;
  const long otherWakes = tw::test::dispatchThreadsWakes() - othersBefore;
  const std::uint64_t ticks = updater->updateTicks() - startTick;
  tw::RunLoop::main().drain();
  const int updates = object->updates() - updatesBefore;
  updater->removeUpdateableObject(object);

  EXPECT_GE(ticks, 7u);
  EXPECT_LE(ticks, 9u);
  EXPECT_GE(updates, 3);
  EXPECT_LE(mainWakes, 7) << "the main thread woke on idle ticks";
  EXPECT_LE(otherWakes, static_cast<long>(ticks) - 3) << "another thread woke for the ticks";
  std::lock_guard lock(mutex);
  for (std::uint64_t tick : passes) EXPECT_EQ(tick % 2, 0u) << "a pass on idle tick " << tick;
  EXPECT_GE(passes.size(), 3u);
}
