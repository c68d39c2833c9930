#pragma once
// BTActionObjectsBundleSettings: the settings of the "ActionObjectsBundle" bundle as its readers
// and writers see them. Preferences about actions: the delete prompt. Implemented by
// BTActionObjectsBundleSettingsImpl. Main thread only.

#include <cstdint>

class BTActionObjectsBundleSettings {
 public:
  virtual ~BTActionObjectsBundleSettings() = default;

  // Ask before an action is deleted.
  virtual bool promptBeforeDelete() const = 0;
  virtual void setPromptBeforeDelete(bool value) = 0;
};
