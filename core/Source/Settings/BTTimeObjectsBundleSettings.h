#pragma once
// BTTimeObjectsBundleSettings: the settings of the "TimeObjectsBundle" bundle as its readers and
// writers see them. Preferences about time objects: quit and delete prompts, stopwatch accuracy.
// Implemented by BTTimeObjectsBundleSettingsImpl. Main thread only.

#include <cstdint>

class BTTimeObjectsBundleSettings {
 public:
  virtual ~BTTimeObjectsBundleSettings() = default;

  // Ask before quitting while time objects run.
  virtual bool warnIfActiveOnQuit() const = 0;
  virtual void setWarnIfActiveOnQuit(bool value) = 0;
  // Ask before a time object is deleted.
  virtual bool promptBeforeDelete() const = 0;
  virtual void setPromptBeforeDelete(bool value) = 0;
  // 0, 1, 2: 10, 100 or 1000 stopwatch updates a second.
  virtual std::int64_t stopwatchAccuracy() const = 0;
  virtual void setStopwatchAccuracy(std::int64_t value) = 0;
};
