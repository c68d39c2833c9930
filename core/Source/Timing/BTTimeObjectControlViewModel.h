#pragma once
// BTTimeObjectControlViewModel: the running-state machine of one time object. Starts, pauses and
// resets it, keeps the value it shows current on every tick, hands the actions whose triggers
// fire to the action executor, and publishes the caption and enabled state of the start and
// reset buttons. The kinds (timer, alarm, stopwatch) supply the value, the tick rate and the
// bookkeeping of their moments in the state hooks.
//
//   states: 0 reset, 10 paused, 20 running, 21 finished
//   start:  0, 10, 21 -> 20   hook onRunning(previous), then update()
//   pause:  20 -> 10          hook onPaused(20)
//   reset:  10, 20, 21 -> 0   hook onReset(previous)
//
// A state change is announced on the time object's "timingState" only after its hook has run
// (with the new state already stored), so every observer (the timing controller, the state
// triggers, the buttons) sees the kind's bookkeeping up to date. Hooks called from synchronize()
// receive -1 as the previous state: nothing changed, the control adopts what was stored.
//
// Made by the timing controller, one per time object, through create(); owned through
// std::shared_ptr and kept by the timing controller (and, while running, by the tick scheduler).
// Main thread only (debug and sanitizer builds abort on a call from another thread).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/Source/Timing/BTActionExecutor.h"
#include "core/Source/Timing/BTTimeObjectViewModel.h"
#include "core/Source/Timing/BTTimingControl.h"
#include "platform/foundation/Dispatch.h"

class RACSignal;

class BTTimeObjectControlViewModel : public BTTimeObjectViewModel, public virtual BTTimingControl {
 protected:
  // Only create() (and subclasses) can name this, so every control is made bound.
  struct ConstructionKey {
    explicit ConstructionKey() = default;
  };

 public:
  // The hook argument when the hook is called by synchronize().
  static constexpr std::int64_t kSynchronizing = -1;

  // A control of class T, its button state bound to the time object's state. `executor` may be
  // null: fired actions then go to BTActionExecutor::defaultExecutor().
  template <class T = BTTimeObjectControlViewModel>
  static std::shared_ptr<T> create(std::shared_ptr<BTTimeObject> timeObject,
                                   std::shared_ptr<BTActionExecutor> executor = nullptr) {
    auto control =
        std::make_shared<T>(ConstructionKey{}, std::move(timeObject), std::move(executor));
    control->bindViewModel();
    return control;
  }

  BTTimeObjectControlViewModel(ConstructionKey, std::shared_ptr<BTTimeObject> timeObject,
                               std::shared_ptr<BTActionExecutor> executor);
  ~BTTimeObjectControlViewModel() override;

  // ----- buttons (observable keys "startText", "startEnabled", "resetEnabled"; "resetText")
  // "Stop" for a timer, "Reset" for the other kinds.
  virtual std::string resetText() const;
  // Null when the state has no caption.
  const std::optional<std::string>& startText() const { return startText_; }
  bool isStartEnabled() const { return startEnabled_; }
  bool isResetEnabled() const { return resetEnabled_; }
  // The caption, start-enabled and reset-enabled state for every value of the object's state,
  // the current one first.
  std::shared_ptr<RACSignal> startTextSignal();
  std::shared_ptr<RACSignal> startEnabledSignal();
  std::shared_ptr<RACSignal> resetEnabledSignal();

  // The start button and the menus: start from 0 or 10, pause from 20; nothing otherwise.
  void startOrPause();

  // ----- BTUpdateable
  // Supplied by the kind; the base has none (unrecognised selector).
  std::uint16_t updateRate() const override;
  // Ticks a running object: shows the current value, evaluates the triggers, then lets the kind
  // react to the value (a count-down finishes at 0). Does nothing unless running: an update the
  // scheduler queued before a pause or the finish may still arrive. A deleted object (or one
  // whose store has closed) is reset instead, so it fires nothing and leaves the scheduler.
  void update() override;

  // ----- BTTimingControl
  std::shared_ptr<BTTiming> timingObject() const override { return timeObject(); }
  void synchronize() override;
  void start() override;
  // Only from 20; and only for kinds that can pause (not alarms).
  void pause() override;
  void reset() override;

  // The value the object shows now, by its kind; the base has none (unrecognised selector).
  virtual double timingValue() const;

  // The executor given at creation, else the registered default (may be null).
  std::shared_ptr<BTActionExecutor> actionExecutor() const;

 protected:
  friend class BTTimingController;

  // Starts the button bindings; create() calls it once the control is owned.
  virtual void bindViewModel();

  // Stores `state` without notifications, runs `hook`, then announces the change.
  void setTimingState(std::int64_t state, const std::function<void()>& hook);
  // Every change of the state, whoever makes it through this control, bumps the generation; the
  // delayed reset after a finish acts only if no change came in between.
  std::uint64_t noteStateChange();
  // Runs `reset` after `seconds` on the main queue, if the state has not changed meanwhile and is
  // still `expectedState`. The pending call keeps the control alive.
  void scheduleResetAfter(double seconds, std::int64_t expectedState);

  // ----- hooks
  virtual bool canPause() const { return true; }
  virtual void onUpdated(double value);
  virtual void onSynchronize();
  virtual void onRunning(std::int64_t previous);
  virtual void onPaused(std::int64_t previous);
  virtual void onReset(std::int64_t previous);

  void resetActionTriggers();
  // Asks every trigger; when any fires, saves the store (the object's state with it) and only
  // then hands the fired actions to the executor.
  void evaluateAndExecuteActions();

  std::int64_t currentState() const;
  // Read as "timingObject", "startText", "startEnabled", "resetEnabled", "resetText".
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  // Written by the button bindings.
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;

 private:
  enum class Kind { Timer, Alarm, Stopwatch, Other };
  Kind kind() const;
  void saveBeforeActing();

  std::shared_ptr<BTActionExecutor> actionExecutor_;
  std::optional<std::string> startText_;
  bool startEnabled_ = false;
  bool resetEnabled_ = false;

  std::uint64_t generation_ = 0;
  tw::DelayedWork pendingReset_;
  // Inside setTimingState's bracket: observers have not heard of the new state yet, so the
  // kind's reaction to a value (the finish) waits until they have.
  int inStateChange_ = 0;
  std::optional<double> deferredUpdate_;
};
