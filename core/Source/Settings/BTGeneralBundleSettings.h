#pragma once
// BTGeneralBundleSettings: the settings of the "GeneralBundle" bundle as its readers and writers
// see them. General preferences: sleep prevention while time objects run, animations, the 24-hour
// clock. Implemented by BTGeneralBundleSettingsImpl. Main thread only.

#include <cstdint>

class BTGeneralBundleSettings {
 public:
  virtual ~BTGeneralBundleSettings() = default;

  // Keep the machine awake while time objects run.
  virtual bool preventSystemSleep() const = 0;
  virtual void setPreventSystemSleep(bool value) = 0;
  // Keep the display awake too; counts only with preventSystemSleep.
  virtual bool preventDisplaySleep() const = 0;
  virtual void setPreventDisplaySleep(bool value) = 0;
  // No animated transitions in the master list.
  virtual bool animationsDisabled() const = 0;
  virtual void setAnimationsDisabled(bool value) = 0;
  // 24-hour clock for alarm times.
  virtual bool useMilitaryTime() const = 0;
  virtual void setUseMilitaryTime(bool value) = 0;
};
