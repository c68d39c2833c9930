#include "core/Source/Assembly/BTCoreAssembly.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"

#include "core/Source/Actions/BTActionExecutorService.h"
#include "core/Source/Assembly/LazyCoreDataProvider.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/PlatformServices/BTNotificationService_macOS.h"
#include "core/Source/PlatformServices/BTSpeechService_macOS.h"
#include "core/Source/PlatformServices/UI/BTAlertPresenterController_macOS.h"
#include "core/Source/Services/BTCoreDataService.h"
#include "core/Source/Services/DataServiceBundle/BTAlarmsDataService.h"
#include "core/Source/Services/DataServiceBundle/BTAllTimeObjectsDataService.h"
#include "core/Source/Services/DataServiceBundle/BTStopwatchesDataService.h"
#include "core/Source/Services/DataServiceBundle/BTTimeObjectDataService.h"
#include "core/Source/Services/DataServiceBundle/BTTimeObjectDeletionObserver.h"
#include "core/Source/Services/DataServiceBundle/BTTimersDataService.h"
#include "core/Source/Settings/BTUserDefaultsSettingsService.h"
#include "core/Source/Timing/BTActionExecutor.h"
#include "core/Source/Timing/BTTimingController.h"
#include "core/Source/Timing/BTUpdater.h"
#include "platform/inject/TyphoonComponentFactory.h"

using tw::DefinitionScope;
using tw::InitializerParameters;

namespace {
void lazySingleton(TyphoonDefinition& definition) {
  definition.setScope(DefinitionScope::LazySingleton);
}
}  // namespace

std::shared_ptr<TyphoonDefinition> BTCoreAssembly::actionExecutor() {
  return define(__func__, [] {
    return TyphoonDefinition::withClass<BTActionExecutorService>(lazySingleton);
  });
}

std::shared_ptr<TyphoonDefinition> BTCoreAssembly::coreDataProvider() {
  return define(__func__,
                [] { return TyphoonDefinition::withClass<BTCoreDataService>(lazySingleton); });
}

std::shared_ptr<TyphoonDefinition> BTCoreAssembly::baseTimeObjectDataProvider() {
  return define(__func__, [this] {
    return TyphoonDefinition::withClass<BTTimeObjectDataService>([this](TyphoonDefinition& d) {
      d.useInitializer(
          [this](InitializerParameters& p) { p.injectParameterWith(coreDataProvider()); });
      // Deleting a running object must first take its control off the tick scheduler; the
      // observer holds the controller weakly, as the factory owns it.
      d.injectProperty<BTTimeObjectDataService>(
          "deletionObserver",
          [](BTTimeObjectDataService& service, const tw::InjectedArgument& controller) {
            std::weak_ptr<BTTimingController> weakController = controller.as<BTTimingController>();
            service.setDeletionObserver(BTTimeObjectDeletionObserver::withBlock(
                [weakController](const std::shared_ptr<BTTimeObject>& timeObject) {
                  if (auto strong = weakController.lock())
                    strong->timeObjectWillBeDeleted(timeObject);
                }));
          },
          timingController());
    });
  });
}

std::shared_ptr<TyphoonDefinition> BTCoreAssembly::alarmsDataProvider() {
  return define(__func__, [this] {
    return TyphoonDefinition::withParent<BTAlarmsDataService>(baseTimeObjectDataProvider(),
                                                              lazySingleton);
  });
}

std::shared_ptr<TyphoonDefinition> BTCoreAssembly::timersDataProvider() {
  return define(__func__, [this] {
    return TyphoonDefinition::withParent<BTTimersDataService>(baseTimeObjectDataProvider(),
                                                              lazySingleton);
  });
}

std::shared_ptr<TyphoonDefinition> BTCoreAssembly::stopwatchesDataProvider() {
  return define(__func__, [this] {
    return TyphoonDefinition::withParent<BTStopwatchesDataService>(baseTimeObjectDataProvider(),
                                                                   lazySingleton);
  });
}

std::shared_ptr<TyphoonDefinition> BTCoreAssembly::anyTimeObjectDataProvider() {
  return define(__func__, [this] {
    return TyphoonDefinition::withClass<BTAllTimeObjectsDataService>([this](TyphoonDefinition& d) {
      d.injectProperty("alarmsDataProvider", &BTAllTimeObjectsDataService::setAlarmsDataProvider,
                       alarmsDataProvider());
      d.injectProperty("timersDataProvider", &BTAllTimeObjectsDataService::setTimersDataProvider,
                       timersDataProvider());
      d.injectProperty("stopwatchesDataProvider",
                       &BTAllTimeObjectsDataService::setStopwatchesDataProvider,
                       stopwatchesDataProvider());
      d.setScope(DefinitionScope::LazySingleton);
    });
  });
}

std::shared_ptr<TyphoonDefinition> BTCoreAssembly::alertPresenter() {
  return define(__func__, [] {
    return TyphoonDefinition::withClass<BTAlertPresenterController_macOS>(lazySingleton);
  });
}

std::shared_ptr<TyphoonDefinition> BTCoreAssembly::notificationService() {
  return define(__func__, [] {
    return TyphoonDefinition::withClass<BTNotificationService_macOS>(lazySingleton);
  });
}

std::shared_ptr<TyphoonDefinition> BTCoreAssembly::speechService() {
  return define(__func__,
                [] { return TyphoonDefinition::withClass<BTSpeechService_macOS>(lazySingleton); });
}

std::shared_ptr<TyphoonDefinition> BTCoreAssembly::settingsProvider() {
  return define(__func__, [] {
    return TyphoonDefinition::withClass<BTUserDefaultsSettingsService>(lazySingleton);
  });
}

std::shared_ptr<TyphoonDefinition> BTCoreAssembly::timingController() {
  return define(__func__, [this] {
    return TyphoonDefinition::withClass<BTTimingController>([this](TyphoonDefinition& d) {
      d.useInitializer([this](InitializerParameters& p) {
        p.injectParameterWith(updater());
        p.injectParameterWith(actionExecutor());
      });
      d.setScope(DefinitionScope::Singleton);
    });
  });
}

std::shared_ptr<TyphoonDefinition> BTCoreAssembly::updater() {
  return define(__func__, [this] {
    return TyphoonDefinition::withClass<BTUpdater>([this](TyphoonDefinition& d) {
      d.injectProperty("delegate", &BTUpdater::setDelegate, updaterDelegate());
      d.setScope(DefinitionScope::LazySingleton);
    });
  });
}

std::shared_ptr<TyphoonDefinition> BTCoreAssembly::updaterDelegate() {
  return define(__func__, [] { return nullptr; });
}

void BTCoreAssembly::collectDefinitions() {
  actionExecutor();
  coreDataProvider();
  baseTimeObjectDataProvider();
  alarmsDataProvider();
  timersDataProvider();
  stopwatchesDataProvider();
  anyTimeObjectDataProvider();
  alertPresenter();
  notificationService();
  speechService();
  settingsProvider();
  timingController();
  updater();
  updaterDelegate();
}

void BTCoreAssembly::didActivate(TyphoonComponentFactory& factory) {
  tw::setDefaultCoreDataProvider(
      std::make_shared<tw::LazyCoreDataProvider>(factory.weak_from_this(), coreDataProvider()));
  BTActionExecutor::setDefaultExecutor(componentFor<BTActionExecutor>(actionExecutor()));
}
