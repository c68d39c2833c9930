#pragma once
// BTTimeObjectListItemEditingViewModel: the value editor of a timer: its duration as four texts
// (day, hour, minute, second) for text fields. What the user types is read as an integer (leading
// blanks, a sign, the leading digits; anything else reads 0), clamped to 0...364 days, 0...23
// hours, 0...59 minutes and seconds, and written into the time setting as one announced change
// of the time object's "time", so every view of the set value follows. Editing is enabled only
// while the object is reset (observable key "editingEnabled").
//
// Observable keys "daySetting", "hourSetting", "minuteSetting", "secondSetting" follow the
// stored fields. Made through create<T>(timeObject); owned by the editing popover. Main thread
// only.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/Source/Timing/BTTimeObjectViewModel.h"

class BTTimeSetting;
class RACSignal;

class BTTimeObjectListItemEditingViewModel : public BTTimeObjectViewModel {
 protected:
  struct ConstructionKey {
    explicit ConstructionKey() = default;
  };

 public:
  static constexpr std::int64_t kDayLimit = 364;
  static constexpr std::int64_t kHourLimit = 23;
  static constexpr std::int64_t kMinuteLimit = 59;
  static constexpr std::int64_t kSecondLimit = 59;

  // initWithTimeObject: a view model of class T, bound.
  template <class T = BTTimeObjectListItemEditingViewModel>
  static std::shared_ptr<T> create(std::shared_ptr<BTTimeObject> timeObject) {
    auto model = std::make_shared<T>(ConstructionKey{}, std::move(timeObject));
    static_cast<BTTimeObjectListItemEditingViewModel&>(*model).bindViewModel();
    return model;
  }
  BTTimeObjectListItemEditingViewModel(ConstructionKey, std::shared_ptr<BTTimeObject> timeObject);

  std::shared_ptr<RACSignal> editingEnabledSignal();
  virtual bool isDayControlHidden() const { return false; }
  virtual bool isHourControlHidden() const { return false; }
  virtual bool isMinuteControlHidden() const { return false; }
  virtual bool isSecondControlHidden() const { return false; }

  virtual std::string daySetting() const;
  virtual void setDaySetting(std::string_view text);
  virtual std::string hourSetting() const;
  virtual void setHourSetting(std::string_view text);
  virtual std::string minuteSetting() const;
  virtual void setMinuteSetting(std::string_view text);
  virtual std::string secondSetting() const;
  virtual void setSecondSetting(std::string_view text);
  // "%02ld": at least two figures, zero-filled.
  static std::string formatTimeUnit(std::int64_t value);
  bool isEditingEnabled() const { return editingEnabled_; }

  // The platform's integer reading of a text field: "7x" is 7, "" and "x" are 0.
  static std::int64_t integerValueOfText(std::string_view text);

 protected:
  virtual void bindViewModel();
  std::shared_ptr<BTTimeSetting> timeSetting() const;
  // Clamps into 0...limit and stores it as one announced change of the object's "time".
  void setTimeComponent(std::string_view field, std::int64_t value, std::int64_t limit);
  std::int64_t timeComponent(std::string_view field) const;

  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;
  std::vector<std::string> keyPathsForValuesAffectingKey(std::string_view key) const override;

 private:
  bool editingEnabled_ = false;
};
