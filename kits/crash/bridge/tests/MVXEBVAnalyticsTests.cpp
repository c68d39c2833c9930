// The bridge to the outside analytics platform, with a fake platform registered by name: inert
// without it, crash events forwarded to it, and its own events written into the user log.

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "kits/crash/bridge/MVXEBVAnalytics.h"
#include "kits/crash/capture/MVXContext.h"
#include "kits/crash/capture/MVXFileReader.h"
#include "kits/platform/Emberlyn.h"
#include "kits/platform/Tessaly.h"
#include "platform/testsupport/TestSupport.h"

namespace {

namespace fs = std::filesystem;

class FakeClass : public tw::RuntimeClass {
 public:
  using RuntimeClass::RuntimeClass;
};

// A platform object answering fixed messages.
class FakeObject : public tw::RuntimeObject {
 public:
  explicit FakeObject(tw::Dictionary answers) : answers_(std::move(answers)) {}
  std::shared_ptr<tw::RuntimeClass> objectClass() const override {
    static auto cls = std::make_shared<FakeClass>("EBNAEvent");
    return cls;
  }
  bool respondsToSelector(std::string_view selector) const override {
    return answers_.find(selector) != answers_.end();
  }
  tw::Value perform(std::string_view selector, const tw::Array&) override {
    return answers_.find(selector)->second;
  }

 private:
  tw::Dictionary answers_;
};

tw::Value platformValue(int type, tw::Value value) {
  const char* key = type == 2 ? "stringValue" : type == 1 ? "int64Value" : "doubleValue";
  return tw::Value(std::make_shared<FakeObject>(tw::Dictionary{{"valueType", type}, {key, value}}));
}

// The outside platform's analytics class: records what it is sent, keeps its listeners.
class FakeAnalytics : public tw::RuntimeClass {
 public:
  explicit FakeAnalytics(bool withListeners = true)
      : RuntimeClass(tw::emberlyn::kAnalyticsClassName), withListeners_(withListeners) {}
  bool respondsToSelector(std::string_view selector) const override {
    return selector == tw::emberlyn::kLogInternalEvent ||
           (withListeners_ && selector == tw::emberlyn::kAddLogEventListener);
  }
  tw::Value perform(std::string_view selector, const tw::Array& arguments) override {
    if (selector == tw::emberlyn::kLogInternalEvent) sent.push_back(arguments);
    if (selector == tw::emberlyn::kAddLogEventListener) {
      listeners.push_back(arguments.at(0).objectAs<tw::RuntimeBlock>());
    }
    return {};
  }
  void emit(const tw::Value& event) {
    for (const auto& listener : listeners) (*listener)({event});
  }
  std::vector<tw::Array> sent;
  std::vector<std::shared_ptr<tw::RuntimeBlock>> listeners;

 private:
  bool withListeners_;
};

class MVXEBVAnalyticsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    tw::runtime::unregisterClass(tw::emberlyn::kAnalyticsClassName);
    tw::MVXEBVAnalyticsResetForTesting();
    Tessaly::sharedSDK()->setInstallationMode(0);
  }
  std::shared_ptr<FakeAnalytics> install(bool withListeners = true) {
    auto fake = std::make_shared<FakeAnalytics>(withListeners);
    tw::runtime::registerClass(fake);
    tw::MVXEBVAnalyticsResetForTesting();
    return fake;
  }
};

TEST_F(MVXEBVAnalyticsTest, WithoutThePlatformNothingHappens) {
  tw::MVXEBVAnalyticsResetForTesting();
  EXPECT_EQ(MVXEBVAnalytics::platformClass(), nullptr);
  Tessaly::sharedSDK()->setInstallationMode(2);
  EXPECT_FALSE(MVXEBVAnalytics::emberlynMode());
  MVXEBVAnalytics::logCrashWithTimeStamp(1.5, true);
  MVXEBVAnalytics::registerAnalyticsEventListener(tw::MVXEmberlynUserLogListener());

  // A class of that name that cannot take listeners is no platform for the crash kit.
  auto partial = install(false);
  EXPECT_EQ(MVXEBVAnalytics::platformClass(), nullptr);
  MVXEBVAnalytics::logCrashWithTimeStamp(1.5, true);
  EXPECT_TRUE(partial->sent.empty());
}

TEST_F(MVXEBVAnalyticsTest, CrashEventsReachThePlatformWhenEnabled) {
  auto fake = install();
  MVXEBVAnalytics::logCrashWithTimeStamp(1.5, false);  // neither setting nor platform mode
  EXPECT_TRUE(fake->sent.empty());

  MVXEBVAnalytics::logCrashWithTimeStamp(1.5, true);
  Tessaly::sharedSDK()->setInstallationMode(2);
  EXPECT_TRUE(MVXEBVAnalytics::emberlynMode());
  MVXEBVAnalytics::logCrashWithTimeStamp(0.0025, false);
  ASSERT_EQ(fake->sent.size(), 2u);
  EXPECT_EQ(*fake->sent[0][0].string(), "mrv");
  EXPECT_EQ(*fake->sent[0][1].string(), "_ae");
  const tw::Value& params = fake->sent[0][2];
  EXPECT_EQ(params.count(), 3u);
  EXPECT_EQ(params["timestamp"].integerValue(), 1500);
  EXPECT_EQ(params["_r"].integerValue(), 1);
  EXPECT_EQ(params["fatal"].integerValue(), 1);
  // 2.5 ms rounds half to even.
  EXPECT_EQ(fake->sent[1][2]["timestamp"].integerValue(), 2);
}

TEST_F(MVXEBVAnalyticsTest, PlatformEventsAreWrittenIntoTheUserLog) {
  tw::test::TempDir dir;
  static std::string dirText;
  dirText = dir.path().string();
  MVXContextSettings settings;
  settings.reportDirectory = dirText.c_str();
  settings.logBufferSize = 65536;
  settings.maxCustomKeys = 64;
  settings.maxCustomExceptions = 3;
  ASSERT_TRUE(MVXContextInitialize(&settings));

  auto fake = install();
  MVXEBVAnalytics::registerAnalyticsEventListener(tw::MVXEmberlynUserLogListener());
  ASSERT_EQ(fake->listeners.size(), 1u);
  fake->emit(tw::Value(std::make_shared<FakeObject>(
      tw::Dictionary{{"name", "level_up"},
                     {"parameters", tw::Dictionary{{"a", platformValue(2, "x \"quoted\"")},
                                                   {"b", platformValue(1, 7)},
                                                   {"c", platformValue(0, 2.5)},
                                                   {"d", platformValue(9, 1)}}}})));
  fake->emit(tw::Value(std::make_shared<FakeObject>(tw::Dictionary{{"name", "bare"}})));
  fake->emit(tw::Value(std::make_shared<FakeObject>(tw::Dictionary{})));
  MVXContextLoggingQueue()->sync([] {});

  std::vector<std::string> messages;
  for (const char* name : {"log_a.mvxrecord", "log_b.mvxrecord"}) {
    const auto lines = MVXFileReadSections((dir.path() / name).string(), false);
    if (!lines) continue;
    for (const auto& line : *lines) {
      messages.push_back(MVXFileHexDecodeString(*line["log"]["msg"].string()));
    }
  }
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0],
            R"($A$:{"name":"level_up","parameters":{"a":"x \"quoted\"","b":7,"c":2.5}})");
  EXPECT_EQ(messages[1], R"($A$:{"name":"bare","parameters":{}})");
  std::stringstream kitLog;
  kitLog << std::ifstream(dir.path() / "sdk.log").rdbuf();
  EXPECT_NE(kitLog.str().find("Unexpected EBNAValue type"), std::string::npos);
  EXPECT_NE(kitLog.str().find("Event name is nil"), std::string::npos);
}

}  // namespace
