// Where a stopwatch control gets its settings provider: by injection from the default component
// factory, else the one registered for controls; a factory that has no settings provider (an
// assembly of a test's own) must not stop a stopwatch from being made.

#include <gtest/gtest.h>

#include <memory>

#include "core/Source/Timing/BTStopwatchControlViewModel.h"
#include "core/Source/Timing/tests/TimingTestSupport.h"
#include "platform/inject/TyphoonAssembly.h"
#include "platform/inject/TyphoonComponentFactory.h"

namespace {

using tw::test::StubSettingsProvider;

class SettingsProviderComponent : public tw::Object, public StubSettingsProvider {};

// Hands out the given settings provider, or defines nothing at all.
class SettingsAssembly : public TyphoonAssembly {
 public:
  std::shared_ptr<SettingsProviderComponent> provider;

  virtual std::shared_ptr<TyphoonDefinition> settingsProvider() {
    return define(__func__, [this]() -> std::shared_ptr<TyphoonDefinition> {
      if (!provider) return nullptr;
      return TyphoonDefinition::withFactory<SettingsProviderComponent>(
          [component = provider](const TyphoonDefinition::Arguments&) { return component; });
    });
  }

 protected:
  void collectDefinitions() override { settingsProvider(); }
};

class StopwatchSettingsInjectionTest : public tw::test::TimingStoreTest {
 protected:
  void SetUp() override {
    TimingStoreTest::SetUp();
    TyphoonComponentFactory::clearDefaultFactory();
    BTStopwatchControlViewModel::setDefaultSettingsProvider(registered_);
  }
  void TearDown() override {
    BTStopwatchControlViewModel::setDefaultSettingsProvider({});
    TyphoonComponentFactory::clearDefaultFactory();
    TimingStoreTest::TearDown();
  }
  std::shared_ptr<BTStopwatchControlViewModel> newControl() {
    return BTTimeObjectControlViewModel::create<BTStopwatchControlViewModel>(
        managedObject<BTStopwatch>(), executor_);
  }

  std::shared_ptr<StubSettingsProvider> registered_ = std::make_shared<StubSettingsProvider>();
};

TEST_F(StopwatchSettingsInjectionTest, TheFactorysProviderIsInjectedAndWinsOverTheRegisteredOne) {
  auto assembly = TyphoonAssembly::assembly<SettingsAssembly>();
  assembly->provider = std::make_shared<SettingsProviderComponent>();
  assembly->activated();

  auto control = newControl();
  EXPECT_EQ(control->settingsProvider(), assembly->provider);
  assembly->provider->timeObjectsBundle()->setStopwatchAccuracy(2);
  EXPECT_EQ(control->updateRate(), BTStopwatchControlViewModel::kRateMilliseconds);
}

TEST_F(StopwatchSettingsInjectionTest, WithoutAProviderInTheFactoryTheRegisteredOneIsTaken) {
  TyphoonAssembly::assembly<SettingsAssembly>()->activated();  // defines no provider

  std::shared_ptr<BTStopwatchControlViewModel> control;
  ASSERT_NO_THROW(control = newControl());
  EXPECT_EQ(control->settingsProvider(), registered_);

  // And with no factory at all.
  TyphoonComponentFactory::clearDefaultFactory();
  EXPECT_EQ(newControl()->settingsProvider(), registered_);
}

}  // namespace
