// The timing controller with a real tick scheduler under the virtual clock: one control per time
// object, the scheduler's set following the running state, runs that survive a restart of the
// application, deleted objects, and what the scheduler refuses.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/Source/Library/BTDateUtility.h"
#include "core/Source/Settings/BTSettingsNotification.h"
#include "core/Source/Timing/BTAlarmControlViewModel.h"
#include "core/Source/Timing/BTStopwatchControlViewModel.h"
#include "core/Source/Timing/BTTimerControlViewModel.h"
#include "core/Source/Timing/BTTimingController.h"
#include "core/Source/Timing/tests/TimingTestSupport.h"
#include "platform/desktop/TimeZoneMonitor.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"

namespace {

using tw::test::makeTimer;

using tw::Date;

class TimingControllerTest : public tw::test::TimingStoreTest {
 protected:
  void SetUp() override {
    TimingStoreTest::SetUp();
    launch();
  }
  void TearDown() override {
    quit();
    TimingStoreTest::TearDown();
  }

  // What a start of the application makes; quit() is the process going away.
  void launch() {
    updater_ = std::make_shared<BTUpdater>();
    controller_ = std::make_shared<BTTimingController>(updater_, executor_);
  }
  void quit() {
    controller_.reset();
    updater_.reset();
    tw::RunLoop::main().drain();
  }

  std::shared_ptr<BTTimeObjectControlViewModel> controlFor(const std::shared_ptr<tw::Object>& o) {
    return controller_->timingControlForTimingObject(o);
  }
  bool isScheduled(const std::shared_ptr<BTTimeObjectControlViewModel>& control) const {
    const auto objects = updater_->updateableObjects();
    const std::shared_ptr<BTUpdateable> u = control;
    return std::find(objects.begin(), objects.end(), u) != objects.end();
  }
  // Moves the clock and lets the scheduler serve every firing that came due on the way, then
  // runs the updates it queued.
  void step(double seconds) {
    clock_.advance(seconds);
    ASSERT_TRUE(tw::test::pumpMainUntil(
        [&] { return updater_->servedTicks() == updater_->updateTicks(); }));
    tw::RunLoop::main().drain();
  }

  std::shared_ptr<BTUpdater> updater_;
  std::shared_ptr<BTTimingController> controller_;
};

TEST_F(TimingControllerTest, OneControlPerTimeObjectMadeByItsKind) {
  auto timer = makeTimer(10);
  auto alarm = makeAlarm(7, 0, 0);
  auto stopwatch = managedObject<BTStopwatch>();

  auto control = controlFor(timer);
  ASSERT_TRUE(control);
  EXPECT_TRUE(std::dynamic_pointer_cast<BTTimerControlViewModel>(control));
  EXPECT_TRUE(std::dynamic_pointer_cast<BTAlarmControlViewModel>(controlFor(alarm)));
  EXPECT_TRUE(std::dynamic_pointer_cast<BTStopwatchControlViewModel>(controlFor(stopwatch)));
  EXPECT_EQ(control->timingObject().get(), static_cast<BTTiming*>(timer.get()));

  // Asked again: the same control, neither synchronized nor observed a second time.
  const std::size_t observations = control->observationCount();
  EXPECT_EQ(controlFor(timer), control);
  EXPECT_EQ(control->observationCount(), observations);
  EXPECT_EQ(controller_->controlCount(), 3u);

  EXPECT_EQ(controller_->stopwatchControlForStopwatchObject(stopwatch), controlFor(stopwatch));
  auto other = makeTimer(3);
  EXPECT_FALSE(controller_->stopwatchControlForStopwatchObject(other));
  EXPECT_EQ(controller_->controlCount(), 3u);  // the timer got no control from that

  auto noUuid = makeTimer(3);
  noUuid->setUuid(std::nullopt);
  EXPECT_FALSE(controlFor(noUuid));
  EXPECT_EQ(controller_->controlCount(), 3u);
}

TEST_F(TimingControllerTest, MisuseRaisesWithTheFixedReasons) {
  try {
    controlFor(managedObject<BTTimeSetting>());
    FAIL() << "no exception";
  } catch (const tw::Exception& e) {
    EXPECT_EQ(e.name(), tw::NSInternalInconsistencyException);
    EXPECT_EQ(e.reason(), "Unsupported class type for `timingObject`");
  }
  try {
    BTTimingController plain;
    FAIL() << "no exception";
  } catch (const tw::Exception& e) {
    EXPECT_EQ(e.reason(), "Unsupported initalizer use `initWithUpdater:` instead");
  }
}

TEST_F(TimingControllerTest, TheSchedulerHoldsExactlyTheRunningControls) {
  auto timer = makeTimer(60);
  auto control = controlFor(timer);
  EXPECT_FALSE(isScheduled(control));
  control->start();
  EXPECT_TRUE(isScheduled(control));
  EXPECT_TRUE(updater_->updateTimer()->isActive());
  control->pause();
  EXPECT_FALSE(isScheduled(control));
  EXPECT_FALSE(updater_->updateTimer()->isActive());
  control->startOrPause();
  EXPECT_TRUE(isScheduled(control));
  control->reset();
  EXPECT_FALSE(isScheduled(control));
}

TEST_F(TimingControllerTest, AThreeSecondTimerFinishesThenResetsASecondLater) {
  auto timer = makeTimer(3);
  auto finish = addStateAction(timer, tw::kTimingStateRunning, tw::kTimingStateFinished);
  auto control = controlFor(timer);
  std::vector<std::pair<std::int64_t, double>> heard;  // state, when
  auto observation =
      timer->observeScoped("timingState", tw::KVONew, [&](const tw::KeyValueChange& c) {
        heard.emplace_back(c.newValue.integerValue(), now() - kStart);
      });

  control->startOrPause();
  std::vector<double> shown;
  while (now() < kStart + 5) {
    step(0.25);
    if (timer->timingState() == tw::kTimingStateRunning) shown.push_back(timer->timingValue());
  }
  // The finish comes on the first 2 Hz tick at or after the 3 s mark; the reset one second
  // after the finish.
  ASSERT_EQ(heard.size(), 3u);
  EXPECT_EQ(heard[0], (std::pair<std::int64_t, double>(tw::kTimingStateRunning, 0.0)));
  EXPECT_EQ(heard[1].first, tw::kTimingStateFinished);
  EXPECT_GE(heard[1].second, 3.0);
  EXPECT_LT(heard[1].second, 3.5);
  EXPECT_EQ(heard[2],
            (std::pair<std::int64_t, double>(tw::kTimingStateReset, heard[1].second + 1.0)));
  EXPECT_EQ(executor_->countFor(finish), 1);
  EXPECT_EQ(executor_->calls.at(0).state, tw::kTimingStateFinished);
  EXPECT_EQ(executor_->calls.at(0).value, 0.0);
  // Whole seconds counting down.
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front(), 3.0);
  EXPECT_EQ(shown.back(), 1.0);
  EXPECT_EQ(timer->timingValue(), 3.0);
  EXPECT_FALSE(isScheduled(control));
  EXPECT_FALSE(updater_->updateTimer()->isActive());
}

TEST_F(TimingControllerTest, ATimerStartedBetweenTicksFinishesAtItsFinishMoment) {
  // A long timer fixes the scheduler's phase; the short one starts 0.3 s later, so its finish
  // falls between two of its 2 Hz updates.
  auto anchor = makeTimer(60);
  controlFor(anchor)->startOrPause();
  step(0.3);
  auto timer = makeTimer(1);
  double finishedAt = -1;
  auto observation =
      timer->observeScoped("timingState", tw::KVONew, [&](const tw::KeyValueChange& c) {
        if (c.newValue.integerValue() == tw::kTimingStateFinished) finishedAt = now() - kStart;
      });
  controlFor(timer)->startOrPause();
  for (int i = 0; i < 40 && finishedAt < 0; ++i) step(0.05);
  EXPECT_NEAR(finishedAt, 1.3, 1e-6);
}

TEST_F(TimingControllerTest, ARunningTimerRunsOnAcrossARestart) {
  auto timer = makeTimer(90);
  const std::string uuid = *timer->uuid();
  controlFor(timer)->start();
  quit();
  reopen();
  advance(30);
  launch();

  auto restored = findByUuid<BTTimer>(uuid);
  ASSERT_TRUE(restored);
  auto control = controlFor(restored);
  EXPECT_EQ(restored->timingState(), tw::kTimingStateRunning);
  EXPECT_TRUE(isScheduled(control));
  step(0.5);
  EXPECT_EQ(restored->timingValue(), 60.0);
  EXPECT_EQ(restored->finishDate(), Date{kStart + 90});
}

TEST_F(TimingControllerTest, APausedTimerKeepsItsValueAcrossARestart) {
  auto timer = makeTimer(90);
  const std::string uuid = *timer->uuid();
  auto control = controlFor(timer);
  control->start();
  advance(30);
  control->pause();
  quit();
  reopen();
  advance(100);
  launch();

  auto restored = findByUuid<BTTimer>(uuid);
  auto again = controlFor(restored);
  EXPECT_EQ(restored->timingState(), tw::kTimingStatePaused);
  EXPECT_EQ(restored->timingValue(), 60.0);
  EXPECT_FALSE(isScheduled(again));
  again->start();
  EXPECT_EQ(restored->finishDate(), Date{now() + 60});
  EXPECT_EQ(restored->timingValue(), 60.0);
}

TEST_F(TimingControllerTest, ATimerThatFinishedWhileTheProgramWasGoneFinishesOnItsFirstTick) {
  auto timer = makeTimer(90);
  const std::string uuid = *timer->uuid();
  addStateAction(timer, tw::kTimingStateRunning, tw::kTimingStateFinished);
  controlFor(timer)->start();
  quit();
  reopen();
  advance(200);
  launch();

  auto restored = findByUuid<BTTimer>(uuid);
  ASSERT_EQ(restored->actions().size(), 1u);
  auto finish = restored->actions().front();
  auto control = controlFor(restored);
  EXPECT_EQ(restored->timingState(), tw::kTimingStateRunning);
  EXPECT_TRUE(isScheduled(control));
  EXPECT_TRUE(executor_->calls.empty());

  step(0.25);
  step(0.25);
  EXPECT_EQ(restored->timingState(), tw::kTimingStateFinished);
  EXPECT_EQ(restored->timingValue(), 0.0);
  EXPECT_EQ(executor_->countFor(finish), 1);
  EXPECT_FALSE(isScheduled(control));
  // A tick queued before the finish, and the reset a second later, fire nothing more.
  control->update();
  step(1.0);
  EXPECT_EQ(restored->timingState(), tw::kTimingStateReset);
  EXPECT_EQ(executor_->countFor(finish), 1);
}

TEST_F(TimingControllerTest, StoredFinishedObjectsAreResetAndPausedStopwatchesShowTheirTime) {
  auto timer = makeTimer(45);
  const std::string timerUuid = *timer->uuid();
  timer->setFinishDate(Date{kStart - 1});
  timer->setTimingState(tw::kTimingStateFinished);
  auto stopwatch = managedObject<BTStopwatch>();
  const std::string stopwatchUuid = *stopwatch->uuid();
  stopwatch->setTimingState(tw::kTimingStatePaused);
  stopwatch->setStartDate(Date{kStart - 100});
  stopwatch->setPauseDate(Date{kStart - 25.5});
  quit();
  reopen();
  launch();

  auto restoredTimer = findByUuid<BTTimer>(timerUuid);
  auto timerControl = controlFor(restoredTimer);
  EXPECT_EQ(restoredTimer->timingState(), tw::kTimingStateReset);
  EXPECT_FALSE(restoredTimer->finishDate());
  EXPECT_EQ(restoredTimer->timingValue(), 45.0);
  EXPECT_FALSE(isScheduled(timerControl));

  auto restoredStopwatch = findByUuid<BTStopwatch>(stopwatchUuid);
  auto stopwatchControl = controlFor(restoredStopwatch);
  EXPECT_EQ(restoredStopwatch->timingState(), tw::kTimingStatePaused);
  EXPECT_EQ(restoredStopwatch->timingValue(), 74.5);
  EXPECT_FALSE(isScheduled(stopwatchControl));
}

TEST_F(TimingControllerTest, ADeletedTimeObjectsControlIsResetAndForgotten) {
  enum class Way { Reported, Saved, NeverSaved };
  for (Way way : {Way::Reported, Way::Saved, Way::NeverSaved}) {
    SCOPED_TRACE(static_cast<int>(way));
    auto timer = makeTimer(5);
    auto finish = addStateAction(timer, tw::kTimingStateRunning, tw::kTimingStateFinished);
    auto control = controlFor(timer);
    control->start();
    ASSERT_TRUE(isScheduled(control));
    if (way == Way::Saved)
      service_->save();
    else
      tw::RunLoop::main().drain();  // its insertion announced

    if (way == Way::Reported) {
      // Told by whoever deletes it, while the object is still whole.
      controller_->timeObjectWillBeDeleted(timer);
      EXPECT_EQ(controller_->controlCount(), 0u);
      EXPECT_FALSE(isScheduled(control));
      EXPECT_EQ(timer->timingValue(), 5.0);
    }
    deleteObject(timer);
    tw::RunLoop::main().drain();
    EXPECT_EQ(controller_->controlCount(), 0u);
    EXPECT_FALSE(isScheduled(control));
    EXPECT_EQ(timer->timingState(), tw::kTimingStateReset);
    EXPECT_FALSE(updater_->updateTimer()->isActive());
    EXPECT_FALSE(controlFor(timer));

    step(10);
    EXPECT_EQ(executor_->countFor(finish), 0);
  }
}

TEST_F(TimingControllerTest, AnObjectDeletedUnannouncedStopsOnItsNextTick) {
  // Inserted and deleted within one turn: no announcement names it.
  auto timer = makeTimer(5);
  auto finish = addStateAction(timer, tw::kTimingStateRunning, tw::kTimingStateFinished);
  auto control = controlFor(timer);
  control->start();
  deleteObject(timer);
  step(0.5);
  EXPECT_EQ(timer->timingState(), tw::kTimingStateReset);
  EXPECT_FALSE(isScheduled(control));
  step(10);
  EXPECT_EQ(executor_->countFor(finish), 0);
}

TEST_F(TimingControllerTest, AFinishedObjectDeletedBeforeItsResetStaysDeletedAndSilent) {
  auto timer = makeTimer(1);
  auto control = controlFor(timer);
  control->start();
  step(1.5);
  ASSERT_EQ(timer->timingState(), tw::kTimingStateFinished);
  deleteObject(timer);
  tw::RunLoop::main().drain();
  EXPECT_EQ(timer->timingState(), tw::kTimingStateReset);
  step(2.0);
  EXPECT_EQ(controller_->controlCount(), 0u);
  EXPECT_EQ(timer->timingState(), tw::kTimingStateReset);
}

// A control whose rate the scheduler refuses.
class TooFastTimerControl : public BTTimerControlViewModel {
 public:
  using BTTimerControlViewModel::BTTimerControlViewModel;
  std::uint16_t updateRate() const override { return 1000; }
};

class TooFastTimingController : public BTTimingController {
 public:
  using BTTimingController::BTTimingController;
  std::shared_ptr<BTTimeObjectControlViewModel> createTimingControlForTimeObject(
      const std::shared_ptr<BTTimeObject>& timeObject) override {
    return BTTimeObjectControlViewModel::create<TooFastTimerControl>(timeObject, actionExecutor());
  }
};

TEST_F(TimingControllerTest, ARefusedRateIsLoggedAndNeverEscapesTheStateObserver) {
  auto controller = std::make_shared<TooFastTimingController>(updater_, executor_);
  auto timer = makeTimer(10);
  auto control = controller->timingControlForTimingObject(timer);
  tw::LogCapture log;
  EXPECT_NO_THROW(control->start());
  EXPECT_EQ(timer->timingState(), tw::kTimingStateRunning);
  EXPECT_TRUE(log.contains("<BTTimingController> Could not schedule updates of " + *timer->uuid() +
                           ": <BTUpdater> invalid updateable object rate; valid range <= 500 Hz"));
  EXPECT_TRUE(updater_->updateableObjects().empty());
  EXPECT_NO_THROW(control->reset());
}

TEST_F(TimingControllerTest, StopwatchAccuracySetsTheRateAndAChangeReachesTheScheduler) {
  auto settings = std::make_shared<tw::test::StubSettingsProvider>();
  BTStopwatchControlViewModel::setDefaultSettingsProvider(settings);
  auto bundle = settings->timeObjectsBundle();
  auto timer = makeTimer(600);
  auto stopwatch = managedObject<BTStopwatch>();
  controlFor(timer)->start();
  auto control = controlFor(stopwatch);
  control->start();
  EXPECT_EQ(control->updateRate(), 10);
  EXPECT_EQ(updater_->timerUpdateRate(), 20);

  bundle->setStopwatchAccuracy(2);
  bundle->notifySettingsChangedWithKeys(std::vector<std::string>{"stopwatchAccuracy"});
  EXPECT_EQ(control->updateRate(), 500);
  EXPECT_EQ(updater_->timerUpdateRate(), 1000);
  EXPECT_TRUE(isScheduled(control));

  bundle->setStopwatchAccuracy(1);
  bundle->notifySettingsChangedWithKeys(std::vector<std::string>{"promptBeforeDelete"});
  EXPECT_EQ(updater_->timerUpdateRate(), 1000);  // not announced: not heard
  bundle->notifySettingsChangedWithKeys(std::vector<std::string>{"stopwatchAccuracy"});
  EXPECT_EQ(updater_->timerUpdateRate(), 200);

  // Ticking at the highest rate, the value still comes from the clock.
  bundle->setStopwatchAccuracy(2);
  bundle->notifySettingsChangedWithKeys(std::vector<std::string>{"stopwatchAccuracy"});
  step(0.125);
  EXPECT_EQ(stopwatch->timingValue(), 0.125);
  BTStopwatchControlViewModel::setDefaultSettingsProvider({});
}

}  // namespace

// TZ names a zone file of the test's own, which the test replaces as the system's would be.
TEST_F(TimingControllerTest, ArmedAlarmsFollowTheirWallTimeIntoANewZone) {
  namespace fs = std::filesystem;
  const fs::path zoneinfo = "/usr/share/zoneinfo";
  if (!fs::exists(zoneinfo / "America/New_York") || !fs::exists(zoneinfo / "Asia/Tokyo"))
    GTEST_SKIP() << "no zoneinfo files";
  tw::test::TempDir dir;
  const fs::path zone = dir.path() / "localtime";
  const auto install = [&](const char* name) {
    fs::copy_file(zoneinfo / name, dir.path() / "next", fs::copy_options::overwrite_existing);
    fs::rename(dir.path() / "next", zone);  // replaced whole, as zone tools do
  };
  std::optional<std::string> savedTz;
  if (const char* tz = std::getenv("TZ")) savedTz = tz;
  ::setenv("TZ", (":" + zone.string()).c_str(), 1);
  install("America/New_York");
  BTDateUtility::resetTimeZoneForTesting(nullptr);

  // Now is 17:13 in New York, 07:13 the next morning in Tokyo.
  auto alarm = makeAlarm(20, 0, 0);
  auto control = std::dynamic_pointer_cast<BTAlarmControlViewModel>(controlFor(alarm));
  auto unarmed = std::dynamic_pointer_cast<BTAlarmControlViewModel>(controlFor(makeAlarm(9, 0, 0)));
  control->start();
  const double newYork = kStart + (2 * 3600 + 46 * 60 + 40);  // 20:00 EST, 01:00 UTC
  EXPECT_EQ(control->finishTimestamp(), newYork);

  // Nothing changed: nothing moves.
  tw::NotificationCenter::defaultCenter()->post(tw::kSystemTimeZoneDidChangeNotification);
  EXPECT_EQ(control->finishTimestamp(), newYork);

  install("Asia/Tokyo");
  tw::NotificationCenter::defaultCenter()->post(tw::kSystemTimeZoneDidChangeNotification);
  const double tokyo = newYork + 10 * 3600;  // 20:00 JST the same day, 11:00 UTC
  EXPECT_EQ(control->finishTimestamp(), tokyo);
  EXPECT_EQ(alarm->finishDate(), Date{tokyo});
  EXPECT_EQ(control->timeObject()->timingValue(), tokyo - kStart);
  EXPECT_TRUE(isScheduled(control));
  EXPECT_EQ(unarmed->finishTimestamp(), std::nullopt);

  // Changed while the machine slept: waking is enough to follow.
  install("America/New_York");
  tw::NotificationCenter::defaultCenter()->post(tw::kWorkspaceDidWakeNotification);
  EXPECT_EQ(control->finishTimestamp(), newYork);
  step(newYork - kStart);
  EXPECT_EQ(alarm->timingState(), tw::kTimingStateFinished);

  if (savedTz)
    ::setenv("TZ", savedTz->c_str(), 1);
  else
    ::unsetenv("TZ");
  BTDateUtility::resetTimeZoneForTesting(nullptr);
}
