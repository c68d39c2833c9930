#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/foundation/Json.h"

namespace tw {
namespace {

constexpr auto kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr auto kUInt64Max = std::numeric_limits<std::uint64_t>::max();

TEST(Json, IntegersAtTheLimitsRoundTripExactly) {
  Value v(Array{kInt64Max, kInt64Min, kUInt64Max, 0, -1});
  std::string text = Json::write(v);
  EXPECT_EQ(text, "[9223372036854775807,-9223372036854775808,18446744073709551615,0,-1]");
  auto back = Json::parse(text);
  ASSERT_TRUE(back.ok()) << back.error();
  EXPECT_EQ(back->at(0).intIfInt(), kInt64Max);
  EXPECT_EQ(back->at(1).intIfInt(), kInt64Min);
  EXPECT_EQ(back->at(2).uintIfUInt(), kUInt64Max);
  // Small non-negative integers read as the signed kind, whatever the parser called them.
  EXPECT_EQ(back->at(3).type(), Value::Type::Int);
  // Past uint64 the number can only be a double.
  auto huge = Json::parse("18446744073709551616");
  ASSERT_TRUE(huge.ok());
  EXPECT_EQ(huge->type(), Value::Type::Double);
}

TEST(Json, DoublesStayDoublesAndRoundTripShortest) {
  Value v(Array{0.1, 1.0, 1e300, -2.5e-308, 123456.789});
  std::string text = Json::write(v);
  EXPECT_EQ(text, "[0.1,1.0,1e+300,-2.5e-308,123456.789]");
  auto back = Json::parse(text);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back->at(1).type(), Value::Type::Double);
  EXPECT_EQ(*back->at(4).doubleIfDouble(), 123456.789);
  EXPECT_EQ(Json::write(Value(std::nan(""))), "null");
  EXPECT_EQ(Json::write(Value(INFINITY)), "null");
}

TEST(Json, BooleansAndNullKeepTheirKinds) {
  auto v = Json::parse(R"({"t":true,"f":false,"n":null,"one":1,"s":""})");
  ASSERT_TRUE(v.ok());
  EXPECT_EQ((*v)["t"].type(), Value::Type::Bool);
  EXPECT_EQ((*v)["f"].type(), Value::Type::Bool);
  EXPECT_TRUE((*v)["n"].isNull());
  EXPECT_NE((*v)["one"], Value(true));
  EXPECT_TRUE((*v)["s"].isString());
  EXPECT_TRUE((*v)["absent"].isNull());
  EXPECT_EQ(Json::write(*v), R"({"f":false,"n":null,"one":1,"s":"","t":true})");
}

TEST(Json, StringsEscapeAndUnicodeSurvive) {
  Value v(std::string("quote\" back\\ nl\n tab\t ctl\x01 é 😀"));
  auto back = Json::parse(Json::write(v));
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(*back, v);
  // Escapes in keys and values, nested empty containers, a fraction: the compact form exactly.
  Value doc(Dictionary{{"a\"b", Array{}}, {"c", Dictionary{{"d\n", "\x01"}}}, {"é", 1.5}});
  EXPECT_EQ(Json::write(doc), R"({"a\"b":[],"c":{"d\n":"\u0001"},"é":1.5})");
  auto escaped = Json::parse(R"("\u00e9\ud83d\ude00")");
  ASSERT_TRUE(escaped.ok());
  EXPECT_EQ(*escaped->string(), "é😀");
}

TEST(Json, BadInputIsAnErrorNeverAThrow) {
  const char* bad[] = {
      "",          "   ", "{",       "[1,2",     "{\"a\":}",    "tru",       "01",  "[1,]",
      "{\"a\" 1}", "1 2", "// c\n1", "'single'", "\"\\ud800\"", "\"\\x41\"", "nul", "[1] garbage"};
  for (const char* text : bad) {
    auto r = Json::parse(text);
    EXPECT_FALSE(r.ok()) << text;
    EXPECT_FALSE(r.error().empty()) << text;
#ifdef NDEBUG
    // A release build reading a failure's value gets a null, never garbage (a debug build stops).
    EXPECT_TRUE(r.value().isNull());
#endif
  }
  EXPECT_NE(Json::parse("[1,]").error().find("invalid JSON at byte"), std::string::npos);
}

TEST(Json, InvalidUtf8IsRejectedOnReadAndReplacedOnWrite) {
  EXPECT_FALSE(Json::parse("\"\xff\"").ok());
  EXPECT_FALSE(Json::parse("\"\xc3\"").ok());          // truncated sequence
  EXPECT_FALSE(Json::parse("\"\xed\xa0\x80\"").ok());  // encoded surrogate
  EXPECT_FALSE(Json::parse("\"\xc0\xaf\"").ok());      // overlong
  std::string written = Json::write(Value(std::string("a\xff") + "b"));
  EXPECT_EQ(written,
            "\"a\xEF\xBF\xBD"
            "b\"");
  EXPECT_TRUE(Json::parse(written).ok());
}

TEST(Json, NestingIsBoundedInsteadOfExhaustingTheStack) {
  std::string deep(100000, '[');
  EXPECT_FALSE(Json::parse(deep).ok());
  std::string ok = std::string(Json::kMaxDepth, '[') + std::string(Json::kMaxDepth, ']');
  EXPECT_TRUE(Json::parse(ok).ok());
  std::string tooDeep = "[" + ok + "]";
  auto r = Json::parse(tooDeep);
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.error().find("nested deeper"), std::string::npos);
}

TEST(Json, DatesAndDataHaveTextForms) {
  Value v(Dictionary{{"when", Date{1700000000.25}}, {"bytes", Data{0, 1, 2, 255}}});
  EXPECT_EQ(Json::write(v), R"({"bytes":"AAEC/w==","when":"2023-11-14T22:13:20.250Z"})");
  auto date = Json::parseDateString("2023-11-14T23:13:20.25+01:00");
  ASSERT_TRUE(date.ok());
  EXPECT_DOUBLE_EQ(date->secondsSince1970, 1700000000.25);
  EXPECT_FALSE(Json::parseDateString("2023-13-01T00:00:00Z").ok());
  EXPECT_FALSE(Json::parseDateString("2023-11-14").ok());
  auto data = Json::base64Decode("AAEC/w==");
  ASSERT_TRUE(data.ok());
  EXPECT_EQ(*data, (Data{0, 1, 2, 255}));
  EXPECT_FALSE(Json::base64Decode("AA*=").ok());
  for (std::size_t n = 0; n < 7; ++n) {
    Data d(n, 0xA5);
    EXPECT_EQ(*Json::base64Decode(Json::base64Encode(d)), d);
  }
}

TEST(Json, PrettyOutputParsesBack) {
  Value v(Dictionary{{"a", Array{1, 2}}, {"b", Dictionary{{"c", "d"}}}});
  std::string pretty = Json::write(v, true);
  EXPECT_NE(pretty.find("\n  \"a\""), std::string::npos);
  EXPECT_EQ(*Json::parse(pretty), v);
}

}  // namespace
}  // namespace tw
