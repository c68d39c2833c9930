// The running-state machine of a time object and its three kinds, driven directly: ticks are
// calls of update() after the virtual clock has moved, as the tick scheduler would make them.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/Source/Library/BTDateUtility.h"
#include "core/Source/Timing/BTAlarmControlViewModel.h"
#include "core/Source/Timing/BTStopwatchControlViewModel.h"
#include "core/Source/Timing/BTTimeObjectViewModel.h"
#include "core/Source/Timing/BTTimerControlViewModel.h"
#include "core/Source/Timing/tests/TimingTestSupport.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"

namespace {

using tw::test::makeTimer;

using tw::Date;

// Writes down each hook with the state it saw, beside what the state's observers hear.
class TracingTimerControl : public BTTimerControlViewModel {
 public:
  using BTTimerControlViewModel::BTTimerControlViewModel;
  std::shared_ptr<std::vector<std::string>> trace = std::make_shared<std::vector<std::string>>();

 protected:
  void onRunning(std::int64_t previous) override {
    note("onRunning", previous);
    BTTimerControlViewModel::onRunning(previous);
  }
  void onPaused(std::int64_t previous) override {
    note("onPaused", previous);
    BTTimerControlViewModel::onPaused(previous);
  }
  void onReset(std::int64_t previous) override {
    note("onReset", previous);
    BTTimerControlViewModel::onReset(previous);
  }

 private:
  void note(const char* hook, std::int64_t previous) {
    trace->push_back(std::string(hook) + " " + std::to_string(previous) + " sees " +
                     std::to_string(timeObject()->timingState()));
  }
};

class ControlTest : public tw::test::TimingStoreTest {
 protected:
  template <class T>
  std::shared_ptr<T> controlFor(std::shared_ptr<BTTimeObject> object) {
    auto control = BTTimeObjectControlViewModel::create<T>(std::move(object), executor_);
    control->synchronize();
    return control;
  }
  // Moves the clock, then ticks as the scheduler would.
  void tickAfter(BTTimeObjectControlViewModel& control, double seconds) {
    advance(seconds);
    control.update();
  }
};

TEST_F(ControlTest, HooksRunWithTheNewStateStoredBeforeObserversHearIt) {
  auto timer = makeTimer(90);
  auto control = controlFor<TracingTimerControl>(timer);
  auto trace = control->trace;
  trace->clear();
  auto observation =
      timer->observeScoped("timingState", tw::KVONew, [&](const tw::KeyValueChange& c) {
        trace->push_back("observer hears " + std::to_string(c.newValue.integerValue()));
      });

  control->start();
  control->pause();
  control->start();
  control->reset();
  EXPECT_EQ(*trace, (std::vector<std::string>{
                        "onRunning 0 sees 20", "observer hears 20",   // start
                        "onPaused 20 sees 10", "observer hears 10",   // pause
                        "onRunning 10 sees 20", "observer hears 20",  // resume
                        "onReset 20 sees 0", "observer hears 0",      // reset
                    }));

  // No change, no hook, no notification.
  trace->clear();
  control->pause();
  control->reset();
  control->start();
  control->start();
  control->pause();
  control->pause();
  EXPECT_EQ(*trace, (std::vector<std::string>{"onRunning 0 sees 20", "observer hears 20",
                                              "onPaused 20 sees 10", "observer hears 10"}));
}

TEST_F(ControlTest, SynchronizeHandsTheHooksMinusOne) {
  auto timer = makeTimer(60);
  timer->setTimingState(tw::kTimingStatePaused);
  timer->setFinishDate(Date{kStart + 50});
  timer->setPauseDate(Date{kStart - 10});
  auto control = BTTimeObjectControlViewModel::create<TracingTimerControl>(timer, executor_);
  control->synchronize();
  EXPECT_EQ(*control->trace, std::vector<std::string>{"onPaused -1 sees 10"});
  // What it had left when paused: finish - pause.
  EXPECT_EQ(timer->timingValue(), 60.0);
}

TEST_F(ControlTest, TimerPauseAndResumeMoveTheFinishByThePausedTime) {
  auto timer = makeTimer(90);
  auto control = controlFor<BTTimerControlViewModel>(timer);
  EXPECT_EQ(timer->timingValue(), 90.0);

  control->startOrPause();
  EXPECT_EQ(timer->finishDate(), Date{kStart + 90});
  EXPECT_EQ(timer->timingValue(), 90.0);
  tickAfter(*control, 29.5);
  EXPECT_EQ(timer->timingValue(), 61.0);  // 60.5 left, raised to the whole second

  advance(0.5);
  control->startOrPause();  // pause at +30
  EXPECT_EQ(timer->timingState(), tw::kTimingStatePaused);
  EXPECT_EQ(timer->pauseDate(), Date{kStart + 30});
  EXPECT_EQ(timer->timingValue(), 60.0);

  // A tick queued before the pause changes nothing; nor does a second pause.
  tickAfter(*control, 20);
  control->pause();
  EXPECT_EQ(timer->timingValue(), 60.0);
  EXPECT_EQ(timer->pauseDate(), Date{kStart + 30});

  control->startOrPause();  // resume at +50
  EXPECT_EQ(timer->timingState(), tw::kTimingStateRunning);
  EXPECT_EQ(timer->finishDate(), Date{kStart + 110});
  EXPECT_FALSE(timer->pauseDate());
  EXPECT_EQ(timer->timingValue(), 60.0);

  tickAfter(*control, 59.75);
  EXPECT_EQ(timer->timingValue(), 1.0);
  EXPECT_EQ(timer->timingState(), tw::kTimingStateRunning);
  tickAfter(*control, 0.25);
  EXPECT_EQ(timer->timingValue(), 0.0);
  EXPECT_EQ(timer->timingState(), tw::kTimingStateFinished);

  advance(1.0);
  EXPECT_EQ(timer->timingState(), tw::kTimingStateReset);
  EXPECT_EQ(timer->timingValue(), 90.0);
  EXPECT_FALSE(timer->finishDate());
}

TEST_F(ControlTest, StartingATimerKeepsAFinishItStillHolds) {
  auto timer = makeTimer(90);
  auto control = controlFor<BTTimerControlViewModel>(timer);
  timer->setFinishDate(Date{kStart + 12});
  control->start();
  EXPECT_EQ(control->finishTimestamp(), kStart + 12);
  EXPECT_EQ(timer->timingValue(), 12.0);
}

TEST_F(ControlTest, ATimerOfZeroFinishesOnItsFirstUpdateAndFiresItsFinishActionsOnce) {
  auto timer = makeTimer(0);
  auto finish = addStateAction(timer, tw::kTimingStateRunning, tw::kTimingStateFinished);
  auto starts = addStateAction(timer, tw::kTimingStateReset, tw::kTimingStateRunning);
  auto control = controlFor<BTTimerControlViewModel>(timer);
  std::vector<std::int64_t> heard;
  auto observation = timer->observeScoped(
      "timingState", tw::KVONew,
      [&](const tw::KeyValueChange& c) { heard.push_back(c.newValue.integerValue()); });

  control->start();
  // Observers hear the run begin before it ends, so the triggers on both changes see them.
  EXPECT_EQ(heard, (std::vector<std::int64_t>{tw::kTimingStateRunning, tw::kTimingStateFinished}));
  EXPECT_EQ(executor_->countFor(finish), 1);
  // The run ended before any evaluation could see the start.
  EXPECT_EQ(executor_->countFor(starts), 0);

  control->update();  // a tick still queued: nothing more
  advance(1.0);
  EXPECT_EQ(timer->timingState(), tw::kTimingStateReset);
  EXPECT_EQ(executor_->countFor(finish), 1);
}

TEST_F(ControlTest, ARunningTimerStoredWithoutAUsableFinishIsLoggedAndNeverFires) {
  tw::LogCapture log;
  auto damaged = makeTimer(90);
  auto finish = addStateAction(damaged, tw::kTimingStateRunning, tw::kTimingStateFinished);
  damaged->setTimingStateValue(tw::kTimingStateRunning);
  damaged->setFinishDate(Date{std::nan("")});
  auto control = controlFor<BTTimerControlViewModel>(damaged);
  control->update();
  EXPECT_EQ(damaged->timingState(), tw::kTimingStateReset);
  EXPECT_EQ(damaged->timingValue(), 90.0);
  EXPECT_EQ(damaged->finishDate(), std::nullopt);
  EXPECT_EQ(executor_->countFor(finish), 0);
  EXPECT_TRUE(log.contains("stored running with an unusable finish date (nan): it is reset"));

  auto unfinished = makeTimer(30);
  auto unfinishedFinish =
      addStateAction(unfinished, tw::kTimingStateRunning, tw::kTimingStateFinished);
  unfinished->setTimingStateValue(tw::kTimingStateRunning);
  auto lost = controlFor<BTTimerControlViewModel>(unfinished);
  lost->update();
  advance(31.0);
  EXPECT_EQ(unfinished->timingState(), tw::kTimingStateReset);
  EXPECT_EQ(unfinished->timingValue(), 30.0);
  EXPECT_EQ(executor_->countFor(unfinishedFinish), 0);
  EXPECT_TRUE(log.contains("stored running without a finish date: it is reset"));
}

TEST_F(ControlTest, ObjectsStoredWithAnUnusableMomentOrStateAreResetLoggedAndNeverFire) {
  tw::LogCapture log;
  const double inf = std::numeric_limits<double>::infinity();
  using tw::kTimingStatePaused, tw::kTimingStateRunning;
  struct Case {
    std::int64_t state;
    double finishOrStart;
    double pause;
    const char* logged;
  };
  // Each would otherwise run on to an endless finish or elapsed time once resumed or paused.
  const Case timers[] = {
      {kTimingStatePaused, -inf, kStart - 10,
       "Timer %@ was stored paused with an unusable finish date (-inf)"},
      {kTimingStatePaused, kStart + 30, inf, "stored paused with an unusable pause date (inf)"},
      {kTimingStateRunning, kStart + 30, -inf, "stored running with an unusable pause date (-inf)"},
  };
  for (const Case& c : timers) {
    auto timer = makeTimer(90);
    auto finish = addStateAction(timer, kTimingStateRunning, tw::kTimingStateFinished);
    timer->setTimingStateValue(c.state);
    timer->setFinishDate(Date{c.finishOrStart});
    timer->setPauseDate(Date{c.pause});
    auto control = controlFor<BTTimerControlViewModel>(timer);
    control->update();
    EXPECT_EQ(timer->timingState(), tw::kTimingStateReset) << c.logged;
    EXPECT_EQ(timer->timingValue(), 90.0) << c.logged;
    EXPECT_TRUE(log.contains(tw::format(c.logged, *timer->uuid()))) << c.logged;
    control->start();
    control->pause();
    control->start();
    control->update();
    EXPECT_EQ(control->finishTimestamp(), kStart + 90) << c.logged;
    EXPECT_EQ(executor_->countFor(finish), 0) << c.logged;
  }

  const Case stopwatches[] = {
      {kTimingStateRunning, -inf, kStart,
       "Stopwatch %@ was stored running with an unusable start date (-inf)"},
      {kTimingStatePaused, kStart - 5, inf, "stored paused with an unusable pause date (inf)"},
  };
  for (const Case& c : stopwatches) {
    auto stopwatch = managedObject<BTStopwatch>();
    auto elapsed = addTimeAction(stopwatch, 0, 10);
    stopwatch->setTimingStateValue(c.state);
    stopwatch->setStartDate(Date{c.finishOrStart});
    stopwatch->setPauseDate(Date{c.pause});
    auto control = controlFor<BTStopwatchControlViewModel>(stopwatch);
    control->update();
    EXPECT_EQ(stopwatch->timingState(), tw::kTimingStateReset) << c.logged;
    EXPECT_TRUE(log.contains(tw::format(c.logged, *stopwatch->uuid()))) << c.logged;
    control->start();
    control->update();
    EXPECT_EQ(control->startTimestamp(), kStart) << c.logged;
    EXPECT_EQ(executor_->countFor(elapsed), 0) << c.logged;
  }

  auto unknown = makeTimer(60);
  unknown->setTimingStateValue(std::numeric_limits<std::int64_t>::max());
  controlFor<BTTimerControlViewModel>(unknown);
  EXPECT_EQ(unknown->timingState(), tw::kTimingStateReset);
  EXPECT_TRUE(log.contains(tw::format(
      "Time object %@ was stored in timing state 9223372036854775807, which is no known state",
      *unknown->uuid())));
}

TEST_F(ControlTest, TheResetAfterAFinishBelongsToThatFinishOnly) {
  auto timer = makeTimer(2);
  auto control = controlFor<BTTimerControlViewModel>(timer);

  // Stop and Start within the second: the new run is left alone.
  control->start();
  tickAfter(*control, 2.0);
  ASSERT_EQ(timer->timingState(), tw::kTimingStateFinished);
  advance(0.25);
  control->reset();
  control->start();
  advance(1.0);
  EXPECT_EQ(timer->timingState(), tw::kTimingStateRunning);
  EXPECT_EQ(timer->finishDate(), Date{kStart + 4.25});

  // Started straight from the finish (a link action): a fresh run, not the finish just passed,
  // and the pending reset does not undo it.
  tickAfter(*control, 1.0);
  ASSERT_EQ(timer->timingState(), tw::kTimingStateFinished);
  advance(0.5);
  control->start();
  EXPECT_EQ(timer->timingState(), tw::kTimingStateRunning);
  EXPECT_EQ(timer->finishDate(), Date{now() + 2});
  EXPECT_EQ(timer->timingValue(), 2.0);
  advance(0.75);
  EXPECT_EQ(timer->timingState(), tw::kTimingStateRunning);

  // Left alone, a finish resets one second later.
  tickAfter(*control, 1.25);
  ASSERT_EQ(timer->timingState(), tw::kTimingStateFinished);
  advance(0.75);
  EXPECT_EQ(timer->timingState(), tw::kTimingStateFinished);
  advance(0.25);
  EXPECT_EQ(timer->timingState(), tw::kTimingStateReset);
}

TEST_F(ControlTest, StopwatchPauseAndResumeContinueTheElapsedTime) {
  auto stopwatch = managedObject<BTStopwatch>();
  auto control = controlFor<BTStopwatchControlViewModel>(stopwatch);

  control->startOrPause();
  EXPECT_EQ(stopwatch->startDate(), Date{kStart});
  tickAfter(*control, 12.5);
  EXPECT_EQ(stopwatch->timingValue(), 12.5);

  advance(0.25);
  control->startOrPause();  // pause at +12.75
  EXPECT_EQ(stopwatch->timingState(), tw::kTimingStatePaused);
  EXPECT_EQ(stopwatch->pauseDate(), Date{kStart + 12.75});
  EXPECT_EQ(stopwatch->timingValue(), 12.75);
  tickAfter(*control, 100);
  EXPECT_EQ(stopwatch->timingValue(), 12.75);

  control->startOrPause();  // resume at +112.75
  EXPECT_EQ(stopwatch->startDate(), Date{kStart + 100});
  EXPECT_FALSE(stopwatch->pauseDate());
  EXPECT_EQ(stopwatch->timingValue(), 12.75);
  tickAfter(*control, 1.25);
  EXPECT_EQ(stopwatch->timingValue(), 14.0);

  // Split and lap keep nothing.
  control->split();
  control->lap();
  EXPECT_EQ(stopwatch->timingState(), tw::kTimingStateRunning);
  EXPECT_EQ(stopwatch->timingValue(), 14.0);

  // A stopwatch never finishes.
  tickAfter(*control, 86400);
  EXPECT_EQ(stopwatch->timingState(), tw::kTimingStateRunning);

  control->reset();
  EXPECT_EQ(stopwatch->timingValue(), 0.0);
  EXPECT_FALSE(stopwatch->startDate());
  EXPECT_FALSE(stopwatch->pauseDate());
}

TEST_F(ControlTest, StopwatchRateFollowsTheAccuracySettingReadAfresh) {
  auto settings = std::make_shared<tw::test::StubSettingsProvider>();
  auto stopwatch = managedObject<BTStopwatch>();
  auto control = controlFor<BTStopwatchControlViewModel>(stopwatch);
  EXPECT_EQ(control->updateRate(), 10);  // no provider yet

  control->setSettingsProvider(settings);
  const std::pair<std::int64_t, std::uint16_t> cases[] = {
      {0, 10}, {1, 100}, {2, 500}, {7, 10}, {-1, 10}};
  for (auto [accuracy, rate] : cases) {
    settings->timeObjectsBundle()->setStopwatchAccuracy(accuracy);
    EXPECT_EQ(control->updateRate(), rate) << accuracy;
  }

  // New controls take the registered provider, held weakly.
  BTStopwatchControlViewModel::setDefaultSettingsProvider(settings);
  auto other = controlFor<BTStopwatchControlViewModel>(managedObject<BTStopwatch>());
  settings->timeObjectsBundle()->setStopwatchAccuracy(1);
  EXPECT_EQ(other->updateRate(), 100);
  settings.reset();
  EXPECT_EQ(other->updateRate(), 10);
  BTStopwatchControlViewModel::setDefaultSettingsProvider({});
}

TEST_F(ControlTest, AnAlarmCannotPauseAndRingsAtItsNextOccurrence) {
  BTDateUtility::resetTimeZoneForTesting("UTC");
  auto alarm = makeAlarm(22, 14, 0);  // 40 s after the clock's start
  auto finish = addStateAction(alarm, tw::kTimingStateRunning, tw::kTimingStateFinished);
  auto control = controlFor<BTAlarmControlViewModel>(alarm);
  int notifications = 0;
  auto observation = alarm->observeScoped("timingState", tw::KVONew,
                                          [&](const tw::KeyValueChange&) { ++notifications; });

  control->startOrPause();
  EXPECT_EQ(alarm->timingState(), tw::kTimingStateRunning);
  EXPECT_EQ(control->finishTimestamp(), kStart + 40);
  EXPECT_EQ(alarm->timingValue(), 40.0);
  EXPECT_EQ(notifications, 1);

  control->startOrPause();
  control->pause();
  EXPECT_EQ(alarm->timingState(), tw::kTimingStateRunning);
  EXPECT_EQ(notifications, 1);

  tickAfter(*control, 40);
  EXPECT_EQ(alarm->timingState(), tw::kTimingStateFinished);
  EXPECT_EQ(executor_->countFor(finish), 1);
  advance(1.0);
  EXPECT_EQ(alarm->timingState(), tw::kTimingStateReset);
  EXPECT_FALSE(alarm->finishDate());
  EXPECT_EQ(alarm->timingValue(), 0.0);

  // Armed again (by hand or by a repeat action): the next day, not the minute just passed.
  control->start();
  EXPECT_EQ(control->finishTimestamp(), kStart + 40 + 86400);
  control->reset();
  EXPECT_EQ(alarm->timingState(), tw::kTimingStateReset);
  EXPECT_FALSE(control->finishTimestamp());
  BTDateUtility::resetTimeZoneForTesting(nullptr);
}

TEST_F(ControlTest, TimeTriggersFireOnTheirCrossingOncePerRun) {
  auto timer = makeTimer(90);
  auto remains60 = addTimeAction(timer, 10, 60);
  auto disabled = addTimeAction(timer, 10, 60);
  disabled->setEnabled(false);
  auto control = controlFor<BTTimerControlViewModel>(timer);

  for (int run = 1; run <= 2; ++run) {
    control->start();
    tickAfter(*control, 29.5);  // 61 left
    EXPECT_EQ(executor_->countFor(remains60), run - 1);
    tickAfter(*control, 0.5);  // 60 left: the crossing is inclusive
    EXPECT_EQ(executor_->countFor(remains60), run);
    EXPECT_EQ(executor_->calls.back().value, 60.0);
    tickAfter(*control, 10);
    EXPECT_EQ(executor_->countFor(remains60), run);
    control->reset();
  }
  EXPECT_EQ(executor_->countFor(disabled), 0);

  // Started with less than the interval left, it never saw the far side: silent all run.
  auto shortTimer = makeTimer(45);
  auto neverFires = addTimeAction(shortTimer, 10, 60);
  auto shortControl = controlFor<BTTimerControlViewModel>(shortTimer);
  shortControl->start();
  for (int i = 0; i < 50; ++i) tickAfter(*shortControl, 1);
  EXPECT_EQ(executor_->countFor(neverFires), 0);

  // Elapsed on a stopwatch.
  auto stopwatch = managedObject<BTStopwatch>();
  auto elapsed10 = addTimeAction(stopwatch, 0, 10);
  auto swControl = controlFor<BTStopwatchControlViewModel>(stopwatch);
  for (int run = 1; run <= 2; ++run) {
    swControl->start();
    tickAfter(*swControl, 9.75);
    EXPECT_EQ(executor_->countFor(elapsed10), run - 1);
    tickAfter(*swControl, 0.25);
    EXPECT_EQ(executor_->countFor(elapsed10), run);
    tickAfter(*swControl, 5);
    EXPECT_EQ(executor_->countFor(elapsed10), run);
    swControl->reset();
  }
}

TEST_F(ControlTest, FiredActionsGoToTheDefaultExecutorOrAreSkipped) {
  auto timer = makeTimer(10);
  auto generic = addAction(timer, BTActionTrigger::actionTrigger<BTActionTrigger>());
  auto control = BTTimeObjectControlViewModel::create<BTTimerControlViewModel>(timer);
  control->synchronize();

  {
    tw::LogCapture log;
    control->start();
    EXPECT_TRUE(log.contains("<BTTimerControlViewModel> No action executor; skipping action"));
  }
  control->reset();

  BTActionExecutor::setDefaultExecutor(executor_);
  control->start();
  EXPECT_EQ(executor_->countFor(generic), 1);
  EXPECT_EQ(control->actionExecutor(), executor_);
  BTActionExecutor::setDefaultExecutor(nullptr);
}

TEST_F(ControlTest, ButtonTextsAndStatesFollowTheKindAndState) {
  BTDateUtility::resetTimeZoneForTesting("UTC");
  struct Row {
    std::int64_t state;
    const char* timer;
    const char* stopwatch;
  };
  const Row rows[] = {{tw::kTimingStateReset, "Start", "Start"},
                      {tw::kTimingStatePaused, "Resume", "Start"},
                      {tw::kTimingStateRunning, "Pause", "Stop"},
                      {tw::kTimingStateFinished, "Pause", "Stop"},
                      {5, nullptr, nullptr}};
  auto timer = makeTimer(30);
  auto stopwatch = managedObject<BTStopwatch>();
  auto alarm = makeAlarm(7, 0, 0);
  auto timerControl = controlFor<BTTimerControlViewModel>(timer);
  auto stopwatchControl = controlFor<BTStopwatchControlViewModel>(stopwatch);
  auto alarmControl = controlFor<BTAlarmControlViewModel>(alarm);

  EXPECT_EQ(timerControl->resetText(), "Stop");
  EXPECT_EQ(stopwatchControl->resetText(), "Reset");
  EXPECT_EQ(alarmControl->resetText(), "Reset");
  EXPECT_EQ(timerControl->valueForKey("resetText"), tw::Value("Stop"));

  std::vector<tw::Value> heard;
  auto observation = timerControl->observeScoped(
      "startText", tw::KVONew, [&](const tw::KeyValueChange& c) { heard.push_back(c.newValue); });

  auto text = [](const std::optional<std::string>& t) { return t ? t->c_str() : nullptr; };
  for (const Row& row : rows) {
    timer->setTimingState(row.state);
    stopwatch->setTimingState(row.state);
    alarm->setTimingState(row.state);
    SCOPED_TRACE(row.state);
    EXPECT_STREQ(text(timerControl->startText()), row.timer);
    EXPECT_STREQ(text(stopwatchControl->startText()), row.stopwatch);
    EXPECT_STREQ(text(alarmControl->startText()), "Set");
    EXPECT_TRUE(timerControl->isStartEnabled());
    EXPECT_TRUE(stopwatchControl->isStartEnabled());
    EXPECT_EQ(alarmControl->isStartEnabled(),
              row.state != tw::kTimingStateRunning && row.state != tw::kTimingStateFinished);
    EXPECT_EQ(timerControl->isResetEnabled(), row.state != tw::kTimingStateReset);
    EXPECT_EQ(alarmControl->isResetEnabled(), row.state != tw::kTimingStateReset);
  }
  EXPECT_EQ(heard, (std::vector<tw::Value>{tw::Value("Start"), tw::Value("Resume"),
                                           tw::Value("Pause"), tw::Value("Pause"), tw::Value()}));
  BTDateUtility::resetTimeZoneForTesting(nullptr);
}

TEST_F(ControlTest, AControlGoesOnceNothingHoldsIt) {
  auto timer = makeTimer(1);
  const std::size_t ownObservations = timer->observationCount();
  std::weak_ptr<BTTimerControlViewModel> weak;
  {
    auto control = controlFor<BTTimerControlViewModel>(timer);
    weak = control;
    control->start();
    tickAfter(*control, 1.0);
    ASSERT_EQ(timer->timingState(), tw::kTimingStateFinished);
  }
  // The pending reset keeps it until it has run.
  EXPECT_FALSE(weak.expired());
  advance(1.0);
  EXPECT_EQ(timer->timingState(), tw::kTimingStateReset);
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(timer->observationCount(), ownObservations);
}

TEST_F(ControlTest, TheBaseControlHasNoRateOrValueOfItsOwn) {
  auto control = BTTimeObjectControlViewModel::create(makeTimer(5), executor_);
  EXPECT_THROW(control->updateRate(), tw::Exception);
  EXPECT_THROW(control->timingValue(), tw::Exception);
}

// ----- time-object view models

TEST(TimeObjectViewModel, KeepsItsTimeObjectAndRefusesToBeMadeWithoutOne) {
  auto timer = std::make_shared<BTTimer>();
  auto viewModel = std::make_shared<BTTimeObjectViewModel>(timer);
  EXPECT_EQ(viewModel->timeObject(), timer);
  EXPECT_EQ(viewModel->valueForKey("timeObject").objectAs<BTTimeObject>(), timer);
  try {
    std::make_shared<BTTimeObjectViewModel>();
    ADD_FAILURE() << "made without a time object";
  } catch (const tw::Exception& e) {
    EXPECT_EQ(e.name() + ": " + e.reason(),
              "NSInternalInconsistencyException: Unsupported initalizer use `initWithTimeObject:` "
              "instead");
  }
}

}  // namespace
