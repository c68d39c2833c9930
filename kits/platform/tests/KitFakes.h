#pragma once
// Fakes for the kit platform's tests: kit classes that record what the registry sends them, an
// older-style kit, the outside platform's application class, a settings manager that records its
// start, and a fixture that gives each test a fresh "process": private XDG folders, a main bundle
// with the Info.plist the test writes, and a registry that has not started yet. Test-only.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kits/crash/Morvex.h"
#include "kits/platform/RuntimeClass.h"
#include "kits/platform/SettingsOnboardingFlow.h"
#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/TSYKit.h"
#include "kits/platform/Tessaly.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/testsupport/TestSupport.h"

namespace tw::test {

// What the fakes were sent, in order ("init:Morvex", "disable:Oriseth", "start:Legacy").
class SentLog {
 public:
  void add(std::string what) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(what));
  }
  std::vector<std::string> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

class FakeKitClass : public RuntimeClass, public TSYKit {
 public:
  FakeKitClass(std::string name, std::shared_ptr<SentLog> sent, bool initializes = true,
               bool disables = true)
      : RuntimeClass(std::move(name)),
        sent_(std::move(sent)),
        initializes_(initializes),
        disables_(disables) {}
  std::string bundleIdentifier() const override { return "com.example." + name(); }
  std::string kitDisplayVersion() const override { return "2.1.0"; }
  void initializeIfNeeded() override { sent_->add("init:" + name()); }
  void disableUninitializedKitMessaging() override { sent_->add("disable:" + name()); }
  bool respondsToSelector(std::string_view s) const override {
    if (s == "initializeIfNeeded") return initializes_;
    if (s == "disableUninitializedKitMessaging") return disables_;
    return s == "bundleIdentifier" || s == "kitDisplayVersion";
  }

 private:
  std::shared_ptr<SentLog> sent_;
  bool initializes_, disables_;
};

// An instance of a kit (or of any class), to pass instead of its class.
class FakeInstance : public RuntimeObject {
 public:
  explicit FakeInstance(std::shared_ptr<RuntimeClass> cls) : cls_(std::move(cls)) {}
  std::shared_ptr<RuntimeClass> objectClass() const override { return cls_; }

 private:
  std::shared_ptr<RuntimeClass> cls_;
};

// An older-style kit: a shared instance that answers start, bundleIdentifier and version (or
// only some of them).
class LegacyKitClass : public RuntimeClass {
 public:
  LegacyKitClass(std::string name, std::shared_ptr<SentLog> sent, bool complete = true);
  bool respondsToSelector(std::string_view s) const override { return s == "sharedInstance"; }
  bool instancesRespondToSelector(std::string_view s) const override {
    return s == "start" || s == "bundleIdentifier" || (complete_ && s == "version");
  }
  Value perform(std::string_view selector, const Array& args = {}) override;

 private:
  std::shared_ptr<SentLog> sent_;
  bool complete_;
  std::shared_ptr<RuntimeObject> instance_;
};

class LegacyKitInstance : public RuntimeObject {
 public:
  LegacyKitInstance(std::weak_ptr<RuntimeClass> cls, std::shared_ptr<SentLog> sent)
      : cls_(std::move(cls)), sent_(std::move(sent)) {}
  std::shared_ptr<RuntimeClass> objectClass() const override { return cls_.lock(); }
  bool respondsToSelector(std::string_view s) const override {
    return s == "start" || s == "bundleIdentifier" || s == "version";
  }
  Value perform(std::string_view s, const Array& args = {}) override {
    if (s == "start") {
      sent_->add("start:" + objectClass()->name());
      return {};
    }
    if (s == "bundleIdentifier") return "com.example.legacy";
    if (s == "version") return "0.9";
    return RuntimeObject::perform(s, args);
  }

 private:
  std::weak_ptr<RuntimeClass> cls_;
  std::shared_ptr<SentLog> sent_;
};

inline LegacyKitClass::LegacyKitClass(std::string name, std::shared_ptr<SentLog> sent,
                                      bool complete)
    : RuntimeClass(std::move(name)), sent_(std::move(sent)), complete_(complete) {}

inline Value LegacyKitClass::perform(std::string_view selector, const Array& args) {
  if (selector != "sharedInstance") return RuntimeClass::perform(selector, args);
  if (!instance_) instance_ = std::make_shared<LegacyKitInstance>(objectClass(), sent_);
  return Value(std::static_pointer_cast<Object>(instance_));
}

// The outside platform's "EBNApp": a default app that answers the collection default, or one
// too old to know the message, or no default app at all.
class FakeEBNApp : public RuntimeObject {
 public:
  FakeEBNApp(std::shared_ptr<RuntimeClass> cls, std::optional<bool> collectionDefault)
      : cls_(std::move(cls)), collectionDefault_(collectionDefault) {}
  std::shared_ptr<RuntimeClass> objectClass() const override { return cls_; }
  bool respondsToSelector(std::string_view s) const override {
    return s == "isDataCollectionDefaultEnabled" && collectionDefault_.has_value();
  }
  Value perform(std::string_view s, const Array& args = {}) override {
    if (s == "isDataCollectionDefaultEnabled" && collectionDefault_) return *collectionDefault_;
    return RuntimeObject::perform(s, args);
  }

 private:
  std::shared_ptr<RuntimeClass> cls_;
  std::optional<bool> collectionDefault_;
};

class FakeEBNAppClass : public RuntimeClass {
 public:
  // hasDefaultApp false: defaultApp answers nothing.
  FakeEBNAppClass(bool hasDefaultApp, std::optional<bool> collectionDefault)
      : RuntimeClass("EBNApp"),
        hasDefaultApp_(hasDefaultApp),
        collectionDefault_(collectionDefault) {}
  bool respondsToSelector(std::string_view s) const override { return s == "defaultApp"; }
  Value perform(std::string_view s, const Array& args = {}) override {
    if (s != "defaultApp") return RuntimeClass::perform(s, args);
    if (!hasDefaultApp_) return {};
    return Value(std::static_pointer_cast<Object>(
        std::make_shared<FakeEBNApp>(objectClass(), collectionDefault_)));
  }

 private:
  bool hasDefaultApp_;
  std::optional<bool> collectionDefault_;
};

class RecordingSettingsManager : public SettingsOnboardingFlow {
 public:
  void beginSettingsAndOnboardingOperations(const std::string& apiKey,
                                            const Dictionary& versions) override {
    std::lock_guard lock(mutex);
    starts.push_back({apiKey, versions});
  }
  Value settingsDictionary() const override { return Dictionary{{"app", Dictionary{}}}; }

  std::mutex mutex;
  std::vector<std::pair<std::string, Dictionary>> starts;
};

// A fresh process for the kit platform: XDG folders, an Info.plist of the test's choosing, a
// registry that has not started, and the class registry as the product has it (only "Morvex").
class KitPlatformTest : public ::testing::Test {
 protected:
  static constexpr const char* kApiKey = "0123456789abcdef0123456789abcdef01234567";

  void SetUp() override {
    xdg_ = std::make_unique<ScopedXdg>();
    writeInfo(defaultInfo());
    Tessaly::resetForTesting();
  }

  void TearDown() override {
    for (const auto& name : registered_) runtime::unregisterClass(name);
    // The real classes the fakes stood in for are back, so no test sees another's registry.
    for (const auto& cls : replaced_) runtime::registerClass(cls);
    runtime::registerClass(kitClass<Morvex>());
    setKitMainBundleForTesting(nullptr);
    Tessaly::resetForTesting();
    xdg_.reset();
  }

  static Dictionary defaultInfo() {
    return Dictionary{
        {"CFBundleIdentifier", "com.velmora.Tickwell"},
        {"CFBundleVersion", "7"},
        {"CFBundleShortVersionString", "1.2"},
        {"Tessaly",
         Dictionary{{"APIKey", kApiKey},
                    {"Kits", Array{Dictionary{{"KitName", "Morvex"},
                                              {"KitInfo", Dictionary{{"Level", 3}}}}}}}}};
  }

  // Writes the bundle's Info.plist (nullopt: the bundle has none) and makes it the main bundle.
  void writeInfo(const std::optional<Dictionary>& info) {
    bundleDir_ = xdg_->root() / ("bundle-" + std::to_string(bundleCount_++));
    std::filesystem::create_directories(bundleDir_);
    if (info) {
      auto xml = PropertyList::writeXML(Value(*info));
      ASSERT_TRUE(xml.ok()) << xml.error();
      ASSERT_TRUE(paths::writeFileAtomically(bundleDir_ / "Info.plist", *xml).ok());
    }
    setKitMainBundleForTesting(Bundle::fromDirectory(bundleDir_));
  }

  // Registers a class for this test only (a fake "Morvex" replaces the real one until TearDown).
  template <class C>
  std::shared_ptr<C> registerFake(std::shared_ptr<C> cls) {
    const bool fakedBefore =
        std::find(registered_.begin(), registered_.end(), cls->name()) != registered_.end();
    if (auto real = runtime::classNamed(cls->name()); real && !fakedBefore)
      replaced_.push_back(real);
    runtime::registerClass(cls);
    registered_.push_back(cls->name());
    return cls;
  }

  std::shared_ptr<SentLog> sent_ = std::make_shared<SentLog>();
  std::unique_ptr<ScopedXdg> xdg_;
  std::filesystem::path bundleDir_;
  int bundleCount_ = 0;
  std::vector<std::string> registered_;
  std::vector<std::shared_ptr<RuntimeClass>> replaced_;
};

}  // namespace tw::test
