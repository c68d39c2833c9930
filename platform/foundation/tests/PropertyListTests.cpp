#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/foundation/PropertyList.h"

namespace tw {
namespace {

constexpr auto kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr auto kUInt64Max = std::numeric_limits<std::uint64_t>::max();

Value sample() {
  return Value(Dictionary{
      {"bool", true},
      {"false", false},
      {"int", -42},
      {"max", kInt64Max},
      {"min", kInt64Min},
      {"umax", kUInt64Max},
      {"real", 0.1},
      {"string", "héllo <&> \"x\""},
      {"empty", ""},
      {"data", Data{0, 1, 2, 0xff}},
      {"date", Date{1700000000.5}},
      {"array", Array{1, "two", Array{}, Dictionary{}}},
      {"nested", Dictionary{{"k", Array{2.5}}}},
  });
}

class PropertyListFormats : public ::testing::TestWithParam<PropertyList::Format> {};

TEST_P(PropertyListFormats, EveryKindRoundTripsWithItsExactValue) {
  auto bytes = PropertyList::write(sample(), GetParam());
  ASSERT_TRUE(bytes.ok()) << bytes.error();
  EXPECT_EQ(PropertyList::detectFormat(
                std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size())),
            GetParam());
  auto back = PropertyList::read(*bytes);
  ASSERT_TRUE(back.ok()) << back.error();
  const Value& v = *back;
  bool binary = GetParam() == PropertyList::Format::Binary;
  // XML date text has whole seconds only.
  double when = binary ? 1700000000.5 : 1700000000.0;
  Dictionary expected = *sample().dictionary();
  expected["date"] = Date{when};
  EXPECT_EQ(v, Value(expected));
  EXPECT_EQ(v["max"].intIfInt(), kInt64Max);
  EXPECT_EQ(v["min"].intIfInt(), kInt64Min);
  EXPECT_EQ(v["umax"].uintIfUInt(), kUInt64Max);
  EXPECT_EQ(v["int"].intIfInt(), -42);
  EXPECT_EQ(v["bool"].type(), Value::Type::Bool);
  EXPECT_EQ(v["real"].type(), Value::Type::Double);
  EXPECT_DOUBLE_EQ(v["date"].date()->secondsSince1970, when);
  EXPECT_TRUE(v["empty"].isString());
}

TEST_P(PropertyListFormats, TruncatedOrDamagedBytesAreErrors) {
  auto bytes = PropertyList::write(sample(), GetParam());
  ASSERT_TRUE(bytes.ok());
  const Data& full = *bytes;
  for (std::size_t cut : {std::size_t{1}, full.size() / 3, full.size() / 2, full.size() - 12}) {
    Data part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    auto r = PropertyList::read(part);
    EXPECT_FALSE(r.ok()) << "cut at " << cut;
    EXPECT_FALSE(r.error().empty());
  }
  // Flip bytes across the whole file; any outcome is fine except a crash.
  for (std::size_t i = 0; i < full.size(); i += 7) {
    Data damaged = full;
    damaged[i] ^= 0x5A;
    (void)PropertyList::read(damaged);
  }
}

INSTANTIATE_TEST_SUITE_P(XMLAndBinary, PropertyListFormats,
                         ::testing::Values(PropertyList::Format::XML,
                                           PropertyList::Format::Binary));

TEST(PropertyList, GarbageAndEmptyInputAreErrors) {
  for (std::string_view bad :
       {std::string_view(""), std::string_view("garbage"), std::string_view("bplist00"),
        std::string_view("bplist00\xff\xff"), std::string_view("<plist><dict><key>a</key></plist>"),
        std::string_view("{\"json\": true}")}) {
    auto r = PropertyList::read(bad);
    EXPECT_FALSE(r.ok()) << bad;
    EXPECT_FALSE(r.error().empty());
  }
}

// A binary property list of `levels` nested one-element arrays, built by hand so the test does
// not depend on a writer that might itself recurse.
std::string nestedBinary(std::uint64_t levels) {
  std::string out = "bplist00";
  std::vector<std::uint64_t> offsets;
  auto putBE = [&](std::uint64_t v, int width) {
    for (int i = width - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  for (std::uint64_t i = 0; i < levels; ++i) {
    offsets.push_back(out.size());
    out += '\xA1';
    putBE(i + 1, 4);
  }
  offsets.push_back(out.size());
  out += '\xA0';
  std::uint64_t table = out.size();
  for (auto o : offsets) putBE(o, 8);
  out += std::string(6, '\0');
  out += '\x08';
  out += '\x04';
  putBE(offsets.size(), 8);
  putBE(0, 8);
  putBE(table, 8);
  return out;
}

std::string nestedXml(int levels) {
  std::string x = "<plist version=\"1.0\">";
  for (int i = 0; i < levels; ++i) x += "<array>";
  for (int i = 0; i < levels; ++i) x += "</array>";
  return x + "</plist>";
}

TEST(PropertyList, NestingIsBoundedBeforeTheParserRecurses) {
  auto shallow = PropertyList::read(nestedBinary(50));
  ASSERT_TRUE(shallow.ok()) << shallow.error();
  EXPECT_EQ(shallow->at(0).at(0).count(), 1u);
  EXPECT_TRUE(PropertyList::read(nestedXml(PropertyList::kMaxDepth)).ok());
  for (const auto& r :
       {PropertyList::read(nestedBinary(1'000'000)), PropertyList::read(nestedXml(1'000'000)),
        PropertyList::read(nestedXml(PropertyList::kMaxDepth + 1))}) {
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.error().find("nested deeper"), std::string::npos) << r.error();
  }
}

// A binary property list holding one dictionary with one entry, key and value given as encoded
// objects (marker and contents), built by hand so that it may hold what no writer would produce.
std::string binaryDict(std::string_view keyObject, std::string_view valueObject = "\x10\x01") {
  std::string out = "bplist00";
  std::vector<std::size_t> offsets;
  offsets.push_back(out.size());
  out += "\xD1\x01\x02";
  offsets.push_back(out.size());
  out += keyObject;
  offsets.push_back(out.size());
  out += valueObject;
  const std::size_t table = out.size();
  for (std::size_t o : offsets) out += static_cast<char>(o);
  out += std::string(6, '\0');
  out += "\x01\x01";  // offset and reference sizes
  auto putBE = [&](std::uint64_t v) {
    for (int i = 7; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  putBE(offsets.size());
  putBE(0);
  putBE(table);
  return out;
}

TEST(PropertyList, KeysAndStringsWithANulAreRefusedWholeNeverCutOrFatal) {
  using namespace std::string_view_literals;
  // The crafted file reads when its key is an ordinary UTF-16 one ("é").
  auto plain = PropertyList::read(binaryDict("\x61\x00\xE9"sv));
  ASSERT_TRUE(plain.ok()) << plain.error();
  EXPECT_EQ((*plain)["\xC3\xA9"], Value(1));
  // A UTF-16 key "é\0x" made libplist abort the process; an ASCII one was cut to "a".
  for (std::string_view key : {"\x63\x00\xE9\x00\x00\x00\x78"sv, "\x53\x61\x00\x62"sv}) {
    auto r = PropertyList::read(binaryDict(key));
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().find("NUL"), std::string::npos) << r.error();
  }
  // The same for a string value, binary and XML.
  EXPECT_FALSE(PropertyList::read(binaryDict("\x51s"sv, "\x53x\0y"sv)).ok());
  EXPECT_TRUE(PropertyList::read(binaryDict("\x51s"sv, "\x53xyz"sv)).ok());
  EXPECT_FALSE(
      PropertyList::read("<plist version=\"1.0\"><dict><key>a\0b</key><true/></dict></plist>"sv)
          .ok());
  // Writing refuses them rather than cut them.
  for (auto format : {PropertyList::Format::XML, PropertyList::Format::Binary}) {
    auto key = PropertyList::write(Value(Dictionary{{std::string("a\0b", 3), 1}}), format);
    ASSERT_FALSE(key.ok());
    EXPECT_NE(key.error().find("NUL"), std::string::npos) << key.error();
    EXPECT_FALSE(PropertyList::write(Value(Array{std::string("x\0y", 3)}), format).ok());
  }
}

TEST(PropertyList, ReadsHandWrittenXml) {
  auto r = PropertyList::read(R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>CFBundleIdentifier</key><string>com.example.App</string>
  <key>n</key><integer>-7</integer>
  <key>when</key><date>2001-01-01T00:00:10Z</date>
  <key>yes</key><true/>
</dict></plist>)");
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(*(*r)["CFBundleIdentifier"].string(), "com.example.App");
  EXPECT_EQ((*r)["n"].intIfInt(), -7);
  EXPECT_DOUBLE_EQ((*r)["when"].date()->secondsSince1970, 978307210.0);
  EXPECT_EQ((*r)["yes"], Value(true));
}

TEST(PropertyList, InvalidUtf8InAStringIsAnError) {
  auto r = PropertyList::read("<plist version=\"1.0\"><string>\xff\xfe</string></plist>");
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.error().find("UTF-8"), std::string::npos);
}

TEST(PropertyList, ValuesWithoutAPropertyListFormFailToWriteWithTheirPlace) {
  auto r = PropertyList::writeXML(Value(Dictionary{{"a", Array{1, Value()}}}));
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.error().find("root.a[1]"), std::string::npos) << r.error();
  EXPECT_FALSE(PropertyList::writeBinary(Value()).ok());
}

}  // namespace
}  // namespace tw
