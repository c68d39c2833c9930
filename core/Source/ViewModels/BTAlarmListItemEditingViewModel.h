#pragma once
// BTAlarmListItemEditingViewModel: the value editor of an alarm: its time of day as an hour and a
// minute text, in 24-hour form (hours 0...23) or 12-hour form (hours 1...12 with a meridiem,
// 0 AM / 1 PM) by the general setting useMilitaryTime, and its seven weekday flags (Sunday
// first). Day and second controls are always hidden; the meridiem control while the 24-hour
// setting is on. When that setting changes while the editor is open, only "meridiemControlHidden"
// is announced again; the hour text keeps its form until it is read again.
//
// Time changes are announced as changes of the alarm's "time", weekday changes as changes of its
// "weekdays". Observable key "meridiemSetting" follows the stored hour. Made through
// create<BTAlarmListItemEditingViewModel>(alarm); the settings provider is injected (weak).
// Main thread only.

#include <cstdint>
#include <memory>
#include <string>

#include "core/Source/ViewModels/BTTimeObjectListItemEditingViewModel.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/inject/Injectable.h"
#include "platform/inject/TyphoonInjectedObject.h"

class BTSettingsProvider;
class BTWeekdaySetting;

class BTAlarmListItemEditingViewModel : public BTTimeObjectListItemEditingViewModel,
                                        public tw::Injectable {
 public:
  BTAlarmListItemEditingViewModel(ConstructionKey key, std::shared_ptr<BTTimeObject> timeObject);
  ~BTAlarmListItemEditingViewModel() override;

  void settingsChanged(const tw::Notification& notification);

  bool isDayControlHidden() const override { return true; }
  bool isSecondControlHidden() const override { return true; }
  bool isMeridiemControlHidden() const { return useMilitaryTime(); }
  std::int64_t hourSettingMinimum() const { return useMilitaryTime() ? 0 : 1; }
  std::int64_t hourSettingMaximum() const { return useMilitaryTime() ? 23 : 12; }
  std::string hourSetting() const override;
  void setHourSetting(std::string_view text) override;
  std::int64_t meridiemSetting() const;
  void setMeridiemSetting(std::int64_t meridiem);

  bool sundaySetting() const { return weekday(0); }
  void setSundaySetting(bool on) { setWeekday(0, on); }
  bool mondaySetting() const { return weekday(1); }
  void setMondaySetting(bool on) { setWeekday(1, on); }
  bool tuesdaySetting() const { return weekday(2); }
  void setTuesdaySetting(bool on) { setWeekday(2, on); }
  bool wednesdaySetting() const { return weekday(3); }
  void setWednesdaySetting(bool on) { setWeekday(3, on); }
  bool thursdaySetting() const { return weekday(4); }
  void setThursdaySetting(bool on) { setWeekday(4, on); }
  bool fridaySetting() const { return weekday(5); }
  void setFridaySetting(bool on) { setWeekday(5, on); }
  bool saturdaySetting() const { return weekday(6); }
  void setSaturdaySetting(bool on) { setWeekday(6, on); }

  std::shared_ptr<BTSettingsProvider> settingsProvider() const { return settingsProvider_.get(); }
  // tw::Injectable: settingsProvider.
  void injectProperties(tw::PropertyInjector& injector) override;

 protected:
  void bindViewModel() override;
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;
  std::vector<std::string> keyPathsForValuesAffectingKey(std::string_view key) const override;

 private:
  bool useMilitaryTime() const;
  std::shared_ptr<BTWeekdaySetting> weekdays() const;
  bool weekday(int index) const;
  void setWeekday(int index, bool on);

  TyphoonInjectedObject<BTSettingsProvider> settingsProvider_;
  tw::ScopedNotificationToken settingsToken_;
};
