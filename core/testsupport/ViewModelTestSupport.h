#pragma once
// Shared set-up of the view-model tests: the core assembly activated as the default factory
// (with an alert presenter and an action executor that only record), a fresh store and settings
// in private XDG folders, a virtual clock driving every delay, and quick ways to make time
// objects through their data providers. Test-only.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Source/Assembly/BTCoreAssembly.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/PlatformServices/BTAlertPresenter.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Services/DataServiceBundle/BTTimeObjectDataProvider.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "core/Source/Timing/BTActionExecutor.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/inject/TyphoonComponentFactory.h"
#include "platform/inject/TyphoonDefinition.h"
#include "platform/testsupport/TestSupport.h"

namespace tw::test {

class RecordingAlertPresenter : public tw::Object, public BTAlertPresenter {
 public:
  void presentAlert(const std::shared_ptr<BTAlert>& alert) override { alerts.push_back(alert); }
  void presentActionSheet(const std::shared_ptr<BTAlert>& alert,
                          const tw::ui::WindowRef&) override {
    alerts.push_back(alert);
  }
  std::vector<std::shared_ptr<BTAlert>> alerts;
};

class RecordingActionExecutor : public tw::Object, public BTActionExecutor {
 public:
  BFTaskPtr executeAction(const std::shared_ptr<BTActionObjectProtocol>& action) override {
    actions.push_back(action);
    return BFTask::voidTask();
  }
  std::vector<std::shared_ptr<BTActionObjectProtocol>> actions;
};

class ViewModelTestAssembly : public BTCoreAssembly {
 public:
  std::shared_ptr<TyphoonDefinition> alertPresenter() override {
    return define(__func__, [] {
      return TyphoonDefinition::withClass<RecordingAlertPresenter>(
          [](TyphoonDefinition& d) { d.setScope(3); });
    });
  }
  std::shared_ptr<TyphoonDefinition> actionExecutor() override {
    return define(__func__, [] {
      return TyphoonDefinition::withClass<RecordingActionExecutor>(
          [](TyphoonDefinition& d) { d.setScope(3); });
    });
  }
};

class ViewModelTest : public ::testing::Test {
 protected:
  static constexpr double kStart = 1'700'000'000.0;  // 2023-11-14 22:13:20 UTC

  void SetUp() override {
    RunLoop::main().drain();
    TyphoonComponentFactory::clearDefaultFactory();
    assembly_ = TyphoonAssembly::assembly<ViewModelTestAssembly>();
    factory_ = assembly_->activated();
    defaultCoreDataProvider()->setup();
    settings_ = factory_->componentForType<BTSettingsProvider>();
    settings_->load();
    settings_->registerDefaults();
  }
  void TearDown() override {
    clock_.advance(5.0);
    RunLoop::main().drain();
    defaultCoreDataProvider()->cleanUp();
    setDefaultCoreDataProvider(nullptr);
    BTActionExecutor::setDefaultExecutor(nullptr);
    TyphoonComponentFactory::clearDefaultFactory();
    RunLoop::main().drain();
  }

  void pump() {
    for (int i = 0; i < 5; ++i) RunLoop::main().drain();
  }
  void advance(double seconds) {
    clock_.advance(seconds);
    pump();
  }

  std::shared_ptr<BTTimeObjectDataProvider> provider(std::int64_t mode) {
    auto definition = mode == 0   ? assembly_->alarmsDataProvider()
                      : mode == 1 ? assembly_->timersDataProvider()
                                  : assembly_->stopwatchesDataProvider();
    return assembly_->componentFor<BTTimeObjectDataProvider>(definition);
  }
  // Loads the mode's list, then appends `count` new objects titled "0", "1", ...
  std::vector<std::shared_ptr<BTTimeObject>> makeObjects(std::int64_t mode, int count) {
    auto p = provider(mode);
    p->loadTimeObjects();
    pump();
    for (int i = 0; i < count; ++i) {
      auto task = p->createTimeObject();
      pump();
      task->result().objectAs<BTTimeObject>()->setTitle(std::to_string(i));
    }
    return p->timeObjects();
  }
  RecordingAlertPresenter& presenter() {
    return *std::dynamic_pointer_cast<RecordingAlertPresenter>(
        factory_->componentForType<BTAlertPresenter>());
  }
  RecordingActionExecutor& executor() {
    return *std::dynamic_pointer_cast<RecordingActionExecutor>(
        factory_->componentForType<BTActionExecutor>());
  }

  ScopedXdg xdg_;
  VirtualClock clock_{kStart};
  std::shared_ptr<ViewModelTestAssembly> assembly_;
  std::shared_ptr<TyphoonComponentFactory> factory_;
  std::shared_ptr<BTSettingsProvider> settings_;
};

}  // namespace tw::test
