#pragma once
// BTAlarmListItemViewModel: an alarm's row: its time of day as static text, in 24-hour form
// ("07:05") or 12-hour form ("7:05 AM") by the general setting useMilitaryTime, and the day it
// rings next ("Today", "Tomorrow" or the weekday's name; observable key "weekdayDescription").
//
// The day text depends on the clock as well as on the alarm: it is recomputed when the alarm's
// settings change, at the next local midnight and at the alarm's ringing minute, by one
// single-shot timer re-armed each time (nothing wakes otherwise).
//
// Made through BTTimeObjectListItemViewModel::create<BTAlarmListItemViewModel>; the settings
// provider is injected (weak). Main thread only.

#include <memory>
#include <string>

#include "core/Source/ViewModels/BTTimeObjectListItemViewModel.h"
#include "platform/foundation/Dispatch.h"
#include "platform/inject/Injectable.h"
#include "platform/inject/TyphoonInjectedObject.h"

class BTSettingsProvider;

// "Sunday" ... "Saturday", indexed 0 to 6.
extern const char* const BTWeekdayStringArray[7];

class BTAlarmListItemViewModel : public BTTimeObjectListItemViewModel, public tw::Injectable {
 public:
  BTAlarmListItemViewModel(ConstructionKey key, std::shared_ptr<BTTimeObject> timeObject);
  ~BTAlarmListItemViewModel() override;

  std::shared_ptr<RACSignal> staticValueDescriptionSignal() override;
  std::shared_ptr<RACSignal> weekdayDescriptionSignal();
  const std::string& weekdayDescription() const { return weekdayDescription_; }
  std::shared_ptr<BTSettingsProvider> settingsProvider() const { return settingsProvider_.get(); }

  // tw::Injectable: settingsProvider.
  void injectProperties(tw::PropertyInjector& injector) override;

 protected:
  void bindViewModel() override;
  bool getValueForKey(std::string_view key, tw::Value& out) const override;

 private:
  void refreshWeekdayDescription();

  std::string weekdayDescription_;
  TyphoonInjectedObject<BTSettingsProvider> settingsProvider_;
  tw::DelayedWork dayChange_;
};
