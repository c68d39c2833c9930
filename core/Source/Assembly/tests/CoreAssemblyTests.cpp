// The core assembly: its definitions in order with their lifetimes and wiring, what activation
// builds, finding every service by its protocol, injection into screens' objects, the store
// reached by the model's factory, and an application's subclass with its own executor and
// updater delegate.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Source/Assembly/BTCoreAssembly.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/PlatformServices/BTAlertPresenter.h"
#include "core/Source/PlatformServices/BTNotificationService.h"
#include "core/Source/PlatformServices/BTSpeechService.h"
#include "core/Source/Services/BTCoreDataProvider.h"
#include "core/Source/Services/BTCoreDataService.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Services/DataServiceBundle/BTAlarmsDataService.h"
#include "core/Source/Services/DataServiceBundle/BTAllTimeObjectsDataService.h"
#include "core/Source/Services/DataServiceBundle/BTStopwatchesDataService.h"
#include "core/Source/Services/DataServiceBundle/BTTimersDataService.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "core/Source/Settings/BTUserDefaultsSettingsService.h"
#include "core/Source/Timing/BTActionExecutor.h"
#include "core/Source/Timing/BTTimingController.h"
#include "core/Source/Timing/BTUpdater.h"
#include "core/Source/Timing/BTUpdaterDelegate.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/inject/Injection.h"
#include "platform/testsupport/TestSupport.h"

namespace {

using tw::test::reasonOf;

class CoreAssemblyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tw::RunLoop::main().drain();
    TyphoonComponentFactory::clearDefaultFactory();
  }
  void TearDown() override {
    clock_.advance(5.0);
    tw::RunLoop::main().drain();
    if (storeOpened_) tw::defaultCoreDataProvider()->cleanUp();
    tw::setDefaultCoreDataProvider(nullptr);
    BTActionExecutor::setDefaultExecutor(nullptr);
    TyphoonComponentFactory::clearDefaultFactory();
    tw::RunLoop::main().drain();
  }
  void openStore() {
    tw::defaultCoreDataProvider()->setup();
    storeOpened_ = true;
  }

  tw::VirtualClock clock_{1'700'000'000.0};
  tw::test::ScopedXdg xdg_;
  bool storeOpened_ = false;
};

// ----- definitions

TEST_F(CoreAssemblyTest, DefinitionsComeInTheirOrderWithClassScopeAndWiring) {
  auto assembly = TyphoonAssembly::assembly<BTCoreAssembly>();
  assembly->activated();

  EXPECT_EQ(
      assembly->definitionKeys(),
      (std::vector<std::string>{
          "actionExecutor", "coreDataProvider", "baseTimeObjectDataProvider", "alarmsDataProvider",
          "timersDataProvider", "stopwatchesDataProvider", "anyTimeObjectDataProvider",
          "alertPresenter", "notificationService", "speechService", "settingsProvider",
          "timingController", "updater", "updaterDelegate"}));

  struct Expected {
    std::string key, className;
    bool scoped;
    tw::DefinitionScope scope;
  };
  const auto lazy = tw::DefinitionScope::LazySingleton;
  const std::vector<Expected> table = {
      {"coreDataProvider", "BTCoreDataService", true, lazy},
      {"baseTimeObjectDataProvider", "BTTimeObjectDataService", false,
       tw::DefinitionScope::PerResolution},
      {"alarmsDataProvider", "BTAlarmsDataService", true, lazy},
      {"timersDataProvider", "BTTimersDataService", true, lazy},
      {"stopwatchesDataProvider", "BTStopwatchesDataService", true, lazy},
      {"anyTimeObjectDataProvider", "BTAllTimeObjectsDataService", true, lazy},
      {"alertPresenter", "BTAlertPresenterController_macOS", true, lazy},
      {"notificationService", "BTNotificationService_macOS", true, lazy},
      {"speechService", "BTSpeechService_macOS", true, lazy},
      {"settingsProvider", "BTUserDefaultsSettingsService", true, lazy},
      {"timingController", "BTTimingController", true, tw::DefinitionScope::Singleton},
      {"updater", "BTUpdater", true, lazy},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.key);
    auto definition = assembly->definitionForKey(row.key);
    ASSERT_TRUE(definition);
    EXPECT_EQ(definition->className(), row.className);
    EXPECT_EQ(definition->hasScope(), row.scoped);
    EXPECT_EQ(definition->scope(), row.scope);
  }
  EXPECT_EQ(assembly->updaterDelegate(), nullptr);
  ASSERT_TRUE(assembly->actionExecutor());
  EXPECT_EQ(assembly->actionExecutor()->className(), "BTActionExecutorService");
  EXPECT_EQ(assembly->actionExecutor()->scope(), lazy);

  // The template's initializer, inherited by the three kinds.
  const auto base = assembly->baseTimeObjectDataProvider();
  ASSERT_EQ(base->initializerParameters().size(), 1u);
  EXPECT_EQ(base->initializerParameters()[0].definition(), assembly->coreDataProvider());
  for (const auto& kind : {assembly->alarmsDataProvider(), assembly->timersDataProvider(),
                           assembly->stopwatchesDataProvider()}) {
    EXPECT_EQ(kind->parent(), base);
    EXPECT_FALSE(kind->hasOwnInitializer());
  }
  EXPECT_EQ(assembly->anyTimeObjectDataProvider()->propertyNames(),
            (std::vector<std::string>{"alarmsDataProvider", "timersDataProvider",
                                      "stopwatchesDataProvider"}));
  const auto& timingParameters = assembly->timingController()->initializerParameters();
  ASSERT_EQ(timingParameters.size(), 2u);
  EXPECT_EQ(timingParameters[0].definition(), assembly->updater());
  EXPECT_EQ(timingParameters[1].definition(), assembly->actionExecutor());
  EXPECT_EQ(assembly->updater()->propertyNames(), std::vector<std::string>{"delegate"});
}

TEST_F(CoreAssemblyTest, ActivationMakesOnlyTheTimingControllerAndWhatItNeeds) {
  auto assembly = TyphoonAssembly::assembly<BTCoreAssembly>();
  auto factory = assembly->activated();
  EXPECT_EQ(TyphoonComponentFactory::defaultFactory(), factory);

  EXPECT_TRUE(factory->hasBuiltComponentForKey("timingController"));
  EXPECT_TRUE(factory->hasBuiltComponentForKey("updater"));
  EXPECT_TRUE(factory->hasBuiltComponentForKey("actionExecutor"));
  for (const char* key : {"coreDataProvider", "alarmsDataProvider", "timersDataProvider",
                          "stopwatchesDataProvider", "anyTimeObjectDataProvider", "alertPresenter",
                          "notificationService", "speechService", "settingsProvider"})
    EXPECT_FALSE(factory->hasBuiltComponentForKey(key)) << key;

  auto controller = factory->componentForType<BTTimingController>();
  EXPECT_EQ(controller->updater(), factory->componentForType<BTUpdater>());
  EXPECT_EQ(controller->updater()->delegate(), nullptr);
  EXPECT_EQ(controller->actionExecutor(), BTActionExecutor::defaultExecutor());
  EXPECT_NE(controller->actionExecutor(), nullptr);
}

// ----- obtaining components

TEST_F(CoreAssemblyTest, EachServiceProtocolIsFoundByTypeAsOneSharedComponent) {
  auto assembly = TyphoonAssembly::assembly<BTCoreAssembly>();
  auto factory = assembly->activated();

  auto expectShared = [&](auto component, const std::shared_ptr<TyphoonDefinition>& definition) {
    using Component = typename decltype(component)::element_type;
    ASSERT_TRUE(component);
    EXPECT_EQ(component, factory->componentForType<Component>());
    EXPECT_EQ(component, assembly->componentFor<Component>(definition));
  };
  expectShared(factory->componentForType<BTCoreDataProvider>(), assembly->coreDataProvider());
  expectShared(factory->componentForType<BTAllTimeObjectsDataProvider>(),
               assembly->anyTimeObjectDataProvider());
  expectShared(factory->componentForType<BTAlertPresenter>(), assembly->alertPresenter());
  expectShared(factory->componentForType<BTNotificationService>(), assembly->notificationService());
  expectShared(factory->componentForType<BTSpeechService>(), assembly->speechService());
  expectShared(factory->componentForType<BTSettingsProvider>(), assembly->settingsProvider());
  expectShared(factory->componentForType<BTTimingController>(), assembly->timingController());
  EXPECT_EQ(factory->componentForType<BTCoreAssembly>(), assembly);

  expectShared(factory->componentForType<BTActionExecutor>(), assembly->actionExecutor());

  // The per-kind services share a protocol: they are reached through their definitions only.
  EXPECT_NE(reasonOf([&] {
              factory->componentForType<BTTimeObjectDataProvider>();
            }).find("more than one component satisfies type 'BTTimeObjectDataProvider'"),
            std::string::npos);
}

TEST_F(CoreAssemblyTest, DataServicesShareTheStoreAndTheAllObjectsServiceHoldsThem) {
  auto assembly = TyphoonAssembly::assembly<BTCoreAssembly>();
  assembly->activated();
  auto alarms = assembly->componentFor<BTTimeObjectDataService>(assembly->alarmsDataProvider());
  auto timers = assembly->componentFor<BTTimeObjectDataService>(assembly->timersDataProvider());
  auto stopwatches =
      assembly->componentFor<BTTimeObjectDataService>(assembly->stopwatchesDataProvider());
  EXPECT_TRUE(std::dynamic_pointer_cast<BTAlarmsDataService>(alarms));
  EXPECT_TRUE(std::dynamic_pointer_cast<BTTimersDataService>(timers));
  EXPECT_TRUE(std::dynamic_pointer_cast<BTStopwatchesDataService>(stopwatches));
  auto store = assembly->componentFor<BTCoreDataProvider>(assembly->coreDataProvider());
  for (const auto& service : {alarms, timers, stopwatches}) {
    EXPECT_EQ(service->coreDataProvider(), store);
    EXPECT_TRUE(service->deletionObserver());
  }

  auto all =
      assembly->componentFor<BTAllTimeObjectsDataService>(assembly->anyTimeObjectDataProvider());
  EXPECT_EQ(all->alarmsDataProvider(), alarms);
  EXPECT_EQ(all->timersDataProvider(), timers);
  EXPECT_EQ(all->stopwatchesDataProvider(), stopwatches);

  // The template alone builds nothing useful: the base names no entity class.
  EXPECT_THROW(
      assembly->componentFor<BTTimeObjectDataService>(assembly->baseTimeObjectDataProvider()),
      tw::Exception);
}

TEST_F(CoreAssemblyTest, TheModelFactoryReachesTheStoreServiceMadeAtItsFirstUse) {
  auto factory = TyphoonAssembly::assembly<BTCoreAssembly>()->activated();
  auto provider = tw::defaultCoreDataProvider();
  ASSERT_TRUE(provider);
  EXPECT_FALSE(factory->hasBuiltComponentForKey("coreDataProvider"));

  openStore();
  EXPECT_TRUE(factory->hasBuiltComponentForKey("coreDataProvider"));
  auto service = factory->componentForType<BTCoreDataProvider>();
  EXPECT_EQ(provider->objectContext(), service->objectContext());
  auto timer = managedObject<BTTimer>();
  timer->setTitle("Tea");
  EXPECT_EQ(service->objectContext()->findAll<BTTimer>().size(), 1u);
}

// A screen's object with injected properties.
class FakeViewModel : public tw::Object, public tw::Injectable {
 public:
  FakeViewModel() { tw::injectFromDefaultFactory(*this); }
  void injectProperties(tw::PropertyInjector& injector) override {
    injector.inject(assembly);
    injector.inject(alertPresenter);
    injector.inject(settingsProvider);
    injector.inject(timingController);
  }
  TyphoonInjectedProtocol<BTCoreAssembly> assembly;
  TyphoonInjectedObject<BTAlertPresenter> alertPresenter;
  TyphoonInjectedObject<BTSettingsProvider> settingsProvider;
  TyphoonInjectedProtocol<BTTimingController> timingController;
};

TEST_F(CoreAssemblyTest, InjectionFillsMarkedPropertiesFromTheDefaultFactory) {
  auto assembly = TyphoonAssembly::assembly<BTCoreAssembly>();
  auto factory = assembly->activated();
  auto model = std::make_shared<FakeViewModel>();

  EXPECT_EQ(model->assembly.get(), assembly);
  EXPECT_EQ(model->alertPresenter.get(), factory->componentForType<BTAlertPresenter>());
  EXPECT_EQ(model->settingsProvider.get(), factory->componentForType<BTSettingsProvider>());
  EXPECT_EQ(model->timingController.get(), factory->componentForType<BTTimingController>());
  // What the master list does with its injected assembly.
  auto timers = model->assembly->componentFor<BTTimeObjectDataProvider>(
      model->assembly->timersDataProvider());
  EXPECT_TRUE(std::dynamic_pointer_cast<BTTimersDataService>(timers));
}

// ----- an application's subclass

class AppExecutor : public tw::Object, public BTActionExecutor {
 public:
  BFTaskPtr executeAction(const std::shared_ptr<BTActionObjectProtocol>&) override {
    return BFTask::voidTask();
  }
};

// Injects itself while the factory builds it, at activation.
class AppUpdaterDelegate : public tw::Object, public BTUpdaterDelegate, public tw::Injectable {
 public:
  AppUpdaterDelegate() { tw::injectFromDefaultFactory(*this); }
  void injectProperties(tw::PropertyInjector& injector) override {
    injector.inject(settingsProvider);
  }
  void updaterDidBeginUpdating(BTUpdater&) override { ++began; }
  void updaterDidStopUpdating(BTUpdater&) override { ++stopped; }
  TyphoonInjectedObject<BTSettingsProvider> settingsProvider;
  int began = 0;
  int stopped = 0;
};

class AppAssembly : public BTCoreAssembly {
 public:
  std::shared_ptr<TyphoonDefinition> actionExecutor() override {
    return define(__func__, [] {
      return TyphoonDefinition::withClass<AppExecutor>([](TyphoonDefinition& d) { d.setScope(3); });
    });
  }
  std::shared_ptr<TyphoonDefinition> updaterDelegate() override {
    return define(__func__, [] {
      return TyphoonDefinition::withClass<AppUpdaterDelegate>(
          [](TyphoonDefinition& d) { d.setScope(3); });
    });
  }
};

TEST_F(CoreAssemblyTest, ASubclassSuppliesTheExecutorAndTheUpdaterDelegate) {
  auto assembly = TyphoonAssembly::assembly<AppAssembly>();
  auto factory = assembly->activated();

  auto executor = factory->componentForType<BTActionExecutor>();
  EXPECT_TRUE(std::dynamic_pointer_cast<AppExecutor>(executor));
  auto controller = factory->componentForType<BTTimingController>();
  EXPECT_EQ(controller->actionExecutor(), executor);
  EXPECT_EQ(BTActionExecutor::defaultExecutor(), executor);

  // Made at activation as the updater's delegate, when the factory was already the default.
  EXPECT_TRUE(factory->hasBuiltComponentForKey("updaterDelegate"));
  auto delegate = factory->componentForType<AppUpdaterDelegate>();
  EXPECT_EQ(controller->updater()->delegate(), delegate);
  EXPECT_EQ(delegate->settingsProvider.get(), factory->componentForType<BTSettingsProvider>());

  // The delegate hears the scheduler start and stop.
  openStore();
  auto timer = managedObject<BTTimer>();
  auto time = managedObject<BTTimeSetting>();
  time->setMinute(5);
  timer->setTime(time);
  auto control = controller->timingControlForTimingObject(timer);
  control->start();
  EXPECT_EQ(delegate->began, 1);
  control->reset();
  EXPECT_EQ(delegate->stopped, 1);
}

TEST_F(CoreAssemblyTest, DataServicesTellTheTimingControllerBeforeADeletion) {
  auto assembly = TyphoonAssembly::assembly<AppAssembly>();
  auto factory = assembly->activated();
  openStore();
  auto controller = factory->componentForType<BTTimingController>();
  auto timers = assembly->componentFor<BTTimeObjectDataService>(assembly->timersDataProvider());

  auto timer = managedObject<BTTimer>();
  auto time = managedObject<BTTimeSetting>();
  time->setMinute(5);
  timer->setTime(time);
  auto control = controller->timingControlForTimingObject(timer);
  control->start();
  ASSERT_EQ(controller->controlCount(), 1u);

  timers->deletionObserver()->willDeleteTimeObject(timer);
  EXPECT_EQ(controller->controlCount(), 0u);
  EXPECT_TRUE(controller->updater()->updateableObjects().empty());
}

// ----- cycles

// A delegate that wants the timing controller, which is being built when the delegate is made.
class GreedyUpdaterDelegate : public AppUpdaterDelegate {
 public:
  GreedyUpdaterDelegate() { tw::injectFromDefaultFactory(*this); }
  void injectProperties(tw::PropertyInjector& injector) override {
    AppUpdaterDelegate::injectProperties(injector);
    injector.inject(timingController);
  }
  TyphoonInjectedProtocol<BTTimingController> timingController;
};

class GreedyAssembly : public BTCoreAssembly {
 public:
  std::shared_ptr<TyphoonDefinition> updaterDelegate() override {
    return define(__func__, [] {
      return TyphoonDefinition::withClass<GreedyUpdaterDelegate>(
          [](TyphoonDefinition& d) { d.setScope(3); });
    });
  }
};

// The same need, spelled in the definitions.
class CyclicAssembly : public BTCoreAssembly {
 public:
  std::shared_ptr<TyphoonDefinition> updaterDelegate() override {
    return define(__func__, [this] {
      return TyphoonDefinition::withClass<GreedyUpdaterDelegate>([this](TyphoonDefinition& d) {
        d.injectProperty<GreedyUpdaterDelegate>(
            "timingController",
            [](GreedyUpdaterDelegate& delegate, const tw::InjectedArgument& controller) {
              delegate.timingController = controller.as<BTTimingController>();
            },
            timingController());
      });
    });
  }
};

TEST_F(CoreAssemblyTest, ServicesThatNeedEachOtherAreRefusedWithTheCycleNamed) {
  auto previous = TyphoonAssembly::assembly<BTCoreAssembly>()->activated();

  EXPECT_EQ(reasonOf([] { TyphoonAssembly::assembly<GreedyAssembly>()->activated(); }),
            "<TyphoonComponentFactory> circular dependency: timingController -> updater -> "
            "updaterDelegate -> timingController");
  EXPECT_EQ(TyphoonComponentFactory::defaultFactory(), previous);

  EXPECT_EQ(reasonOf([] { TyphoonAssembly::assembly<CyclicAssembly>()->activated(); }),
            "<TyphoonAssembly> circular dependency between definitions: timingController -> "
            "updater -> updaterDelegate -> timingController");
}

}  // namespace
