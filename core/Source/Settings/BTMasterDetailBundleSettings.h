#pragma once
// BTMasterDetailBundleSettings: the settings of the "MasterDetailsBundle" bundle as its readers and
// writers see them. The remembered state of the main window: the master list's tab, each tab's
// selected row, the folded actions list. Implemented by BTMasterDetailsBundleSettingsImpl. Main
// thread only.

#include <cstdint>

class BTMasterDetailBundleSettings {
 public:
  virtual ~BTMasterDetailBundleSettings() = default;

  // 0 alarms, 1 timers, 2 stopwatches.
  virtual std::int64_t viewMode() const = 0;
  virtual void setViewMode(std::int64_t value) = 0;
  // Selected row of each tab; the not-found index means none.
  virtual std::int64_t alarmSelectionIndex() const = 0;
  virtual void setAlarmSelectionIndex(std::int64_t value) = 0;
  virtual std::int64_t timerSelectionIndex() const = 0;
  virtual void setTimerSelectionIndex(std::int64_t value) = 0;
  virtual std::int64_t stopwatchSelectionIndex() const = 0;
  virtual void setStopwatchSelectionIndex(std::int64_t value) = 0;
  // The actions list is folded.
  virtual bool actionsListViewCollapsed() const = 0;
  virtual void setActionsListViewCollapsed(bool value) = 0;
};
