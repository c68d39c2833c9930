#pragma once
// TSYKit: the protocol of kit classes. Its members are class methods, so a kit's class object
// (a tw::RuntimeClass) implements it; the kit itself is a C++ class with static members, and
// tw::kitClass<Kit>() makes its class object, answering the optional members exactly when the
// kit declares them. The kit registry (Tessaly) tells kits from other classes by this protocol.
//
// A kit class declares:
//   static constexpr const char* kClassName = "Morvex";
//   static std::string bundleIdentifier();
//   static std::string kitDisplayVersion();
// and optionally kitBuildVersion(), initializeIfNeeded(), disableUninitializedKitMessaging().
//
// Class objects are made once and shared; any thread (the kits' own rules apply to the calls).

#include <memory>
#include <string>
#include <string_view>

#include "kits/platform/RuntimeClass.h"

class TSYKit {
 public:
  virtual ~TSYKit() = default;
  virtual std::string bundleIdentifier() const = 0;
  virtual std::string kitDisplayVersion() const = 0;
  // Optional members: do nothing (or give nothing) unless the class responds to them.
  virtual std::string kitBuildVersion() const { return {}; }
  virtual void initializeIfNeeded() {}
  virtual void disableUninitializedKitMessaging() {}
};

namespace tw {

// The conformance check ("conformsToProtocol:").
inline TSYKit* asTSYKit(const std::shared_ptr<RuntimeClass>& cls) {
  return dynamic_cast<TSYKit*>(cls.get());
}

template <class Kit>
class KitClass final : public RuntimeClass, public TSYKit {
 public:
  KitClass() : RuntimeClass(Kit::kClassName) {}

  std::string bundleIdentifier() const override { return Kit::bundleIdentifier(); }
  std::string kitDisplayVersion() const override { return Kit::kitDisplayVersion(); }
  std::string kitBuildVersion() const override {
    if constexpr (requires { Kit::kitBuildVersion(); })
      return Kit::kitBuildVersion();
    else
      return {};
  }
  void initializeIfNeeded() override {
    if constexpr (requires { Kit::initializeIfNeeded(); }) Kit::initializeIfNeeded();
  }
  void disableUninitializedKitMessaging() override {
    if constexpr (requires { Kit::disableUninitializedKitMessaging(); })
      Kit::disableUninitializedKitMessaging();
  }

  bool respondsToSelector(std::string_view s) const override {
    if (s == "bundleIdentifier" || s == "kitDisplayVersion") return true;
    if (s == "kitBuildVersion") return requires {
        Kit::kitBuildVersion();
      };
    if (s == "initializeIfNeeded") return requires {
        Kit::initializeIfNeeded();
      };
    if (s == "disableUninitializedKitMessaging") return requires {
        Kit::disableUninitializedKitMessaging();
      };
    return false;
  }
};

// The one class object of `Kit`.
template <class Kit>
std::shared_ptr<RuntimeClass> kitClass() {
  static const std::shared_ptr<RuntimeClass> cls = std::make_shared<KitClass<Kit>>();
  return cls;
}

}  // namespace tw
