#pragma once
// BTSettingsProvider: owner of the four settings bundles. Loads them at launch, fills in their
// defaults, and writes all four back when asked (on every announced change and at quit).
// Implemented by BTUserDefaultsSettingsService; the assembly's component "settingsProvider".
// Main thread only.

#include <memory>

#include "core/Source/Settings/BTActionObjectsBundleSettingsImpl.h"
#include "core/Source/Settings/BTGeneralBundleSettingsImpl.h"
#include "core/Source/Settings/BTMasterDetailsBundleSettingsImpl.h"
#include "core/Source/Settings/BTTimeObjectsBundleSettingsImpl.h"

class BTSettingsProvider {
 public:
  virtual ~BTSettingsProvider() = default;

  virtual void registerDefaults() = 0;
  virtual void restoreDefaults() = 0;
  virtual void load() = 0;
  virtual void save() = 0;

  // Null until loaded or given defaults.
  virtual std::shared_ptr<BTGeneralBundleSettingsImpl> generalBundle() const = 0;
  virtual void setGeneralBundle(std::shared_ptr<BTGeneralBundleSettingsImpl> bundle) = 0;
  virtual std::shared_ptr<BTMasterDetailsBundleSettingsImpl> masterDetailBundle() const = 0;
  virtual void setMasterDetailBundle(std::shared_ptr<BTMasterDetailsBundleSettingsImpl> bundle) = 0;
  virtual std::shared_ptr<BTTimeObjectsBundleSettingsImpl> timeObjectsBundle() const = 0;
  virtual void setTimeObjectsBundle(std::shared_ptr<BTTimeObjectsBundleSettingsImpl> bundle) = 0;
  virtual std::shared_ptr<BTActionObjectsBundleSettingsImpl> actionObjectsBundle() const = 0;
  virtual void setActionObjectsBundle(
      std::shared_ptr<BTActionObjectsBundleSettingsImpl> bundle) = 0;
};
