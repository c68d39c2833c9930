#pragma once
// BTUserDefaultsSettingsService: the settings provider over the user defaults. Each bundle is one
// dictionary under its container key ("GeneralBundle", "MasterDetailsBundle",
// "TimeObjectsBundle", "ActionObjectsBundle"). From creation to destruction it listens for
// BTSettingsChangedNotification from any sender, on the main queue, and saves all four bundles
// each time, so one announced change also stores earlier unannounced ones.
//
// Stored data is not trusted: a bundle stored as something other than a dictionary is dropped
// (logged) and rebuilt with its defaults at registerDefaults; unreadable entries inside one are
// skipped by the bundle itself. save() writes through to the file (atomically) at once.
//
// Main thread only.

#include <memory>

#include "core/Source/Settings/BTSettingsProvider.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/UserDefaults.h"

class BTUserDefaultsSettingsService : public tw::Object, public BTSettingsProvider {
 public:
  // Over the application's standard user defaults.
  BTUserDefaultsSettingsService();
  // Over the given user defaults, which must outlive the service.
  explicit BTUserDefaultsSettingsService(tw::UserDefaults& defaults);
  ~BTUserDefaultsSettingsService() override;

  void registerDefaults() override;
  void restoreDefaults() override;
  void load() override;
  void save() override;

  std::shared_ptr<BTGeneralBundleSettingsImpl> generalBundle() const override { return general_; }
  void setGeneralBundle(std::shared_ptr<BTGeneralBundleSettingsImpl> b) override {
    general_ = std::move(b);
  }
  std::shared_ptr<BTMasterDetailsBundleSettingsImpl> masterDetailBundle() const override {
    return masterDetail_;
  }
  void setMasterDetailBundle(std::shared_ptr<BTMasterDetailsBundleSettingsImpl> b) override {
    masterDetail_ = std::move(b);
  }
  std::shared_ptr<BTTimeObjectsBundleSettingsImpl> timeObjectsBundle() const override {
    return timeObjects_;
  }
  void setTimeObjectsBundle(std::shared_ptr<BTTimeObjectsBundleSettingsImpl> b) override {
    timeObjects_ = std::move(b);
  }
  std::shared_ptr<BTActionObjectsBundleSettingsImpl> actionObjectsBundle() const override {
    return actionObjects_;
  }
  void setActionObjectsBundle(std::shared_ptr<BTActionObjectsBundleSettingsImpl> b) override {
    actionObjects_ = std::move(b);
  }

 private:
  // Gives each missing bundle a fresh, empty one.
  void createMissingBundles();
  // The four bundles in their fixed order (General, MasterDetails, TimeObjects, ActionObjects);
  // missing ones are null.
  std::vector<BTBaseSettingsContainer*> bundles() const;

  tw::UserDefaults& defaults_;
  std::shared_ptr<BTGeneralBundleSettingsImpl> general_;
  std::shared_ptr<BTMasterDetailsBundleSettingsImpl> masterDetail_;
  std::shared_ptr<BTTimeObjectsBundleSettingsImpl> timeObjects_;
  std::shared_ptr<BTActionObjectsBundleSettingsImpl> actionObjects_;
  tw::ScopedNotificationToken changeObserver_;
};
