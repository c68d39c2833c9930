#pragma once
// MasterListAlarmEditingPopover: the value popover of an alarm: hour and minute, the AM/PM
// switch (hidden on the 24-hour clock; a click toggles it) and the seven weekday buttons, each
// written at once to the alarm editing view model. Owned by its popover; main thread only.

#include <QPushButton>
#include <array>

#include "app/Source/MasterList/MasterListItemEditingPopover.h"

class BTAlarmListItemEditingViewModel;

class MasterListAlarmEditingPopover : public MasterListItemEditingPopover {
 public:
  using MasterListItemEditingPopover::MasterListItemEditingPopover;

  std::shared_ptr<BTAlarmListItemEditingViewModel> alarmViewModel() const;
  QWidget* meridiemSegmentView() const { return meridiemSegmentView_; }
  QPushButton* meridiemField() const { return meridiemField_; }
  // Sunday first.
  const std::array<QPushButton*, 7>& weekdayButtons() const { return weekdayButtons_; }
  // The hours field's accepted range, set when the view loads.
  std::pair<int, int> hoursRange() const { return hoursRange_; }

  void meridiemFieldClicked();
  void weekdaySettingChanged(QObject* sender);

 protected:
  void viewDidLoad() override;
  std::shared_ptr<BTTimeObjectListItemEditingViewModel> createViewModel() override;
  void bindViewModel() override;
  void loadExtraViews(QWidget* root) override;

 private:
  QWidget* meridiemSegmentView_ = nullptr;
  QPushButton* meridiemField_ = nullptr;
  std::array<QPushButton*, 7> weekdayButtons_{};
  std::pair<int, int> hoursRange_{0, 23};
};
