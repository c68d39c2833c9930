#include <gtest/gtest.h>

#include <mutex>

#include "kits/analytics/ORVEmberlynAnalyticsBridge.h"
#include "kits/analytics/ORVOrisethController.h"
#include "kits/platform/Emberlyn.h"
#include "tools/kitservice/KitServiceFixture.h"

namespace tw::test {
namespace {

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The outside platform's analytics class as the tests' own: records every internal event.
class FakeEmberlynAnalytics : public RuntimeClass {
 public:
  struct Call {
    std::string origin, name;
    Dictionary parameters;
  };
  explicit FakeEmberlynAnalytics(bool answers = true)
      : RuntimeClass(emberlyn::kAnalyticsClassName), answers_(answers) {}
  bool respondsToSelector(std::string_view s) const override {
    return answers_ && s == emberlyn::kLogInternalEvent;
  }
  Value perform(std::string_view s, const Array& args) override {
    if (s != emberlyn::kLogInternalEvent) return RuntimeClass::perform(s, args);
    std::lock_guard lock(mutex_);
    calls_.push_back({*args.at(0).string(), *args.at(1).string(), *args.at(2).dictionary()});
    return {};
  }
  std::vector<Call> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  bool answers_;
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
};

using Bridge = ORVEmberlynAnalyticsBridge;

TEST(AnalyticsBridge, NamesAreSanitisedPrefixedAndCut) {
  EXPECT_EQ(Bridge::sanitizeEventName(std::string("2nd level!")), "tessaly_2nd_level_");
  EXPECT_EQ(Bridge::sanitizeEventName(std::string("")), "tessaly_unnamed_event");
  EXPECT_EQ(Bridge::sanitizeEventName(std::nullopt), "tessaly_unnamed_event");
  EXPECT_EQ(Bridge::sanitizeAttributeName(""), "tessaly_unnamed_parameter");
  EXPECT_EQ(Bridge::sanitizeEventName(std::string(50, 'a')), std::string(40, 'a'));
  // Runs of other characters become one underscore; letters of any script stay.
  EXPECT_EQ(Bridge::sanitizeKeyName("Größe - €/Stück"), "Größe_Stück");
  EXPECT_EQ(Bridge::sanitizeKeyName("_x"), "tessaly__x");
  EXPECT_EQ(Bridge::sanitizeKeyName("error"), "tessaly_error");
  EXPECT_EQ(Bridge::sanitizeKeyName("screen_view"), "tessaly_screen_view");
  EXPECT_EQ(Bridge::sanitizeKeyName("emberlyn_thing"), "tessaly_emberlyn_thing");
  EXPECT_EQ(Bridge::sanitizeKeyName("errors"), "errors");
  EXPECT_EQ(Bridge::emberlynReservedKeys().size(), 26u);
  // The prefix comes once, and a cut never splits a surrogate pair.
  EXPECT_EQ(Bridge::sanitizeKeyName("1error"), "tessaly_1error");
  std::string wide = std::string(39, 'a') + "\xF0\x9D\x90\x80";  // 39 units + a letter in a pair
  EXPECT_EQ(Bridge::sanitizeEventName(wide), std::string(39, 'a'));
}

TEST(AnalyticsBridge, PredefinedEventsInThePlatformsVocabulary) {
  auto fake = std::make_shared<FakeEmberlynAnalytics>();
  Bridge bridge(fake);
  ASSERT_TRUE(bridge.emberlynAnalytics());

  bridge.logEvent(*ORVPredefinedEvent::purchaseEvent(Decimal::parse("9.99"), "EUR", Value(false),
                                                     "hat", "clothes", "h1",
                                                     Dictionary{{"note", "x"}}));
  bridge.logEvent(*ORVPredefinedEvent::purchaseEvent(Decimal::parse("9.99"), "EUR", Value(true),
                                                     "hat", "clothes", "h1", std::nullopt));
  bridge.logEvent(*ORVPredefinedEvent::addToCartEvent(Decimal::parse("2.5"), "EUR", "hat", Value(),
                                                      Value(),
                                                      Dictionary{{"value", 7}, {"price", 8}}));
  bridge.logEvent(*ORVPredefinedEvent::levelEndEvent("one", 10, Value(true), std::nullopt));
  bridge.logEvent(*ORVPredefinedEvent::signUpEvent("mail", Value(true), std::nullopt));
  bridge.logEvent(*ORVPredefinedEvent::contentViewEvent("n", "t", "i", std::nullopt));
  bridge.logEvent(*ORVLifecycleEvent::appLaunchedEvent());  // not forwarded

  auto calls = fake->calls();
  ASSERT_EQ(calls.size(), 7u);
  for (const auto& c : calls) EXPECT_EQ(c.origin, "tsy");
  // A failed purchase carries its custom parameters only.
  EXPECT_EQ(calls[0].name, "failed_ecommerce_purchase");
  EXPECT_EQ(calls[0].parameters, (Dictionary{{"note", "x"}}));
  EXPECT_EQ(calls[1].name, "ecommerce_purchase");
  EXPECT_EQ(calls[1].parameters, (Dictionary{{"currency", "EUR"},
                                             {"value", 9.99},
                                             {"item_category", "clothes"},
                                             {"item_id", "h1"},
                                             {"item_name", "hat"}}));
  // Predefined parameters win over custom ones of the same name.
  EXPECT_EQ(calls[2].name, "add_to_cart");
  EXPECT_EQ(calls[2].parameters, (Dictionary{{"price", 2.5},
                                             {"value", 2.5},
                                             {"quantity", 1},
                                             {"currency", "EUR"},
                                             {"item_name", "hat"}}));
  EXPECT_EQ(calls[3].name, "level_end");
  EXPECT_EQ(calls[4].name, "post_score");
  EXPECT_EQ(calls[3].parameters, calls[4].parameters);
  EXPECT_EQ(calls[3].parameters,
            (Dictionary{{"level_name", "one"}, {"score", 10}, {"success", 1}}));
  EXPECT_EQ(calls[5].name, "sign_up");
  EXPECT_EQ(calls[5].parameters, (Dictionary{{"method", "mail"}}));
  EXPECT_EQ(calls[6].name, "select_content");
  EXPECT_EQ(calls[6].parameters,
            (Dictionary{{"item_name", "n"}, {"content_type", "t"}, {"item_id", "i"}}));
}

TEST(AnalyticsBridge, CustomEventsTakeOnlyWhatThePlatformCanCarry) {
  auto fake = std::make_shared<FakeEmberlynAnalytics>();
  Bridge bridge(fake);
  bridge.logEvent(ORVCustomEvent(
      "2nd level!", Dictionary{{"error", "e"}, {"n", 1.5}, {"list", Array{1}}, {"flag", true}}));
  auto calls = fake->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].name, "tessaly_2nd_level_");
  EXPECT_EQ(calls[0].parameters, (Dictionary{{"tessaly_error", "e"}, {"n", 1.5}, {"flag", true}}));
  // A key that is not a string, or a value of another kind, is skipped rather than passed on.
  auto parameters =
      Bridge::customParametersFromCustomAttributes(std::vector<std::pair<Value, Value>>{
          {Value(3), Value("x")}, {Value("d"), Value(Date{1})}, {Value("ok"), Value("y")}});
  EXPECT_EQ(parameters, (Dictionary{{"ok", "y"}}));

  // Without the platform, or with one lacking the entry point, nothing happens.
  auto mute = std::make_shared<FakeEmberlynAnalytics>(false);
  Bridge without(mute);
  without.logEvent(ORVCustomEvent("x", std::nullopt));
  EXPECT_FALSE(without.emberlynAnalytics());
  EXPECT_TRUE(mute->calls().empty());
  runtime::unregisterClass(emberlyn::kAnalyticsClassName);
  EXPECT_FALSE(Bridge().emberlynAnalytics());
}

std::shared_ptr<ORVMetadata> bridgeMetadata() {
  ORVMetadata::Fields f;
  f.APIKey = std::string("key-1");
  f.installationId = std::string("abc");
  return std::make_shared<ORVMetadata>(std::move(f));
}

// The controller forwards only what its settings allow: purchases need their own switch, and
// lifecycle events reach the bridge, which drops them.
TEST(AnalyticsBridge, TheControllerForwardsWhatTheSettingsAllow) {
  auto fake = std::make_shared<FakeEmberlynAnalytics>();
  runtime::registerClass(fake);
  auto run = [&](bool forward, bool purchases) {
    // A folder of its own each time, so that no earlier file is rotated and sent anywhere.
    TempDir root;
    auto c = ORVOrisethController::create(bridgeMetadata(), root.path(), false, std::nullopt);
    c->initializeSettingsIfNeededWithTessalySettings(Dictionary{
        {"analytics", Dictionary{{"forward_to_halvern_analytics", forward},
                                 {"include_purchase_events_in_forwarded_events", purchases}}}});
    c->logEvent(std::make_shared<ORVCustomEvent>("c", std::nullopt));
    c->logEvent(ORVPredefinedEvent::purchaseEvent(Decimal::parse("1"), "EUR", Value(true), Value(),
                                                  Value(), Value()));
    c->eventQueue()->waitUntilAllOperationsAreFinished();
  };
  run(false, true);
  EXPECT_TRUE(fake->calls().empty());
  run(true, false);
  ASSERT_EQ(fake->calls().size(), 1u);
  EXPECT_EQ(fake->calls()[0].name, "c");
  run(true, true);
  ASSERT_EQ(fake->calls().size(), 3u);
  EXPECT_EQ(fake->calls()[2].name, "ecommerce_purchase");
  runtime::unregisterClass(emberlyn::kAnalyticsClassName);
}

}  // namespace
}  // namespace tw::test
