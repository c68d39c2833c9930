#pragma once
// BTCoreAssembly: the core framework's component assembly. Names every long-lived service once,
// with its class, lifetime and wiring; the application activates a subclass of it at launch,
// which becomes the default component factory, and every service is then obtained from that
// factory (by type, by injection, or by calling a definition on the activated assembly).
//
// Definitions, in order (scope 2: made at activation; 3: made at first request; none: a new
// instance each time):
//   actionExecutor             BTActionExecutorService, 3 (subclasses put their own executor)
//   coreDataProvider           BTCoreDataService, 3
//   baseTimeObjectDataProvider BTTimeObjectDataService, none; initializer with coreDataProvider;
//                              the template of the next three
//   alarmsDataProvider         BTAlarmsDataService, 3, parent baseTimeObjectDataProvider
//   timersDataProvider         BTTimersDataService, 3, parent baseTimeObjectDataProvider
//   stopwatchesDataProvider    BTStopwatchesDataService, 3, parent baseTimeObjectDataProvider
//   anyTimeObjectDataProvider  BTAllTimeObjectsDataService, 3; properties alarmsDataProvider,
//                              timersDataProvider, stopwatchesDataProvider
//   alertPresenter             BTAlertPresenterController_macOS, 3
//   notificationService        BTNotificationService_macOS, 3
//   speechService              BTSpeechService_macOS, 3
//   settingsProvider           BTUserDefaultsSettingsService, 3
//   timingController           BTTimingController, 2; initializer with updater, actionExecutor
//   updater                    BTUpdater, 3; property delegate = updaterDelegate
//   updaterDelegate            no definition here (the updater has no delegate); subclasses
//                              supply one
// Besides, the per-kind data services tell the timing controller before they delete a time
// object (their deletionObserver), so a running object's control is reset while the object is
// still whole.
//
// Activation also makes the model's process-wide core data provider (tw::defaultCoreDataProvider)
// the coreDataProvider component, reached lazily: the service is still made at its first use,
// not at activation. And it registers the actionExecutor component as the default action
// executor, for controls made without one (it is made at activation anyway, for the timing
// controller).
//
// Definition methods are virtual: a subclass overrides one with its own define(__func__, ...)
// body, which then replaces the base's everywhere. Create with
// TyphoonAssembly::assembly<BTCoreAssembly>() or that of a subclass; define and activate on the
// main thread.

#include <memory>

#include "platform/inject/TyphoonAssembly.h"

class BTCoreAssembly : public TyphoonAssembly {
 public:
  BTCoreAssembly() = default;

  virtual std::shared_ptr<TyphoonDefinition> actionExecutor();
  virtual std::shared_ptr<TyphoonDefinition> coreDataProvider();
  virtual std::shared_ptr<TyphoonDefinition> baseTimeObjectDataProvider();
  virtual std::shared_ptr<TyphoonDefinition> alarmsDataProvider();
  virtual std::shared_ptr<TyphoonDefinition> timersDataProvider();
  virtual std::shared_ptr<TyphoonDefinition> stopwatchesDataProvider();
  virtual std::shared_ptr<TyphoonDefinition> anyTimeObjectDataProvider();
  virtual std::shared_ptr<TyphoonDefinition> alertPresenter();
  virtual std::shared_ptr<TyphoonDefinition> notificationService();
  virtual std::shared_ptr<TyphoonDefinition> speechService();
  virtual std::shared_ptr<TyphoonDefinition> settingsProvider();
  virtual std::shared_ptr<TyphoonDefinition> timingController();
  virtual std::shared_ptr<TyphoonDefinition> updater();
  virtual std::shared_ptr<TyphoonDefinition> updaterDelegate();

 protected:
  void collectDefinitions() override;
  void didActivate(TyphoonComponentFactory& factory) override;
};
