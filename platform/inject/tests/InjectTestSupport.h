#pragma once
// Components and assemblies shared by the injection tests.

#include <atomic>
#include <memory>
#include <string>

#include "platform/foundation/Object.h"
#include "platform/inject/Injection.h"
#include "platform/inject/TyphoonAssembly.h"

namespace injecttest {

// Protocols.
class Greeter {
 public:
  virtual ~Greeter() = default;
  virtual std::string greet() const = 0;
};
class Store {
 public:
  virtual ~Store() = default;
};
class Repository {
 public:
  virtual ~Repository() = default;
  virtual std::shared_ptr<Store> store() const = 0;
};
class Unrelated {
 public:
  virtual ~Unrelated() = default;
};

struct Counts {
  static inline std::atomic<int> stores{0};
  static inline std::atomic<int> greeters{0};
  static inline std::atomic<int> services{0};
  static inline std::atomic<int> scratches{0};
  static void reset() { stores = greeters = services = scratches = 0; }
};

class MemoryStore : public tw::Object, public Store {
 public:
  MemoryStore() { ++Counts::stores; }
};

class EnglishGreeter : public tw::Object, public Greeter {
 public:
  EnglishGreeter() { ++Counts::greeters; }
  std::string greet() const override { return "hello"; }
};
class FrenchGreeter : public tw::Object, public Greeter {
 public:
  std::string greet() const override { return "bonjour"; }
};

class Service : public tw::Object {
 public:
  Service(std::shared_ptr<Store> store, std::shared_ptr<Greeter> greeter)
      : store_(std::move(store)), greeter_(std::move(greeter)) {
    ++Counts::services;
  }
  const std::shared_ptr<Store>& store() const { return store_; }
  const std::shared_ptr<Greeter>& greeter() const { return greeter_; }
  std::shared_ptr<Greeter> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<Greeter> delegate) { delegate_ = std::move(delegate); }

 private:
  std::shared_ptr<Store> store_;
  std::shared_ptr<Greeter> greeter_;
  std::weak_ptr<Greeter> delegate_;
};

class BaseRepository : public tw::Object, public virtual Repository {
 public:
  explicit BaseRepository(std::shared_ptr<Store> store) : store_(std::move(store)) {}
  std::shared_ptr<Store> store() const override { return store_; }
  std::string label;
  void setLabelFrom(const std::shared_ptr<Greeter>& greeter) {
    label = greeter ? greeter->greet() : "-";
  }

 private:
  std::shared_ptr<Store> store_;
};
class AlarmRepository : public BaseRepository {
 public:
  using BaseRepository::BaseRepository;
};
class TimerRepository : public BaseRepository {
 public:
  using BaseRepository::BaseRepository;
};

class Scratch : public tw::Object {
 public:
  Scratch() { ++Counts::scratches; }
};

// The assembly most tests activate: two lazy services, an eager one built from them, a template
// with two children, a per-resolution definition and a method that yields no definition.
class TestAssembly : public TyphoonAssembly {
 public:
  virtual std::shared_ptr<TyphoonDefinition> store() {
    return define(__func__, [] {
      return TyphoonDefinition::withClass<MemoryStore>(
          [](TyphoonDefinition& d) { d.setScope(tw::DefinitionScope::LazySingleton); });
    });
  }
  virtual std::shared_ptr<TyphoonDefinition> greeter() {
    return define(__func__, [] {
      return TyphoonDefinition::withClass<EnglishGreeter>(
          [](TyphoonDefinition& d) { d.setScope(3); });
    });
  }
  virtual std::shared_ptr<TyphoonDefinition> service() {
    return define(__func__, [this] {
      return TyphoonDefinition::withClass<Service>([this](TyphoonDefinition& d) {
        d.useInitializer([this](tw::InitializerParameters& p) {
          p.injectParameterWith(store());
          p.injectParameterWith(greeter());
        });
        d.injectProperty("delegate", &Service::setDelegate, greeter());
        d.setScope(tw::DefinitionScope::Singleton);
      });
    });
  }
  virtual std::shared_ptr<TyphoonDefinition> baseRepository() {
    return define(__func__, [this] {
      return TyphoonDefinition::withClass<BaseRepository>([this](TyphoonDefinition& d) {
        d.useInitializer([this](tw::InitializerParameters& p) { p.injectParameterWith(store()); });
        d.injectProperty<BaseRepository>(
            "label",
            [](BaseRepository& r, const tw::InjectedArgument& a) {
              r.setLabelFrom(a.as<Greeter>());
            },
            greeter());
      });
    });
  }
  virtual std::shared_ptr<TyphoonDefinition> alarmRepository() {
    return define(__func__, [this] {
      return TyphoonDefinition::withParent<AlarmRepository>(
          baseRepository(), [](TyphoonDefinition& d) { d.setScope(3); });
    });
  }
  virtual std::shared_ptr<TyphoonDefinition> timerRepository() {
    return define(__func__, [this] {
      return TyphoonDefinition::withParent<TimerRepository>(
          baseRepository(), [](TyphoonDefinition& d) {
            d.setScope(3);
            // Replaces the parent's property of the same name.
            d.injectProperty<BaseRepository>(
                "label", [](BaseRepository& r, const tw::InjectedArgument&) { r.label = "timer"; },
                nullptr);
          });
    });
  }
  virtual std::shared_ptr<TyphoonDefinition> scratch() {
    return define(__func__, [] { return TyphoonDefinition::withClass<Scratch>(); });
  }
  virtual std::shared_ptr<TyphoonDefinition> nothing() {
    return define(__func__, [] { return nullptr; });
  }

 protected:
  void collectDefinitions() override {
    store();
    greeter();
    service();
    baseRepository();
    alarmRepository();
    timerRepository();
    scratch();
    nothing();
  }
};

}  // namespace injecttest
