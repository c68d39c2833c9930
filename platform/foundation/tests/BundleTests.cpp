#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Localization.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/testsupport/TestSupport.h"

namespace fs = std::filesystem;

namespace tw {
namespace {

class ScopedLanguage {
 public:
  explicit ScopedLanguage(const char* language) {
    for (int i = 0; i < 4; ++i) {
      if (const char* v = getenv(kVars[i])) saved_[i] = v, had_[i] = true;
      unsetenv(kVars[i]);
    }
    if (language) setenv("LANGUAGE", language, 1);
  }
  ~ScopedLanguage() {
    for (int i = 0; i < 4; ++i) {
      if (had_[i])
        setenv(kVars[i], saved_[i].c_str(), 1);
      else
        unsetenv(kVars[i]);
    }
  }

 private:
  static constexpr const char* kVars[4] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
  std::string saved_[4];
  bool had_[4] = {};
};

void put(const fs::path& file, std::string_view text) {
  ASSERT_TRUE(paths::writeFileAtomically(file, text));
}

TEST(BundleInfo, ReadsInfoPlistOrFallsBackToTheApplicationsOwnValues) {
  test::TempDir dir;
  auto empty = Bundle::fromDirectory(dir.path());
  EXPECT_EQ(empty->bundleIdentifier(), "com.velmora.Tickwell");
  EXPECT_EQ(empty->shortVersionString(), "1.0");
  EXPECT_EQ(empty->bundleVersion(), "1");
  EXPECT_TRUE(empty->objectForInfoDictionaryKey("MVXAppKey").isNull());

  Dictionary info{{"CFBundleIdentifier", "com.example.Other"},
                  {"CFBundleShortVersionString", "2.5"},
                  {"CFBundleVersion", "250"},
                  {"MVXAppKey", "abc123"}};
  ASSERT_TRUE(paths::writeFileAtomically(dir.path() / "Info.plist",
                                         *PropertyList::writeBinary(Value(info))));
  auto bundle = Bundle::fromDirectory(dir.path());
  EXPECT_EQ(bundle->bundleIdentifier(), "com.example.Other");
  EXPECT_EQ(bundle->shortVersionString(), "2.5");
  EXPECT_EQ(bundle->bundleVersion(), "250");
  EXPECT_EQ(bundle->objectForInfoDictionaryKey("MVXAppKey"), Value("abc123"));
  EXPECT_EQ(bundle->infoDictionary().size(), 4u);
}

TEST(BundleInfo, ACorruptInfoPlistIsLoggedAndIgnored) {
  test::TempDir dir;
  put(dir.path() / "Info.plist", "<plist><dict><key>CFBundleIdentifier</key>");
  LogCapture logs;
  auto bundle = Bundle::fromDirectory(dir.path());
  EXPECT_EQ(bundle->bundleIdentifier(), "com.velmora.Tickwell");
  EXPECT_TRUE(logs.contains("Info.plist"));
}

TEST(BundleInfo, TheMainBundleIsTheBuildTreesResources) {
  Bundle& main = Bundle::main();
  EXPECT_EQ(main.bundleIdentifier(), "com.velmora.Tickwell");
  EXPECT_EQ(main.objectForInfoDictionaryKey("CFBundleName"), Value("Tickwell"));
  EXPECT_TRUE(main.pathForResource("Info", "plist").has_value());
  EXPECT_FALSE(main.pathForResource("NoSuchThing", "png").has_value());
}

TEST(StringsFiles, ParseEntriesEscapesAndComments) {
  auto t = parseStringsFile(R"(/* A comment
   over lines */
"New Timer" = "Neuer Timer";   // trailing comment
"Quote \"x\"" = "Tab\there\nline \\ \U00e9\U2603 \101";
bare_word = "unquoted key";
"Same";
"Untitled" /* between */ = /* parts */ "Ohne Titel";
"Untitled" = "Unbenannt";
"emoji" = "\UD83D\UDE00";
)");
  ASSERT_TRUE(t.ok()) << t.error();
  const Dictionary& d = *t;
  EXPECT_EQ(d.at("New Timer"), Value("Neuer Timer"));
  EXPECT_EQ(d.at("Quote \"x\""), Value("Tab\there\nline \\ é☃ A"));
  EXPECT_EQ(d.at("bare_word"), Value("unquoted key"));
  EXPECT_EQ(d.at("Same"), Value("Same"));
  EXPECT_EQ(d.at("Untitled"), Value("Unbenannt"));  // a repeated key: the last one counts
  EXPECT_EQ(d.at("emoji"), Value("😀"));
}

TEST(StringsFiles, ReadUtf16WithAByteOrderMark) {
  std::string le("\xFF\xFE", 2);
  for (char c : std::string("\"a\" = \"b\";")) le += std::string{c, '\0'};
  auto t = parseStringsFile(le);
  ASSERT_TRUE(t.ok()) << t.error();
  EXPECT_EQ(t->at("a"), Value("b"));
}

TEST(StringsFiles, BrokenTablesAreErrorsWithALine) {
  for (const char* bad : {"\"a\" = \"b\"", "\"a\" = ;", "\"a\" \"b\";", "\"unterminated = \"x\";",
                          "/* never closed", "= \"x\";", "\"a\" = \"\xff\";"}) {
    auto t = parseStringsFile(bad);
    EXPECT_FALSE(t.ok()) << bad;
  }
  EXPECT_NE(parseStringsFile("\n\n\"a\" = ").error().find("line 3"), std::string::npos);
  EXPECT_TRUE(parseStringsFile("").ok());
  EXPECT_TRUE(parseStringsFile("/* only a comment */\n// and another").ok());
}

class LocalizedLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    put(dir_.path() / "en.lproj" / "Localizable.strings", "\"colour\" = \"color\";");
    put(dir_.path() / "de.lproj" / "Localizable.strings",
        "\"New Timer\" = \"Neuer Timer\";\n\"%ld %@\" = \"%2$@: %1$ld\";\n");
    put(dir_.path() / "de.lproj" / "Other.strings", "\"New Timer\" = \"Anderer Timer\";");
    put(dir_.path() / "fr.lproj" / "Localizable.strings", "this is not a strings file");
    bundle_ = Bundle::fromDirectory(dir_.path());
  }
  test::TempDir dir_;
  std::shared_ptr<Bundle> bundle_;
};

TEST_F(LocalizedLookup, TranslatesForTheUsersLanguage) {
  ScopedLanguage lang("de_DE.UTF-8");
  EXPECT_EQ(bundle_->localizedString("New Timer"), "Neuer Timer");
  EXPECT_EQ(bundle_->localizedString("New Timer", "", "Other"), "Anderer Timer");
  // Missing in German: the development region's table, then the default text, then the key.
  EXPECT_EQ(bundle_->localizedString("colour"), "color");
  EXPECT_EQ(bundle_->localizedString("Untitled", "Fallback"), "Fallback");
  EXPECT_EQ(bundle_->localizedString("Untitled"), "Untitled");
  EXPECT_EQ(format(bundle_->localizedString("%ld %@"), 3, "actions"), "actions: 3");
}

TEST_F(LocalizedLookup, FallsBackToTheKeyWithoutATranslation) {
  ScopedLanguage lang("C");
  EXPECT_EQ(bundle_->localizedString("New Timer"), "New Timer");
  EXPECT_EQ(bundle_->localizedString("colour"), "color");
  ScopedLanguage none(nullptr);
  EXPECT_EQ(bundle_->localizedString("New Timer"), "New Timer");
  EXPECT_EQ(bundle_->localizedString(""), "");
}

TEST_F(LocalizedLookup, ABrokenTableIsLoggedOnceAndIgnored) {
  ScopedLanguage lang("fr:de");
  LogCapture logs;
  EXPECT_EQ(bundle_->localizedString("New Timer"), "New Timer");  // fr is chosen, and broken
  EXPECT_EQ(bundle_->localizedString("New Timer"), "New Timer");
  EXPECT_EQ(logs.lines().size(), 1u);
  EXPECT_TRUE(logs.contains("fr.lproj"));
}

TEST(Languages, ComeFromTheEnvironmentBestFirst) {
  {
    ScopedLanguage lang("pt_BR:de");
    setenv("LANG", "fr_FR.UTF-8", 1);
    EXPECT_EQ(preferredLanguages(),
              (std::vector<std::string>{"pt_BR", "pt-BR", "pt", "de", "fr_FR", "fr-FR", "fr"}));
  }
  {
    ScopedLanguage lang(nullptr);
    setenv("LC_MESSAGES", "sv_SE.UTF-8@euro", 1);
    setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(preferredLanguages(), (std::vector<std::string>{"sv_SE", "sv-SE", "sv"}));
  }
}

TEST(LocalizedConvenience, MainBundleLookupsThenFormats) {
  ScopedLanguage lang("en");
  EXPECT_EQ(localized("Untitled"), "Untitled");
  EXPECT_EQ(localizedFormat("%02ld:%02ld", 7, 5), "07:05");
  EXPECT_EQ(localizedFormat("Are you sure you want to delete this %@?", "timer"),
            "Are you sure you want to delete this timer?");
}

}  // namespace
}  // namespace tw
