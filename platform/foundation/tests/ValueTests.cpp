#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <type_traits>

#include "platform/foundation/Error.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Expected.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Value.h"

namespace tw {
namespace {

constexpr auto kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr auto kUInt64Max = std::numeric_limits<std::uint64_t>::max();

TEST(ValueCoercion, StringsParseTheirLeadingNumberLikeTheScanners) {
  EXPECT_EQ(Value("12abc").integerValue(), 12);
  EXPECT_EQ(Value("  -7").integerValue(), -7);
  EXPECT_EQ(Value("3.9").integerValue(), 3);
  EXPECT_EQ(Value("abc").integerValue(), 0);
  EXPECT_EQ(Value("").integerValue(), 0);
  EXPECT_EQ(Value("99999999999999999999").integerValue(), kInt64Max);
  EXPECT_EQ(Value("-99999999999999999999").integerValue(), kInt64Min);
  EXPECT_EQ(Value("-9223372036854775808").integerValue(), kInt64Min);
  EXPECT_EQ(Value("18446744073709551615").unsignedValue(), kUInt64Max);
  EXPECT_EQ(Value("-5").unsignedValue(), 0u);
  EXPECT_DOUBLE_EQ(Value(" 2.5e2xyz").doubleValue(), 250.0);
  EXPECT_DOUBLE_EQ(Value("1e").doubleValue(), 1.0);
  EXPECT_DOUBLE_EQ(Value(".5").doubleValue(), 0.5);
  // Only decimal text counts: no hex, infinities or NaN sneak in through strtod.
  EXPECT_EQ(Value("0x10").doubleValue(), 0.0);
  EXPECT_EQ(Value("inf").doubleValue(), 0.0);
  EXPECT_EQ(Value("nan").doubleValue(), 0.0);
}

TEST(ValueCoercion, StringBoolsFollowTheFirstSignificantCharacter) {
  for (const char* yes : {"YES", "yes", "true", "True", "y", "1", "  +1", "007", "9x"})
    EXPECT_TRUE(Value(yes).boolValue()) << yes;
  for (const char* no : {"NO", "false", "0", "", "  ", "000", "-0", "maybe"})
    EXPECT_FALSE(Value(no).boolValue()) << no;
}

TEST(ValueCoercion, NumbersTruncateAndClampInsteadOfOverflowing) {
  EXPECT_EQ(Value(2.9).integerValue(), 2);
  EXPECT_EQ(Value(-2.9).integerValue(), -2);
  EXPECT_EQ(Value(1e300).integerValue(), kInt64Max);
  EXPECT_EQ(Value(-1e300).integerValue(), kInt64Min);
  EXPECT_EQ(Value(std::nan("")).integerValue(), 0);
  EXPECT_EQ(Value(std::nan("")).unsignedValue(), 0u);
  EXPECT_FALSE(Value(std::nan("")).boolValue());
  EXPECT_EQ(Value(-3.5).unsignedValue(), 0u);
  EXPECT_EQ(Value(1e300).unsignedValue(), kUInt64Max);
  EXPECT_EQ(Value(kUInt64Max).integerValue(), kInt64Max);
  EXPECT_EQ(Value(std::int64_t{-1}).unsignedValue(), 0u);
  EXPECT_EQ(Value(true).integerValue(), 1);
  EXPECT_DOUBLE_EQ(Value(false).doubleValue(), 0.0);
  EXPECT_TRUE(Value(0.1).boolValue());
  EXPECT_EQ(Value(kInt64Min).integerValue(), kInt64Min);
}

TEST(ValueCoercion, NonNumericKindsCoerceToZero) {
  EXPECT_EQ(Value().integerValue(), 0);
  EXPECT_FALSE(Value().boolValue());
  EXPECT_EQ(Value(Array{1, 2}).integerValue(), 0);
  EXPECT_EQ(Value(Date{5}).doubleValue(), 0.0);
  EXPECT_EQ(Value(Data{1}).unsignedValue(), 0u);
}

TEST(ValueEquality, NumbersCompareByValueAcrossRepresentations) {
  EXPECT_EQ(Value(3), Value(3.0));
  EXPECT_EQ(Value(3), Value(3ull));
  EXPECT_EQ(Value(3.0), Value(3ull));
  EXPECT_NE(Value(3), Value(3.5));
  EXPECT_NE(Value(-1), Value(kUInt64Max));
  EXPECT_NE(Value(kInt64Max), Value(9223372036854775807.0));  // the double is 2^63
  EXPECT_EQ(Value(kUInt64Max), Value(kUInt64Max));
  EXPECT_NE(Value(std::nan("")), Value(std::nan("")));
}

TEST(ValueEquality, BooleansNeverEqualNumbers) {
  EXPECT_NE(Value(true), Value(1));
  EXPECT_NE(Value(false), Value(0.0));
  EXPECT_EQ(Value(true), Value(true));
  EXPECT_NE(Value(true), Value(false));
}

TEST(ValueEquality, CollectionsCompareElementWiseAndKindsStayApart) {
  EXPECT_EQ(Value(Array{1, "a", Array{2.0}}), Value(Array{1.0, "a", Array{2}}));
  EXPECT_NE(Value(Array{1, 2}), Value(Array{1}));
  EXPECT_EQ(Value(Dictionary{{"a", 1}, {"b", "x"}}), Value(Dictionary{{"b", "x"}, {"a", 1u}}));
  EXPECT_NE(Value(Dictionary{{"a", 1}}), Value(Dictionary{{"a", 2}}));
  EXPECT_EQ(Value(), Value(nullptr));
  EXPECT_NE(Value(), Value(0));
  EXPECT_NE(Value(""), Value());
  EXPECT_NE(Value("1"), Value(1));
  EXPECT_EQ(Value(Data{1, 2}), Value(Data{1, 2}));
  EXPECT_EQ(Value(Date{1.5}), Value(Date{1.5}));
  EXPECT_NE(Value(Date{1.5}), Value(1.5));
}

TEST(ValueAccess, LookupsOnTheWrongKindGiveNull) {
  Value dict(Dictionary{{"k", Array{10, 20}}, {"empty", ""}});
  EXPECT_EQ(dict["k"].at(1), Value(20));
  EXPECT_TRUE(dict["missing"].isNull());
  EXPECT_TRUE(dict["k"].at(2).isNull());
  EXPECT_TRUE(dict["k"]["x"].isNull());
  EXPECT_TRUE(Value(5)["x"].isNull());
  EXPECT_TRUE(Value(5).at(0).isNull());
  // Absent and empty are different answers.
  EXPECT_TRUE(dict["empty"].isString());
  EXPECT_FALSE(dict["empty"].isNull());
  EXPECT_EQ(dict.count(), 2u);
  EXPECT_EQ(dict["k"].count(), 2u);
  EXPECT_EQ(Value("abc").count(), 0u);
  EXPECT_EQ(Value(std::uint64_t{5}).uintIfUInt(), 5u);
  EXPECT_FALSE(Value(5).uintIfUInt().has_value());
  EXPECT_TRUE(Value::null().isNull());
  EXPECT_TRUE(Value(static_cast<const char*>(nullptr)).isNull());
}

// An object pointer or any other non-text pointer must not quietly become a boolean; text
// pointers, const or not, are still strings.
static_assert(!std::is_constructible_v<Value, Object*>);
static_assert(!std::is_constructible_v<Value, const int*>);
static_assert(!std::is_constructible_v<Value, void*>);
static_assert(std::is_constructible_v<Value, char*>);
static_assert(std::is_constructible_v<Value, const char*>);

TEST(ValueConstruction, MutableTextIsAStringAndANullOneIsNull) {
  char text[] = "abc";
  EXPECT_EQ(Value(static_cast<char*>(text)), Value("abc"));
  EXPECT_TRUE(Value(static_cast<char*>(nullptr)).isNull());
}

TEST(ExpectedDeathTest, ReadingAFailuresValueStopsADebugBuildAndGivesEmptyInARelease) {
  const auto failed = Expected<std::string>::failure("disk full");
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.error(), "disk full");
  EXPECT_EQ(Expected<std::string>::failure("").error(), "unknown error");
  EXPECT_EQ(Expected<std::string>("x").value(), "x");
#ifdef NDEBUG
  EXPECT_EQ(failed.value(), "");
  EXPECT_EQ(*failed, "");
  EXPECT_TRUE(failed->empty());
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH((void)failed.value(), "value read from a failure \\(disk full\\)");
  EXPECT_DEATH((void)*failed, "value read from a failure");
  EXPECT_DEATH((void)failed->size(), "value read from a failure");
  EXPECT_DEATH((void)Expected<std::string>::failure("gone").value().size(),
               "value read from a failure \\(gone\\)");
#endif
}

TEST(ValueDescription, ScalarsAndCollectionsReadNaturally) {
  EXPECT_EQ(Value().description(), "(null)");
  EXPECT_EQ(Value(true).description(), "1");
  EXPECT_EQ(Value(-42).description(), "-42");
  EXPECT_EQ(Value(kUInt64Max).description(), "18446744073709551615");
  EXPECT_EQ(Value(3.0).description(), "3");
  EXPECT_EQ(Value(0.1).description(), "0.1");
  EXPECT_EQ(Value("plain").description(), "plain");
  EXPECT_EQ(Value(Date{0}).description(), "1970-01-01 00:00:00 +0000");
  EXPECT_EQ(Value(Data{0xde, 0xad}).description(), "{length = 2, bytes = 0xdead}");
  EXPECT_EQ(Value(Array{1, "two words"}).description(), "(\n    1,\n    \"two words\"\n)");
  EXPECT_EQ(Value(Dictionary{{"a", Array{1}}}).description(), "{\n    a = (\n        1\n    );\n}");
}

TEST(ErrorText, LocalizedDescriptionFallsBackToDomainAndCode) {
  EXPECT_EQ(Error("TWDomain", 7).localizedDescription(), "TWDomain error 7");
  Error described("TWDomain", 7, {{kLocalizedDescriptionKey, "Disk full"}});
  EXPECT_EQ(described.localizedDescription(), "Disk full");
}

TEST(Exceptions, CarryTheNamesAndExactReasons) {
  try {
    TW_PARAMETER_ASSERT(1 + 1 == 3);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.name(), NSInternalInconsistencyException);
    EXPECT_EQ(e.reason(), "Invalid parameter not satisfying: 1 + 1 == 3");
    EXPECT_STREQ(e.what(),
                 "NSInternalInconsistencyException: Invalid parameter not satisfying: 1 + 1 == 3");
  }
  try {
    raiseUnrecognizedSelector("BTAction", "execute");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.name(), NSInvalidArgumentException);
    EXPECT_EQ(e.reason(), "-[BTAction execute]: unrecognized selector sent to instance");
  }
}

TEST(ExceptionsDeathTest, UncaughtAtABoundaryLogsAndAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto crash = [] {
    setLogHook(
        [](LogLevel, std::string_view m) {
          std::fprintf(stderr, "%.*s\n", static_cast<int>(m.size()), m.data());
        },
        true);
    callGuarded("test block", [] { raise(NSRangeException, "index 3 beyond bounds"); });
  };
  EXPECT_DEATH(crash(),
               "Terminating app due to uncaught exception 'NSRangeException', reason: 'index 3 "
               "beyond bounds'");
}

}  // namespace
}  // namespace tw
