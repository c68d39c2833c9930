#pragma once
// BTTimeObjectListItemViewModel: the texts and colour of one row of the master list: the set
// value (static text), the running value (dynamic text, hidden while the object is reset) and
// the colour of its state. The kinds supply their static text (BTTimerListItemViewModel,
// BTAlarmListItemViewModel) or state colours (BTStopwatchListItemViewModel), each in its own
// file; the base gives an empty static text and the timer/alarm colours.
//
// Observable keys: "staticValueDescription", "dynamicValueDescription",
// "dynamicValueDescriptionHidden", "stateColor" (the colour as 0xAARRGGBB). Each follows the
// object (and, for alarms, the 24-hour setting) for as long as the view model lives.
//
// Made by the list's cells through create<T>(timeObject) and owned by them; main thread only.

#include <memory>
#include <optional>
#include <string>

#include "core/Source/Model/BTColor.h"
#include "core/Source/Timing/BTTimeObjectViewModel.h"

class RACSignal;

class BTTimeObjectListItemViewModel : public BTTimeObjectViewModel {
 protected:
  struct ConstructionKey {
    explicit ConstructionKey() = default;
  };

 public:
  // initWithTimeObject: a view model of class T, bound.
  template <class T = BTTimeObjectListItemViewModel>
  static std::shared_ptr<T> create(std::shared_ptr<BTTimeObject> timeObject) {
    auto model = std::make_shared<T>(ConstructionKey{}, std::move(timeObject));
    static_cast<BTTimeObjectListItemViewModel&>(*model).bindViewModel();
    return model;
  }
  BTTimeObjectListItemViewModel(ConstructionKey, std::shared_ptr<BTTimeObject> timeObject);

  virtual std::shared_ptr<RACSignal> staticValueDescriptionSignal();
  virtual std::shared_ptr<RACSignal> dynamicValueDescriptionSignal();
  virtual std::shared_ptr<RACSignal> dynamicValueDescriptionHiddenSignal();
  virtual std::shared_ptr<RACSignal> stateColorSignal();

  const std::string& staticValueDescription() const { return staticValueDescription_; }
  const std::string& dynamicValueDescription() const { return dynamicValueDescription_; }
  bool isDynamicValueDescriptionHidden() const { return dynamicValueDescriptionHidden_; }
  // The named colour of the state ("TimingStateGreen", ...).
  const std::string& stateColorName() const { return stateColorName_; }
  std::optional<BTColor> stateColor() const { return BTColorNamed(stateColorName_); }

  // The running value as the row shows it: d:hh:mm:ss, h:mm:ss or mm:ss; negatives read 00:00.
  static std::string runningValueText(double seconds);

 protected:
  // Subclasses that inject or bind more extend it, calling the base first.
  virtual void bindViewModel();
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;
  // "stateColor" for the colour named by the state; "TimingStateYellow" or "TimingStateRed" when
  // paused.
  std::shared_ptr<RACSignal> stateColorSignalWithPausedColor(const char* pausedColor);
  // The values of one key of the time object, for as long as this view model lives.
  std::shared_ptr<RACSignal> timeObjectValues(const char* key);

 private:
  std::shared_ptr<RACSignal> staticSignal_;
  std::string staticValueDescription_;
  std::string dynamicValueDescription_;
  bool dynamicValueDescriptionHidden_ = true;
  std::string stateColorName_;
};
