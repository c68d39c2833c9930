#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/inject/tests/InjectTestSupport.h"
#include "platform/testsupport/TestSupport.h"

using namespace injecttest;

namespace {

using tw::test::reasonOf;

class FactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Counts::reset();
    TyphoonComponentFactory::clearDefaultFactory();
  }
  void TearDown() override { TyphoonComponentFactory::clearDefaultFactory(); }
};

// ----- definitions and lifetimes

TEST_F(FactoryTest, ActivationBuildsOnlyEagerSingletonsAndWhatTheyNeed) {
  auto assembly = TyphoonAssembly::assembly<TestAssembly>();
  auto factory = assembly->activated();

  EXPECT_EQ(assembly->definitionKeys(),
            (std::vector<std::string>{"store", "greeter", "service", "baseRepository",
                                      "alarmRepository", "timerRepository", "scratch", "nothing"}));
  EXPECT_EQ(Counts::services, 1);
  EXPECT_EQ(Counts::stores, 1);
  EXPECT_EQ(Counts::greeters, 1);
  EXPECT_TRUE(factory->hasBuiltComponentForKey("service"));
  EXPECT_FALSE(factory->hasBuiltComponentForKey("alarmRepository"));
  EXPECT_EQ(Counts::scratches, 0);
}

TEST_F(FactoryTest, SingletonsAreMadeOncePerResolutionDefinitionsEveryTime) {
  auto assembly = TyphoonAssembly::assembly<TestAssembly>();
  auto factory = assembly->activated();

  auto service = factory->componentForType<Service>();
  EXPECT_EQ(service, factory->componentForType<Service>());
  EXPECT_EQ(service->store(), factory->componentForType<Store>());
  EXPECT_EQ(Counts::stores, 1);

  auto a = factory->componentForKey<Scratch>("scratch");
  auto b = factory->componentForKey<Scratch>("scratch");
  EXPECT_NE(a, b);
  EXPECT_EQ(Counts::scratches, 2);
}

TEST_F(FactoryTest, InitializerAndPropertiesReceiveTheirComponents) {
  auto factory = TyphoonAssembly::assembly<TestAssembly>()->activated();
  auto service = factory->componentForType<Service>();
  auto greeter = factory->componentForType<Greeter>();
  EXPECT_EQ(service->greeter(), greeter);
  EXPECT_EQ(service->delegate(), greeter);  // a weak property, kept alive by the factory
}

TEST_F(FactoryTest, ChildDefinitionsInheritTheParentsInitializerPropertiesAndCanReplaceThem) {
  auto assembly = TyphoonAssembly::assembly<TestAssembly>();
  auto factory = assembly->activated();

  auto alarms = factory->componentForKey<BaseRepository>("alarmRepository");
  auto timers = factory->componentForKey<BaseRepository>("timerRepository");
  ASSERT_TRUE(alarms && timers);
  EXPECT_TRUE(std::dynamic_pointer_cast<AlarmRepository>(alarms));
  EXPECT_TRUE(std::dynamic_pointer_cast<TimerRepository>(timers));
  EXPECT_EQ(alarms->store(), factory->componentForType<Store>());
  EXPECT_EQ(timers->store(), alarms->store());
  EXPECT_EQ(alarms->label, "hello");
  EXPECT_EQ(timers->label, "timer");

  // The template itself keeps no scope: each resolution is new.
  auto base = assembly->baseRepository();
  EXPECT_FALSE(base->hasScope());
  EXPECT_EQ(assembly->alarmRepository()->scope(), tw::DefinitionScope::LazySingleton);
  EXPECT_EQ(assembly->alarmRepository()->initializerParameters().size(), 1u);
  EXPECT_FALSE(assembly->alarmRepository()->hasOwnInitializer());
  EXPECT_NE(factory->componentForDefinition(base), factory->componentForDefinition(base));
}

TEST_F(FactoryTest, ChildInheritsParentScopeWhenItSetsNone) {
  auto parent = TyphoonDefinition::withClass<BaseRepository>(
      [](TyphoonDefinition& d) { d.setScope(tw::DefinitionScope::LazySingleton); });
  auto child = TyphoonDefinition::withParent<AlarmRepository>(parent);
  EXPECT_EQ(child->scope(), tw::DefinitionScope::LazySingleton);
  EXPECT_TRUE(child->hasScope());
}

TEST_F(FactoryTest, AMethodWithoutDefinitionYieldsNull) {
  auto assembly = TyphoonAssembly::assembly<TestAssembly>();
  auto factory = assembly->activated();
  EXPECT_EQ(assembly->nothing(), nullptr);
  EXPECT_EQ(factory->componentForKey<Scratch>("nothing"), nullptr);
  EXPECT_EQ(assembly->componentFor<Scratch>(assembly->nothing()), nullptr);
  EXPECT_NE(reasonOf([&] { factory->componentForKey<Scratch>("missing"); }).find("'missing'"),
            std::string::npos);
}

TEST_F(FactoryTest, CallingADefinitionThroughTheActivatedAssemblyYieldsItsComponent) {
  auto assembly = TyphoonAssembly::assembly<TestAssembly>();
  EXPECT_NE(reasonOf([&] { assembly->componentFor<Store>(assembly->store()); }), "");

  auto factory = assembly->activated();
  EXPECT_EQ(assembly->store(), assembly->store());  // one definition per method
  EXPECT_EQ(assembly->componentFor<Store>(assembly->store()), factory->componentForType<Store>());
  EXPECT_EQ(assembly->componentFor<Repository>(assembly->alarmRepository()),
            factory->componentForKey<Repository>("alarmRepository"));
  EXPECT_EQ(assembly->activated(), factory);
}

// ----- by type

TEST_F(FactoryTest, ComponentForTypeFindsTheOneConformingComponent) {
  auto assembly = TyphoonAssembly::assembly<TestAssembly>();
  auto factory = assembly->activated();

  EXPECT_EQ(factory->componentForType<Greeter>()->greet(), "hello");
  EXPECT_TRUE(factory->componentForType<EnglishGreeter>());
  EXPECT_TRUE(factory->componentForType<AlarmRepository>());
  // The activated assembly answers for its own class.
  EXPECT_EQ(factory->componentForType<TestAssembly>(), assembly);
}

TEST_F(FactoryTest, ComponentForTypeRaisesWhenAmbiguousOrMissing) {
  auto factory = TyphoonAssembly::assembly<TestAssembly>()->activated();

  const auto ambiguous = reasonOf([&] { factory->componentForType<Repository>(); });
  EXPECT_NE(ambiguous.find("more than one component satisfies type 'Repository'"),
            std::string::npos)
      << ambiguous;
  EXPECT_NE(ambiguous.find("alarmRepository (AlarmRepository)"), std::string::npos);
  EXPECT_NE(ambiguous.find("timerRepository"), std::string::npos);

  const auto missing = reasonOf([&] { factory->componentForType<Unrelated>(); });
  EXPECT_EQ(missing, "<TyphoonComponentFactory> no component satisfies type 'Unrelated'");
}

TEST_F(FactoryTest, FindingByTypeBuildsNothingElse) {
  auto factory = TyphoonAssembly::assembly<TestAssembly>()->activated();
  factory->componentForType<AlarmRepository>();
  EXPECT_TRUE(factory->hasBuiltComponentForKey("alarmRepository"));
  EXPECT_FALSE(factory->hasBuiltComponentForKey("timerRepository"));
  EXPECT_EQ(Counts::scratches, 0);
}

// ----- injection

class Consumer : public tw::Object, public tw::Injectable {
 public:
  Consumer() { tw::injectFromDefaultFactory(*this); }
  void injectProperties(tw::PropertyInjector& injector) override {
    injector.inject(greeter);
    injector.inject(store);
    injector.inject(assembly);
  }
  TyphoonInjectedObject<Greeter> greeter;
  std::weak_ptr<Store> store;
  TyphoonInjectedProtocol<TestAssembly> assembly;
  TyphoonInjectedObject<Service> untouched;  // not listed: left alone
};

TEST_F(FactoryTest, InjectFillsTheMarkedPropertiesOnly) {
  auto assembly = TyphoonAssembly::assembly<TestAssembly>();
  auto factory = assembly->activated();

  auto consumer = std::make_shared<Consumer>();
  EXPECT_EQ(consumer->greeter.get(), factory->componentForType<Greeter>());
  EXPECT_EQ(consumer->store.lock(), factory->componentForType<Store>());
  EXPECT_EQ(consumer->assembly.get(), assembly);
  EXPECT_FALSE(consumer->untouched);
}

TEST_F(FactoryTest, WithoutADefaultFactoryInjectionDoesNothing) {
  auto consumer = std::make_shared<Consumer>();
  EXPECT_FALSE(consumer->greeter);
  EXPECT_EQ(tw::defaultComponentForType<Greeter>(), nullptr);
}

// A component that injects itself while the factory builds it at activation.
class SelfInjecting : public tw::Object, public tw::Injectable {
 public:
  SelfInjecting() { tw::injectFromDefaultFactory(*this); }
  void injectProperties(tw::PropertyInjector& injector) override { injector.inject(greeter); }
  TyphoonInjectedObject<Greeter> greeter;
};

class EagerSelfInjectingAssembly : public TestAssembly {
 public:
  virtual std::shared_ptr<TyphoonDefinition> selfInjecting() {
    return define(__func__, [] {
      return TyphoonDefinition::withClass<SelfInjecting>(
          [](TyphoonDefinition& d) { d.setScope(tw::DefinitionScope::Singleton); });
    });
  }

 protected:
  void collectDefinitions() override {
    TestAssembly::collectDefinitions();
    selfInjecting();
  }
};

TEST_F(FactoryTest, EagerComponentsFindTheFactoryAlreadyDefault) {
  auto factory = TyphoonAssembly::assembly<EagerSelfInjectingAssembly>()->activated();
  EXPECT_EQ(TyphoonComponentFactory::defaultFactory(), factory);
  auto component = factory->componentForType<SelfInjecting>();
  ASSERT_TRUE(component->greeter);
  EXPECT_EQ(component->greeter->greet(), "hello");
}

TEST_F(FactoryTest, MakeDefaultSwitchesTheDefaultBack) {
  auto first = TyphoonAssembly::assembly<TestAssembly>();
  auto firstFactory = first->activated();
  auto secondFactory = TyphoonAssembly::assembly<TestAssembly>()->activated();
  EXPECT_EQ(TyphoonComponentFactory::defaultFactory(), secondFactory);
  first->makeDefault();
  EXPECT_EQ(TyphoonComponentFactory::defaultFactory(), firstFactory);
  EXPECT_NE(reasonOf([] { TyphoonAssembly::assembly<TestAssembly>()->makeDefault(); }), "");
}

// ----- subclasses

class FrenchAssembly : public TestAssembly {
 public:
  std::shared_ptr<TyphoonDefinition> greeter() override {
    return define(__func__, [] {
      return TyphoonDefinition::withClass<FrenchGreeter>(
          [](TyphoonDefinition& d) { d.setScope(3); });
    });
  }
};

TEST_F(FactoryTest, ASubclassReplacesADefinitionEverywhere) {
  auto factory = TyphoonAssembly::assembly<FrenchAssembly>()->activated();
  EXPECT_EQ(factory->componentForType<Greeter>()->greet(), "bonjour");
  EXPECT_EQ(factory->componentForType<Service>()->greeter()->greet(), "bonjour");
  EXPECT_EQ(factory->componentForKey<BaseRepository>("alarmRepository")->label, "bonjour");
  EXPECT_EQ(Counts::greeters, 0);
}

// ----- cycles and failures

class CyclicAssembly : public TyphoonAssembly {
 public:
  std::shared_ptr<TyphoonDefinition> first() {
    return define(__func__, [this] {
      return TyphoonDefinition::withClass<Service>([this](TyphoonDefinition& d) {
        d.useInitializer([this](tw::InitializerParameters& p) {
          p.injectParameterWith(second());
          p.injectParameterWith(nullptr);
        });
      });
    });
  }
  std::shared_ptr<TyphoonDefinition> second() {
    return define(__func__, [this] {
      return TyphoonDefinition::withClass<BaseRepository>([this](TyphoonDefinition& d) {
        d.injectProperty<BaseRepository>(
            "label", [](BaseRepository&, const tw::InjectedArgument&) {}, first());
      });
    });
  }

 protected:
  void collectDefinitions() override { first(); }
};

TEST_F(FactoryTest, DefinitionsThatNeedEachOtherAreRefused) {
  const auto reason = reasonOf([] { TyphoonAssembly::assembly<CyclicAssembly>()->activated(); });
  EXPECT_EQ(reason,
            "<TyphoonAssembly> circular dependency between definitions: first -> second -> first");
}

// Asks for itself from its own constructor.
class Narcissist : public tw::Object, public tw::Injectable {
 public:
  Narcissist() { tw::injectFromDefaultFactory(*this); }
  void injectProperties(tw::PropertyInjector& injector) override { injector.inject(self); }
  TyphoonInjectedObject<Narcissist> self;
};

class NarcissistAssembly : public TestAssembly {
 public:
  std::shared_ptr<TyphoonDefinition> narcissist() {
    return define(__func__, [] {
      return TyphoonDefinition::withClass<Narcissist>([](TyphoonDefinition& d) { d.setScope(3); });
    });
  }

 protected:
  void collectDefinitions() override {
    TestAssembly::collectDefinitions();
    narcissist();
  }
};

TEST_F(FactoryTest, AComponentThatNeedsItselfWhileBuiltRaisesAndLeavesTheFactoryUsable) {
  auto factory = TyphoonAssembly::assembly<NarcissistAssembly>()->activated();
  const auto reason = reasonOf([&] { factory->componentForType<Narcissist>(); });
  EXPECT_EQ(reason, "<TyphoonComponentFactory> circular dependency: narcissist -> narcissist");
  EXPECT_FALSE(factory->hasBuiltComponentForKey("narcissist"));
  // Not cached as built: a second request fails the same way, others still resolve.
  EXPECT_EQ(reasonOf([&] { factory->componentForType<Narcissist>(); }), reason);
  EXPECT_TRUE(factory->componentForType<Greeter>());
}

class Fragile : public tw::Object {
 public:
  Fragile() {
    if (failures > 0) {
      --failures;
      tw::raise(tw::NSGenericException, "not yet");
    }
  }
  static inline int failures = 0;
};

class FragileAssembly : public TestAssembly {
 public:
  std::shared_ptr<TyphoonDefinition> fragile() {
    return define(__func__, [] {
      return TyphoonDefinition::withClass<Fragile>([](TyphoonDefinition& d) { d.setScope(3); });
    });
  }

 protected:
  void collectDefinitions() override {
    TestAssembly::collectDefinitions();
    fragile();
  }
};

TEST_F(FactoryTest, AFailedBuildIsNotKeptAndIsTriedAgain) {
  auto factory = TyphoonAssembly::assembly<FragileAssembly>()->activated();
  Fragile::failures = 1;
  EXPECT_EQ(reasonOf([&] { factory->componentForType<Fragile>(); }), "not yet");
  EXPECT_TRUE(factory->componentForType<Fragile>());
}

class FailingEagerAssembly : public FragileAssembly {
 public:
  std::shared_ptr<TyphoonDefinition> fragile() {
    return define(__func__, [] {
      return TyphoonDefinition::withClass<Fragile>([](TyphoonDefinition& d) { d.setScope(2); });
    });
  }

 protected:
  void collectDefinitions() override { fragile(); }
};

TEST_F(FactoryTest, AFailedActivationRestoresTheDefaultFactory) {
  auto previous = TyphoonAssembly::assembly<TestAssembly>()->activated();
  Fragile::failures = 1;
  auto failing = TyphoonAssembly::assembly<FailingEagerAssembly>();
  EXPECT_EQ(reasonOf([&] { failing->activated(); }), "not yet");
  EXPECT_EQ(TyphoonComponentFactory::defaultFactory(), previous);
  EXPECT_FALSE(failing->isActivated());
}

TEST_F(FactoryTest, WiringMistakesRaiseClearReasons) {
  // A property fed the wrong kind of component.
  auto wrong = TyphoonDefinition::withClass<Service>([](TyphoonDefinition& d) {
    d.useInitializer([](tw::InitializerParameters& p) {
      p.injectParameterWith(std::make_shared<MemoryStore>());
      p.injectParameterWith(std::make_shared<MemoryStore>());
    });
  });
  auto factory = TyphoonAssembly::assembly<TestAssembly>()->activated();
  EXPECT_EQ(reasonOf([&] { factory->componentForDefinition(wrong); }),
            "<TyphoonComponentFactory> parameter 2 of <Service> expects Greeter but the injected "
            "component is a MemoryStore");

  auto noSuchInitializer = TyphoonDefinition::withClass<Scratch>([](TyphoonDefinition& d) {
    d.useInitializer([](tw::InitializerParameters& p) { p.injectParameterWith(nullptr); });
  });
  EXPECT_EQ(reasonOf([&] { factory->componentForDefinition(noSuchInitializer); }),
            "<TyphoonDefinition> Scratch has no initializer that takes 1 injected parameter");

  EXPECT_THROW(TyphoonDefinition::withClass<Scratch>([](TyphoonDefinition& d) { d.setScope(7); }),
               tw::Exception);
}

TEST_F(FactoryTest, AnExplicitMakerTakesPlainValuesBesideComponents) {
  auto factory = TyphoonAssembly::assembly<TestAssembly>()->activated();
  auto definition = TyphoonDefinition::withClass<BaseRepository>([](TyphoonDefinition& d) {
    d.useInitializer(
        [](const TyphoonDefinition::Arguments& a) {
          auto repository = std::make_shared<AlarmRepository>(a[0]);
          repository->label = "made";
          return repository;
        },
        [](tw::InitializerParameters& p) {
          p.injectParameterWith(std::make_shared<MemoryStore>());
        });
  });
  auto made =
      std::dynamic_pointer_cast<BaseRepository>(factory->componentForDefinition(definition));
  ASSERT_TRUE(made);
  EXPECT_EQ(made->label, "made");
  EXPECT_TRUE(made->store());
}

TEST_F(FactoryTest, DefinitionsNotCollectedCannotJoinAfterActivation) {
  class Partial : public TestAssembly {
   protected:
    void collectDefinitions() override { store(); }
  };
  auto assembly = TyphoonAssembly::assembly<Partial>();
  assembly->activated();
  EXPECT_NE(reasonOf([&] { assembly->greeter(); }).find("'greeter' is not called by"),
            std::string::npos);
}

// ----- threads

TEST_F(FactoryTest, ConcurrentRequestsBuildALazySingletonOnce) {
  for (int round = 0; round < 20; ++round) {
    Counts::reset();
    auto assembly = TyphoonAssembly::assembly<TestAssembly>();
    auto factory = assembly->activated();
    std::vector<std::shared_ptr<Repository>> seen(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i)
      threads.emplace_back([&, i] { seen[i] = factory->componentForType<AlarmRepository>(); });
    for (auto& t : threads) t.join();
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [&](auto& r) { return r && r == seen[0]; }));
    EXPECT_EQ(Counts::stores, 1);
  }
}

}  // namespace
