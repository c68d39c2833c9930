#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "kits/analytics/ORVAttributeDictionary.h"
#include "kits/analytics/ORVEvent.h"
#include "kits/analytics/ORVSettings.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"

namespace tw::test {
namespace {

int countContaining(const LogCapture& log, std::string_view needle) {
  int n = 0;
  for (const auto& line : log.lines()) n += line.find(needle) != std::string::npos;
  return n;
}

TEST(AnalyticsAttributes, CountKeyAndValueTypeLimits) {
  LogCapture log;
  Dictionary custom;
  for (int i = 0; i < 25; ++i) custom[fmt::format("k{:02}", i)] = i;
  ORVAttributeDictionary d(custom);
  EXPECT_EQ(d.rawDictionary().size(), 21u);
  EXPECT_TRUE(d.rawDictionary().count("k20"));  // enumeration order decides the kept 21
  EXPECT_FALSE(d.rawDictionary().count("k21"));
  EXPECT_EQ(countContaining(log,
                            "[Oriseth] Maximum number of Event attributes exceeded. "
                            "Ignoring entry k21:21"),
            1);
  EXPECT_EQ(countContaining(log, "Maximum number of Event attributes exceeded"), 4);
  // Once full, even a key already present is refused.
  d.addAttribute(Value("x"), Value("k00"));
  EXPECT_EQ(d.rawDictionary().at("k00"), Value(0));

  log.clear();
  ORVAttributeDictionary e;
  e.addAttribute(Value("v"), Value(5));
  e.addAttribute(Value(Array{Value(1)}), Value("arr"));
  e.addAttribute(Value(Date{1.0}), Value("date"));
  e.addAttribute(Value(), Value("nil"));
  EXPECT_TRUE(e.rawDictionary().empty());
  EXPECT_TRUE(
      log.contains("[Oriseth] Event attribute keys must be of type NSString. Ignoring "
                   "entry 5:v"));
  EXPECT_EQ(countContaining(log, "Event attribute values must be of type NSString or NSNumber"), 2);
}

TEST(AnalyticsAttributes, TruncationCountsUtf16UnitsAndNeverSplitsAPair) {
  LogCapture log;
  ORVAttributeDictionary d;
  std::string longKey(150, 'k'), longValue(150, 'v');
  d.addAttribute(Value(longValue), Value(longKey));
  ASSERT_EQ(d.rawDictionary().size(), 1u);
  EXPECT_EQ(d.rawDictionary().begin()->first, std::string(100, 'k'));
  EXPECT_EQ(*d.rawDictionary().begin()->second.string(), std::string(100, 'v'));
  EXPECT_TRUE(log.contains(
      "[Oriseth] Maximum length for an Event attributes exceeded. Truncating to 100 characters."));
  // 99 ASCII units then an emoji (two units): the pair would straddle the limit, so it goes.
  std::string s = std::string(99, 'a') + "\xF0\x9F\x98\x80" + "b";
  EXPECT_EQ(ORVAttributeDictionary::truncateString(s), std::string(99, 'a'));
  // "é" is one unit although two bytes: 100 of them fit.
  std::string accents;
  for (int i = 0; i < 100; ++i) accents += "\xC3\xA9";
  log.clear();
  EXPECT_EQ(ORVAttributeDictionary::truncateString(accents), accents);
  EXPECT_FALSE(log.contains("Truncating"));
}

TEST(AnalyticsAttributes, NumbersBooleansAndPrices) {
  LogCapture log;
  ORVAttributeDictionary d;
  d.addAttribute(Value(3), Value("n"));
  d.addAttribute(Value(std::nan("")), Value("n"));  // NaN under an existing key removes it
  d.addAttribute(Value(std::nan("")), Value("m"));
  d.addAttribute(Value(std::numeric_limits<double>::infinity()), Value("inf"));
  EXPECT_TRUE(d.rawDictionary().empty());
  d.addBooleanAttribute(Value(true), Value("ok"));
  d.addBooleanAttribute(Value(0), Value("bad"));
  d.addBooleanAttribute(Value(), Value("none"));
  EXPECT_EQ(d.rawDictionary().at("ok"), Value("true"));
  EXPECT_EQ(d.rawDictionary().at("bad"), Value("false"));
  EXPECT_FALSE(d.rawDictionary().count("none"));

  d.addPriceAttribute(Decimal::parse("9.99"), Value("p"));
  EXPECT_EQ(d.rawDictionary().at("p"), Value(9990000));
  EXPECT_EQ(Json::write(Value(d.rawDictionary().at("p"))), "9990000");
  EXPECT_EQ(ORVAttributeDictionary::serializePriceToMicros(Decimal::parse("-0.5")), Value(-500000));
  EXPECT_EQ(ORVAttributeDictionary::serializePriceToMicros(Decimal::parse("0.0000005")), Value(0));
  EXPECT_EQ(ORVAttributeDictionary::serializePriceToMicros(Decimal::parse("0.0000015")), Value(2));
  // The bound: exactly INT64_MAX micros is accepted, one more is refused, in either sign.
  EXPECT_EQ(ORVAttributeDictionary::serializePriceToMicros(Decimal::parse("9223372036854.775807")),
            Value(9223372036854775807LL));
  EXPECT_TRUE(ORVAttributeDictionary::serializePriceToMicros(Decimal::parse("9223372036854.775808"))
                  .isNull());
  EXPECT_TRUE(ORVAttributeDictionary::serializePriceToMicros(Decimal::parse("-1e300")).isNull());
  EXPECT_EQ(countContaining(log,
                            "[Oriseth] Maximum value for a price attribute exceeded. "
                            "Ignoring price attribute with value: "),
            2);
  EXPECT_TRUE(log.contains("Ignoring price attribute with value: 9223372036854.775808"));
  EXPECT_TRUE(ORVAttributeDictionary::serializePriceToMicros(std::nullopt).isNull());
  EXPECT_FALSE(Decimal::parse("12abc"));
  EXPECT_FALSE(Decimal::parse(""));
}

TEST(AnalyticsEvents, PayloadsOfEveryKind) {
  Dictionary custom;
  for (int i = 0; i < 21; ++i) custom[fmt::format("c{:02}", i)] = "x";
  auto purchase =
      ORVPredefinedEvent::purchaseEvent(Decimal::parse("9.99"), Value("EUR"), Value(true),
                                        Value("Pro"), Value(), Value("sku1"), custom);
  EXPECT_EQ(purchase->name(), "predefined");
  EXPECT_FALSE(purchase->triggersFlush());
  auto p = purchase->dictionaryRepresentation();
  EXPECT_EQ(p["eventId"], Value(purchase->identifier()));
  EXPECT_EQ(p["predefined_type"], Value("purchase"));
  EXPECT_EQ(p["custom_attributes"].count(), 21u);
  EXPECT_EQ(Value(p["predefined_attributes"]), Value(Dictionary{{"item_price", 9990000},
                                                                {"currency", "EUR"},
                                                                {"success", "true"},
                                                                {"item_name", "Pro"},
                                                                {"item_id", "sku1"}}));
  EXPECT_EQ(purchase->identifier().size(), 36u);

  auto checkout =
      ORVPredefinedEvent::startCheckoutEvent(Decimal::parse("1"), Value("USD"), Value(3));
  EXPECT_EQ(checkout->dictionaryRepresentation()["predefined_attributes"]["total_price"],
            Value(1000000));
  EXPECT_EQ(ORVPredefinedEvent::searchEvent(Value("q"))->predefinedEventName(), "search");
  EXPECT_EQ(ORVPredefinedEvent::levelEndEvent(Value("l"), Value(7), Value(false))
                ->predefinedAttributes()
                .rawDictionary()
                .at("success"),
            Value("false"));

  ORVCustomEvent customEvent(std::string(150, 'n'), Dictionary{{"a", 1}, {"b", Array{}}});
  auto c = customEvent.dictionaryRepresentation();
  EXPECT_EQ(c["custom_type"].string()->size(), 150u);  // the event name is not cut
  EXPECT_EQ(Value(c["custom_attributes"]), Value(Dictionary{{"a", 1}}));
  EXPECT_EQ(customEvent.name(), "custom");

  ORVCrashEvent crash(Date{1234.5}, 0);
  EXPECT_EQ(crash.timestamp(), Date{1234.5});
  EXPECT_EQ(crash.dictionaryRepresentation()["crash_state"], Value("unknown"));
  EXPECT_EQ(ORVCrashEvent::payloadStringForCrashState(1), "foreground");
  EXPECT_EQ(ORVCrashEvent::payloadStringForCrashState(2), "background");

  EXPECT_TRUE(ORVLifecycleEvent::installEvent()->triggersFlush());
  EXPECT_FALSE(ORVLifecycleEvent::appLaunchedEvent()->triggersFlush());
  auto active =
      ORVLifecycleEvent::eventWithNotification("NSApplicationDidBecomeActiveNotification");
  EXPECT_EQ(active->name(), "app_became_active");
  EXPECT_TRUE(active->triggersFlush());
  auto other = ORVLifecycleEvent::eventWithNotification("SomethingElse");
  EXPECT_EQ(other->name(), "unknown-notification");
  EXPECT_FALSE(other->triggersFlush());
  EXPECT_EQ(Value(other->dictionaryRepresentation()),
            Value(Dictionary{{"eventId", other->identifier()}}));
}

TEST(AnalyticsSettings, DefaultsAndEntries) {
  ORVSettings none(std::nullopt);
  EXPECT_FALSE(none.valid());
  EXPECT_TRUE(none.shouldCollectAnalytics());
  EXPECT_EQ(none.maximumPayloadSize(), 8000);
  EXPECT_EQ(none.maxPendingSendFiles(), 100);
  EXPECT_EQ(none.flushInterval(), 0.0);
  EXPECT_EQ(none.samplingRate(), 1);
  EXPECT_EQ(none.defaultUploadTimeout(), 21600.0);
  EXPECT_EQ(none.lowPowerUploadTimeout(), 3600.0);
  EXPECT_FALSE(none.shouldForwardToEmberlynAnalytics());
  EXPECT_TRUE(none.orisethURL().ends_with("/spi/v2/events"));

  ORVSettings doc(Dictionary{{"features", Dictionary{{"collect_analytics", false}}},
                             {"analytics", Dictionary{{"url", "http://127.0.0.1:9/e"},
                                                      {"max_byte_size_per_file", 500},
                                                      {"sampling_rate", 3},
                                                      {"flush_interval_secs", 2.5},
                                                      {"forward_to_halvern_analytics", true},
                                                      {"max_pending_send_file_count", "many"}}}});
  EXPECT_TRUE(doc.valid());
  EXPECT_FALSE(doc.shouldCollectAnalytics());
  EXPECT_EQ(doc.orisethURL(), "http://127.0.0.1:9/e");
  EXPECT_EQ(doc.maximumPayloadSize(), 500);
  EXPECT_EQ(doc.samplingRate(), 3);
  EXPECT_EQ(doc.flushInterval(), 2.5);
  EXPECT_TRUE(doc.shouldForwardToEmberlynAnalytics());
  EXPECT_EQ(doc.maxPendingSendFiles(), 100);  // wrong type reads as missing
  EXPECT_TRUE(ORVSettings(Dictionary{{"analytics", Dictionary{}}}).shouldCollectAnalytics());
}

TEST(AnalyticsSampling, JavaHashAndDecisions) {
  // Values computed independently (UTF-16 code units, 32-bit wrap-around).
  EXPECT_EQ(ORVEventFilter::javaHashCodeForString("abc"), 96354);
  EXPECT_EQ(ORVEventFilter::javaHashCodeForString(""), 0);
  EXPECT_EQ(ORVEventFilter::javaHashCodeForString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"),
            1171620668);
  EXPECT_EQ(ORVEventFilter::javaHashCodeForString("h\xC3\xA9llo\xF0\x9F\x98\x80"), 291564465);
  EXPECT_EQ(ORVEventFilter::javaHashCodeForString("polygenelubricants"), INT32_MIN);

  ORVEventFilter f;
  auto launched = ORVLifecycleEvent::appLaunchedEvent();
  auto installed = ORVLifecycleEvent::installEvent();
  ORVCustomEvent custom("c", std::nullopt);
  std::optional<std::string> abc = "abc";
  EXPECT_FALSE(f.shouldDiscardEvent(launched.get(), std::nullopt, abc, 3));
  EXPECT_TRUE(f.shouldDiscardEvent(launched.get(), std::nullopt, abc, 5));
  // A rate of 2 samples already: an odd hash (96355) is dropped, an even one (96354) kept.
  EXPECT_FALSE(f.shouldDiscardEvent(launched.get(), std::nullopt, abc, 2));
  EXPECT_TRUE(f.shouldDiscardEvent(launched.get(), std::nullopt, std::string("abd"), 2));
  EXPECT_FALSE(f.shouldDiscardEvent(launched.get(), "token", abc, 5));
  EXPECT_FALSE(f.shouldDiscardEvent(installed.get(), std::nullopt, abc, 5));
  EXPECT_FALSE(f.shouldDiscardEvent(&custom, std::nullopt, abc, 5));
  EXPECT_TRUE(f.shouldDiscardEvent(nullptr, std::nullopt, abc, 5));
  for (std::int64_t rate : {0, 1, -4})
    EXPECT_FALSE(f.shouldDiscardEvent(launched.get(), {}, abc, rate));
  EXPECT_FALSE(f.shouldDiscardEvent(launched.get(), std::nullopt, std::nullopt, 5));
  // A negative hash that is a multiple of the factor keeps its events.
  EXPECT_FALSE(f.shouldDiscardEventWithInstallationID("polygenelubricants", 2));
  EXPECT_TRUE(f.shouldDiscardEventWithInstallationID("polygenelubricants", 3));
}

}  // namespace
}  // namespace tw::test
