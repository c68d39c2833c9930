#pragma once
// BTCoreDataService: owns the persistent store of all time objects, actions and triggers. Opens
// it at launch (the merged model of the framework and the application, an automatically
// migrating SQLite store "com.velmora.Tickwell" under $XDG_DATA_HOME/Tickwell), saves it on
// request and by itself, and closes it at quit. One shared component for the life of the process.
//
// Saving by itself: a turn of the main loop that changed the running state of a time object
// (its state or the moments kept with it), inserted or deleted any object, or reordered a list
// is saved right after that turn, so a crash loses none of it. Every other change (typed text,
// settings of a time object) is saved 10 seconds after the last change.
//
// A store the user can read but not write is opened read-only: its data is shown, isReadOnly()
// says so, and BTCoreDataServiceStoreIsReadOnlyNotification (object: the service) is posted on
// the main queue after set-up, for the application to tell the user once it has a window.
// Saves then fail (logged), keeping every change in memory; auto-saves are not attempted.
//
// Main thread, except the two run methods, which any thread may call.

#include <memory>

#include "core/Source/Services/BTCoreDataProvider.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Object.h"

// The framework's bundle identifier.
inline constexpr const char* BTTickwellSharedBundleID = "com.velmora.Tickwell-Shared-macOS";

inline constexpr const char* BTCoreDataServiceStoreIsReadOnlyNotification =
    "BTCoreDataServiceStoreIsReadOnlyNotification";

class BTCoreDataService : public tw::Object, public BTCoreDataProvider {
 public:
  static constexpr const char* kStoreName = "com.velmora.Tickwell";
  static constexpr double kAutoSaveDelay = 10.0;

  BTCoreDataService();
  ~BTCoreDataService() override;

  // BTCoreDataProvider
  void setup() override;
  void save() override;
  void requestSave() override;
  // Also drops a pending auto-save, which would otherwise reach for a store that is gone.
  void cleanUp() override;
  void runOnCoreDataQueueAsync(tw::Block block) override;
  void runOnCoreDataQueueSync(const tw::Block& block) override;
  std::shared_ptr<const tw::store::Model> objectModel() const override;
  std::shared_ptr<tw::store::Context> objectContext() const override;
  std::shared_ptr<tw::store::PersistentStore> storeCoordinator() const override;
  // Kept for whoever sets it; the service's own queue work always uses the main queue.
  std::shared_ptr<tw::DispatchQueue> coreDataQueue() const override { return coreDataQueue_; }
  void setCoreDataQueue(std::shared_ptr<tw::DispatchQueue> queue) override {
    coreDataQueue_ = std::move(queue);
  }

  // The store was read but cannot be written: changes stay in memory only.
  bool isReadOnly() const;

  // Whether an auto-save is waiting for its delay to end (tests).
  bool hasPendingAutoSave() const;

 private:
  void managedObjectContextDidChange(const tw::Notification& notification);
  void performAutoSave();
  void performRequestedSave();
  void stopObservingContext();

  std::shared_ptr<tw::DispatchQueue> coreDataQueue_;
  tw::NotificationToken contextObservation_;
  tw::DelayedWork pendingAutoSave_;
  bool saveRequested_ = false;
};
