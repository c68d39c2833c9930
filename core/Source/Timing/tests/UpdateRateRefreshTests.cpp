// Objects whose wanted rate changes while they run: the scheduler re-reads the rates it holds and
// retimes in place, so the delegate (which keeps the machine awake) never hears a stop and a
// start, and the loop serves the new rate on whole ticks.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/Source/Timing/BTStopwatchControlViewModel.h"
#include "core/Source/Timing/BTTimingController.h"
#include "core/Source/Timing/BTUpdater.h"
#include "core/Source/Timing/tests/TimingTestSupport.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"

namespace {

class VariableRateObject : public BTUpdateable {
 public:
  explicit VariableRateObject(std::uint16_t rate) : rate(rate) {}
  void update() override { ++updates; }
  std::uint16_t updateRate() const override {
    ++rateReads;
    return rate;
  }
  std::uint16_t rate;
  int updates = 0;
  mutable int rateReads = 0;
};

class CountingDelegate : public BTUpdaterDelegate {
 public:
  void updaterDidBeginUpdating(BTUpdater&) override { ++began; }
  void updaterDidStopUpdating(BTUpdater&) override { ++stopped; }
  int began = 0;
  int stopped = 0;
};

std::size_t linesWith(const tw::LogCapture& log, const std::string& needle) {
  const auto lines = log.lines();
  return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const auto& l) {
    return l.find(needle) != std::string::npos;
  }));
}

class UpdateRateRefreshTest : public ::testing::Test {
 protected:
  UpdateRateRefreshTest() { updater->setDelegate(delegate); }

  // The immediate firing of a start, served by the loop.
  void settle() {
    ASSERT_TRUE(tw::test::pumpMainUntil([&] {
      return updater->updateTicks() > 0 && updater->servedTicks() == updater->updateTicks();
    }));
    tw::RunLoop::main().drain();
  }
  // One firing more, served by the loop, its updates run.
  void tick() {
    const std::uint64_t next = updater->updateTicks() + 1;
    clock.advance(updater->updateTimer()->interval());
    ASSERT_TRUE(tw::test::pumpMainUntil(
        [&] { return updater->updateTicks() == next && updater->servedTicks() == next; }));
    tw::RunLoop::main().drain();
  }

  tw::VirtualClock clock;
  tw::LogCapture log;
  std::shared_ptr<CountingDelegate> delegate = std::make_shared<CountingDelegate>();
  std::shared_ptr<BTUpdater> updater = std::make_shared<BTUpdater>();
};

TEST_F(UpdateRateRefreshTest, ANewRateRetimesTheRunningTimerWithoutStoppingIt) {
  auto timer = std::make_shared<VariableRateObject>(2);
  auto stopwatch = std::make_shared<VariableRateObject>(10);
  updater->addUpdateableObject(timer);
  updater->addUpdateableObject(stopwatch);
  ASSERT_EQ(updater->timerUpdateRate(), 20);
  settle();
  tick();
  log.clear();

  stopwatch->rate = 100;
  updater->refreshUpdateRates();
  EXPECT_EQ(updater->timerUpdateRate(), 200);
  EXPECT_DOUBLE_EQ(updater->updateTimer()->interval(), 0.005);
  EXPECT_TRUE(updater->updateTimer()->isActive());
  EXPECT_EQ(delegate->began, 1);
  EXPECT_EQ(delegate->stopped, 0);
  EXPECT_EQ(linesWith(log, "<BTUpdater> New Interval : 0.005000"), 1u);
  EXPECT_EQ(linesWith(log, "Stopping Update Loop"), 0u);
  EXPECT_EQ(linesWith(log, "Starting Update Loop"), 0u);
  EXPECT_EQ(updater->updateableObjects().size(), 2u);

  // The loop serves the new rates on whole ticks: 100 Hz every 2nd, 2 Hz every 100th.
  const int stopwatchBefore = stopwatch->updates;
  const int timerBefore = timer->updates;
  for (int i = 0; i < 200; ++i) tick();
  EXPECT_EQ(stopwatch->updates - stopwatchBefore, 100);
  EXPECT_EQ(timer->updates - timerBefore, 2);

  // Nothing changed: nothing is recomputed or logged.
  log.clear();
  updater->refreshUpdateRates();
  EXPECT_EQ(linesWith(log, "<BTUpdater>"), 0u);

  // Back down again.
  stopwatch->rate = 10;
  updater->refreshUpdateRates();
  EXPECT_EQ(updater->timerUpdateRate(), 20);
  EXPECT_EQ(delegate->began, 1);
  EXPECT_EQ(delegate->stopped, 0);
}

TEST_F(UpdateRateRefreshTest, ARefusedRateRaisesAndEveryObjectKeepsItsPreviousRate) {
  auto timer = std::make_shared<VariableRateObject>(2);
  auto stopwatch = std::make_shared<VariableRateObject>(10);
  updater->addUpdateableObject(timer);
  updater->addUpdateableObject(stopwatch);

  // 497 beside 2 needs a common multiple of 994; 1000 is above the limit on its own.
  for (std::uint16_t bad : {497, 1000}) {
    stopwatch->rate = bad;
    timer->rate = 4;
    try {
      updater->refreshUpdateRates();
      ADD_FAILURE() << "rate " << bad << " was accepted";
    } catch (const tw::Exception& e) {
      EXPECT_EQ(e.name(), tw::NSInternalInconsistencyException);
      EXPECT_EQ(e.reason(), "<BTUpdater> invalid updateable object rate; valid range <= 500 Hz");
    }
    // The timer's new 4 Hz was refused with the rest: the set is what it was.
    EXPECT_EQ(updater->optimalUpdateRate(), 20);
    EXPECT_EQ(updater->timerUpdateRate(), 20);
    EXPECT_TRUE(updater->updateTimer()->isActive());
    EXPECT_EQ(updater->updateableObjects().size(), 2u);
  }
  EXPECT_EQ(delegate->began, 1);
  EXPECT_EQ(delegate->stopped, 0);
}

TEST_F(UpdateRateRefreshTest, AnIdleUpdaterAsksNobodyAndStartsNothing) {
  auto object = std::make_shared<VariableRateObject>(2);
  updater->addUpdateableObject(object);
  updater->removeUpdateableObject(object);
  const int reads = object->rateReads;
  updater->refreshUpdateRates();
  EXPECT_EQ(object->rateReads, reads);
  EXPECT_FALSE(updater->updateTimer()->isActive());
  EXPECT_EQ(delegate->began, 1);
  EXPECT_EQ(delegate->stopped, 1);
}

// The timing controller answers an accuracy change with a refresh: with only stopwatches
// running, the old remove-and-add made the delegate hear a stop and a start.
class AccuracyChangeTest : public tw::test::TimingStoreTest {
 protected:
  void SetUp() override {
    TimingStoreTest::SetUp();
    BTStopwatchControlViewModel::setDefaultSettingsProvider(settings_);
    updater_->setDelegate(delegate_);
  }
  void TearDown() override {
    controller_.reset();
    updater_.reset();
    BTStopwatchControlViewModel::setDefaultSettingsProvider({});
    TimingStoreTest::TearDown();
  }
  void announceAccuracy(std::int64_t accuracy) {
    auto bundle = settings_->timeObjectsBundle();
    bundle->setStopwatchAccuracy(accuracy);
    bundle->notifySettingsChangedWithKeys(std::vector<std::string>{"stopwatchAccuracy"});
  }

  std::shared_ptr<tw::test::StubSettingsProvider> settings_ =
      std::make_shared<tw::test::StubSettingsProvider>();
  std::shared_ptr<CountingDelegate> delegate_ = std::make_shared<CountingDelegate>();
  std::shared_ptr<BTUpdater> updater_ = std::make_shared<BTUpdater>();
  std::shared_ptr<BTTimingController> controller_ =
      std::make_shared<BTTimingController>(updater_, executor_);
};

TEST_F(AccuracyChangeTest, OnlyStopwatchesRunningTheDelegateHearsNothingAndTheIntervalChanges) {
  auto running = managedObject<BTStopwatch>();
  auto paused = managedObject<BTStopwatch>();
  auto later = managedObject<BTStopwatch>();
  auto a = controller_->timingControlForTimingObject(running);
  auto b = controller_->timingControlForTimingObject(paused);
  auto c = controller_->timingControlForTimingObject(later);
  b->start();
  b->pause();
  a->start();  // the one running object: taking it off even for a moment would stop the timer
  ASSERT_EQ(delegate_->began, 2);
  ASSERT_EQ(delegate_->stopped, 1);
  ASSERT_DOUBLE_EQ(updater_->updateTimer()->interval(), 0.05);

  tw::LogCapture log;
  announceAccuracy(1);
  EXPECT_DOUBLE_EQ(updater_->updateTimer()->interval(), 0.005);
  EXPECT_TRUE(updater_->updateTimer()->isActive());
  EXPECT_EQ(delegate_->began, 2);
  EXPECT_EQ(delegate_->stopped, 1);
  EXPECT_EQ(updater_->updateableObjects().size(), 1u);
  EXPECT_EQ(linesWith(log, "Stopping Update Loop"), 0u);

  // Ticking at 200 Hz: the running one follows the clock, the paused one is left alone.
  const double pausedValue = paused->timingValue();
  clock_.advance(0.1);
  ASSERT_TRUE(
      tw::test::pumpMainUntil([&] { return updater_->servedTicks() == updater_->updateTicks(); }));
  tw::RunLoop::main().drain();
  // Served every 10 ms, so the last update is at most that far behind.
  EXPECT_GE(running->timingValue(), 0.09 - 1e-6);
  EXPECT_LE(running->timingValue(), 0.1 + 1e-6);
  EXPECT_EQ(paused->timingValue(), pausedValue);

  // Those that start now take the new rate; a further change retimes all of them at once.
  b->start();
  c->start();
  EXPECT_EQ(updater_->updateableObjects().size(), 3u);
  EXPECT_DOUBLE_EQ(updater_->updateTimer()->interval(), 0.005);
  announceAccuracy(0);
  EXPECT_DOUBLE_EQ(updater_->updateTimer()->interval(), 0.05);
  EXPECT_EQ(delegate_->began, 2);
  EXPECT_EQ(delegate_->stopped, 1);
  EXPECT_EQ(linesWith(log, "Stopping Update Loop"), 0u);
  EXPECT_EQ(linesWith(log, "Starting Update Loop"), 0u);
}

}  // namespace
