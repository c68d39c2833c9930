#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>

#include "kits/platform/AdsKit.h"

#include "kits/platform/MVXDataCollectionArbiter.h"
#include "kits/platform/MVXUserDefaults.h"
#include "kits/platform/tests/KitFakes.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"

namespace tw::test {
namespace {

constexpr const char* kMultipleCalls =
    "[Tessaly] [Tessaly +with] called multiple times. Only the first call is honored, please pass "
    "all kits you wish to initialize";
constexpr const char* kNotStarted =
    "[Morvex] Not started - Emberlyn automatic data collection is disabled";
constexpr const char* kThirdParty =
    "[Tessaly] Tessaly will not initialize any kits when Emberlyn automatic data collection is "
    "disabled; to use Third-party kits with automatic data collection disabled, initialize these "
    "kits via non-Tessaly means.";

std::vector<std::string> names(const Tessaly::KitClassList& list) {
  std::vector<std::string> out;
  for (const auto& c : list) out.push_back(c->name());
  return out;
}

// The reason of the TSYException that `f` raises, or "" when it raises none.
template <class F>
std::string tsyReason(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    EXPECT_EQ(e.name(), "TSYException");
    return e.reason();
  }
  return "";
}

class TessalyStartup : public KitPlatformTest {
 protected:
  void SetUp() override {
    KitPlatformTest::SetUp();
    morvex_ = registerFake(std::make_shared<FakeKitClass>("Morvex", sent_));
    oriseth_ = registerFake(std::make_shared<FakeKitClass>("Oriseth", sent_));
    manager_ = std::make_shared<RecordingSettingsManager>();
    Tessaly::sharedSDK()->setSettingsAndOnboardingManager(manager_);
  }
  std::shared_ptr<FakeKitClass> morvex_, oriseth_;
  std::shared_ptr<RecordingSettingsManager> manager_;
};

// --- the decision table -----------------------------------------------------------------------

TEST_F(TessalyStartup, CollectionOnInitialisesEveryKitInOrderThenStartsSettingsOnce) {
  LogCapture log;
  auto sdk = Tessaly::with({morvex_});
  EXPECT_EQ(sdk, Tessaly::sharedSDK());
  EXPECT_EQ(sent_->events(), (std::vector<std::string>{"init:Morvex", "init:Oriseth"}));
  ASSERT_EQ(manager_->starts.size(), 1u);
  EXPECT_EQ(manager_->starts[0].first, kApiKey);
  EXPECT_EQ(manager_->starts[0].second, (Dictionary{{"com.example.Morvex", "2.1.0"},
                                                    {"com.example.Oriseth", "2.1.0"},
                                                    {"io.tessaly.sdk.mac", "1.9.0"}}));
  EXPECT_FALSE(log.contains(kMultipleCalls));

  // A later call is only logged: same instance, same list, nothing started again.
  auto before = sdk->kitClasses();
  EXPECT_EQ(Tessaly::with({morvex_, registerFake(std::make_shared<FakeKitClass>("Extra", sent_))}),
            sdk);
  EXPECT_TRUE(log.contains(kMultipleCalls));
  EXPECT_EQ(sdk->kitClasses(), before);
  EXPECT_EQ(sent_->events().size(), 2u);
  EXPECT_EQ(manager_->starts.size(), 1u);
}

TEST_F(TessalyStartup, CollectionOffDisablesKitMessagingAndStopsAtAThirdPartyKit) {
  Tessaly::setMorvexCollectionEnabled(false);
  auto other = registerFake(std::make_shared<FakeKitClass>("Other", sent_));
  auto last = registerFake(std::make_shared<FakeKitClass>("Last", sent_));
  Tessaly::sharedSDK()->setDebug(true);
  LogCapture log;
  Tessaly::with({morvex_, other, last});
  // The list was still completed and kept; nothing initialised and no settings fetched; the walk
  // ends at the first kit that is neither Morvex nor Oriseth, before "Last" and "Oriseth".
  EXPECT_EQ(names(Tessaly::sharedSDK()->kitClasses()),
            (std::vector<std::string>{"Morvex", "Other", "Last", "Oriseth"}));
  EXPECT_EQ(sent_->events(), (std::vector<std::string>{"disable:Morvex", "disable:Other"}));
  EXPECT_TRUE(manager_->starts.empty());
  EXPECT_TRUE(log.contains(kNotStarted));
  EXPECT_TRUE(log.contains(kThirdParty));

  Tessaly::with({morvex_});
  EXPECT_TRUE(log.contains(kMultipleCalls));
  EXPECT_EQ(sent_->events().size(), 2u);
}

TEST_F(TessalyStartup, CollectionOffWithOnlyOurKitsLogsNoThirdPartyLineEvenInDebug) {
  Tessaly::setMorvexCollectionEnabled(false);
  Tessaly::sharedSDK()->setDebug(true);
  LogCapture log;
  Tessaly::with({morvex_});
  EXPECT_EQ(sent_->events(), (std::vector<std::string>{"disable:Morvex", "disable:Oriseth"}));
  EXPECT_TRUE(log.contains(kNotStarted));
  EXPECT_FALSE(log.contains(kThirdParty));
}

TEST_F(TessalyStartup, NoApiKeyStopsSilentlyAfterItsLogLine) {
  // A configuration given in code without a key (the Info.plist one would have raised).
  Tessaly::sharedSDK()->setTessalyConfig(Dictionary{{"Kits", Array{}}});
  LogCapture log;
  Tessaly::with({morvex_});
  EXPECT_TRUE(
      log.contains("[Tessaly] Tessaly API Key is nil! Tessaly won't work unless there is "
                   "a valid API Key setup in Info.plist"));
  EXPECT_TRUE(Tessaly::sharedSDK()->kitClasses().empty());
  EXPECT_TRUE(sent_->events().empty());
  EXPECT_TRUE(manager_->starts.empty());
  EXPECT_FALSE(log.contains(kNotStarted));

  Tessaly::with({morvex_});
  EXPECT_TRUE(log.contains(kMultipleCalls));
  EXPECT_TRUE(sent_->events().empty());
}

TEST_F(TessalyStartup, EmberlynModeWithoutAnAppIdHasNoKey) {
  Tessaly::sharedSDK()->setInstallationMode(2);
  LogCapture log;
  Tessaly::with({morvex_});
  EXPECT_TRUE(log.contains("[Tessaly] HalvernService-Info.plist key HALVERN_APP_ID unavailable"));
  EXPECT_TRUE(sent_->events().empty());
}

TEST_F(TessalyStartup, EmberlynModeKeyIsTheDigestPrefixOfTheAppId) {
  auto sdk = Tessaly::sharedSDK();
  sdk->setInstallationMode(2);
  sdk->setEmberlynHalvernAppId("1:1234:mac:abcd");
  std::string id = "1:1234:mac:abcd";
  EXPECT_EQ(sdk->APIKey(), TSYSHA256HexStringForBytes(id.data(), id.size()).substr(0, 40));
  // Emberlyn mode needs no Info.plist configuration at all.
  EXPECT_EQ(sdk->tessalyConfig(), Dictionary{});
}

// --- the kit list -------------------------------------------------------------------------------

TEST_F(TessalyStartup, KitListIsCompletedWithOrisethOnceAndOnlyWhenItIsAKit) {
  using L = Tessaly::KitClassList;
  EXPECT_EQ(names(Tessaly::kitClassesByAddingOrisethIfFound(L{morvex_})),
            (std::vector<std::string>{"Morvex", "Oriseth"}));
  EXPECT_EQ(names(Tessaly::kitClassesByAddingOrisethIfFound(L{oriseth_, morvex_})),
            (std::vector<std::string>{"Oriseth", "Morvex"}));
  auto other = registerFake(std::make_shared<FakeKitClass>("Other", sent_));
  EXPECT_EQ(names(Tessaly::kitClassesByAddingOrisethIfFound(L{other})),
            (std::vector<std::string>{"Other"}));
  registerFake(std::make_shared<RuntimeClass>("Oriseth"));  // present but no kit
  EXPECT_EQ(names(Tessaly::kitClassesByAddingOrisethIfFound(L{morvex_})),
            (std::vector<std::string>{"Morvex"}));
}

TEST_F(TessalyStartup, OtherVendorsKitsAreAddedMovedAndStubbedByName) {
  auto companion =
      registerFake(std::make_shared<FakeKitClass>(Tessaly::kCompanionKitClassName, sent_));
  auto lead = registerFake(std::make_shared<FakeKitClass>(Tessaly::kLeadKitClassName, sent_));
  registerFake(std::make_shared<RuntimeClass>(AdsKit::kProductClassName));
  LogCapture log;
  // Instances stand for their classes.
  Tessaly::with({std::make_shared<FakeInstance>(morvex_), lead});
  EXPECT_EQ(names(Tessaly::sharedSDK()->kitClasses()),
            (std::vector<std::string>{"Kestwyn", "Morvex", "Lumaroot", "Oriseth", "AdsKit"}));
  // AdsKit has no initializeIfNeeded: it is listed, identified, and sent nothing.
  EXPECT_EQ(sent_->events(), (std::vector<std::string>{"init:Kestwyn", "init:Morvex",
                                                       "init:Lumaroot", "init:Oriseth"}));
  EXPECT_EQ(manager_->starts.at(0).second.at("com.pavomark.ads"), Value("0.0.0"));
}

TEST_F(TessalyStartup, OlderStyleKitsAreAcceptedWithAnUpgradeHintAndStartedThroughTheirInstance) {
  auto legacy = registerFake(std::make_shared<LegacyKitClass>("Legacy", sent_));
  LogCapture log;
  Tessaly::with({morvex_, legacy});
  EXPECT_TRUE(log.contains("[Tessaly] Please upgrade to the latest version of \"Legacy\""));
  EXPECT_EQ(sent_->events(),
            (std::vector<std::string>{"init:Morvex", "start:Legacy", "init:Oriseth"}));
  EXPECT_EQ(manager_->starts.at(0).second.at("com.example.legacy"), Value("0.9"));
}

TEST_F(TessalyStartup, AClassThatIsNoKitRaisesAndTheStartUpIsNotRunAgain) {
  auto incomplete = registerFake(std::make_shared<LegacyKitClass>("Half", sent_, false));
  LogCapture log;
  EXPECT_EQ(tsyReason([&] {
              Tessaly::with({morvex_, incomplete});
            }),
            "[Tessaly] It appears that \"Half\" is not a valid Tessaly Kit. Please make sure you "
            "only pass Tessaly Kits to [Tessaly with:].");
  EXPECT_TRUE(log.contains("[Tessaly] Please upgrade to the latest version of \"Half\""));
  EXPECT_EQ(tsyReason([&] {
              Tessaly::validateTSYKitConformance({std::make_shared<RuntimeClass>("NSString")});
            }),
            "[Tessaly] It appears that \"NSString\" is not a valid Tessaly Kit. Please make sure "
            "you only pass Tessaly Kits to [Tessaly with:].");
  // The failed start-up counts as run: a second call neither raises nor starts anything.
  EXPECT_EQ(tsyReason([&] { Tessaly::with({morvex_}); }), "");
  EXPECT_TRUE(log.contains(kMultipleCalls));
  EXPECT_TRUE(sent_->events().empty());
}

// --- Info.plist configuration ---------------------------------------------------------------

TEST_F(TessalyStartup, BrokenInfoPlistConfigurationsRaiseWithTheirReasons) {
  struct Case {
    std::optional<Dictionary> info;
    const char* reason;
  } cases[] = {
      {std::nullopt, "[Tessaly] Cannot find Info.plist."},
      {Dictionary{{"CFBundleVersion", "1"}},
       "[Tessaly] Value of Info.plist key \"Tessaly\" must be a NSDictionary."},
      {Dictionary{{"Tessaly", "not a dictionary"}},
       "[Tessaly] Value of Info.plist key \"Tessaly\" must be a NSDictionary."},
      {Dictionary{{"Tessaly", Dictionary{{"Kits", Array{}}}}},
       "[Tessaly] Value of Info.plist[Tessaly][APIKey] must contain your Tessaly API Key."},
      {Dictionary{{"Tessaly", Dictionary{{"APIKey", 42}}}},
       "[Tessaly] Value of Info.plist[Tessaly][APIKey] must contain your Tessaly API Key."},
  };
  for (const auto& c : cases) {
    writeInfo(c.info);
    Tessaly::resetForTesting();
    EXPECT_EQ(tsyReason([] { Tessaly::with({kitClass<Morvex>()}); }), c.reason);
    EXPECT_EQ(Tessaly::sharedSDK()->installationMode(), 0);
    // The kit configuration reads the same configuration and raises the same way.
    EXPECT_EQ(tsyReason([] { Tessaly::configurationDictionaryForKitClass(kitClass<Morvex>()); }),
              c.reason);
  }
}

TEST_F(TessalyStartup, KitConfigurationsComeFromTheKitsEntriesAndOddShapesCountAsAbsent) {
  Dictionary info = defaultInfo();
  Dictionary config = *info["Tessaly"].dictionary();
  config["Kits"] = Array{"Morvex", Dictionary{{"KitName", "Oriseth"}, {"KitInfo", "x"}},
                         Dictionary{{"KitName", "Morvex"}, {"KitInfo", Dictionary{{"a", 1}}}},
                         Dictionary{{"KitName", "Morvex"}, {"KitInfo", Dictionary{{"b", 2}}}}};
  info["Tessaly"] = config;
  writeInfo(info);
  Tessaly::resetForTesting();
  EXPECT_EQ(Tessaly::configurationDictionaryForKitClass(morvex_), (Dictionary{{"a", 1}}));
  EXPECT_EQ(
      Tessaly::sharedSDK()->configurationDictionaryForKit(std::make_shared<FakeInstance>(morvex_)),
      (Dictionary{{"a", 1}}));
  EXPECT_EQ(Tessaly::configurationDictionaryForKitClass(oriseth_), Dictionary{});
  EXPECT_EQ(Tessaly::configurationDictionaryForKitClass(
                registerFake(std::make_shared<FakeKitClass>("Nobody", sent_))),
            std::nullopt);
  EXPECT_EQ(Tessaly::sharedSDK()->installationMode(), 1);

  // "Kits" that is not an array: one log line, start-up goes on, no kit has a configuration.
  config["Kits"] = Dictionary{{"KitName", "Morvex"}};
  info["Tessaly"] = config;
  writeInfo(info);
  Tessaly::resetForTesting();
  LogCapture log;
  Tessaly::with({morvex_});
  EXPECT_TRUE(
      log.contains("[Tessaly] [Tessaly] Value of Info.plist[Tessaly][Kits] should be a "
                   "NSArray."));
  EXPECT_EQ(sent_->events(), (std::vector<std::string>{"init:Morvex", "init:Oriseth"}));
  EXPECT_EQ(Tessaly::configurationDictionaryForKitClass(morvex_), std::nullopt);
}

// --- the data-collection switch -------------------------------------------------------------

TEST_F(TessalyStartup, CollectionSwitchSourcesRankStickyThenInfoPlistThenOutsidePlatform) {
  struct Case {
    long sticky;  // 0 not set
    Value plist;  // "EmberlynMorvexCollectionEnabled"
    std::shared_ptr<RuntimeClass> ebnApp;
    bool enabled;
  } cases[] = {
      {0, Value(), nullptr, true},
      {2, Value(true), nullptr, false},
      {1, Value(false), nullptr, true},
      {0, Value("NO"), nullptr, false},
      {0, Value("YES"), std::make_shared<FakeEBNAppClass>(true, false), true},
      {0, Value(Date{1e9}), std::make_shared<FakeEBNAppClass>(true, false), false},
      {0, Value(), std::make_shared<FakeEBNAppClass>(false, false), true},
  };
  for (const auto& c : cases) {
    Dictionary info = defaultInfo();
    if (!c.plist.isNull()) info["EmberlynMorvexCollectionEnabled"] = c.plist;
    writeInfo(info);
    std::filesystem::remove(MVXUserDefaults::standardUserDefaults()->fileURL());
    Tessaly::resetForTesting();
    if (c.sticky) Tessaly::setMorvexCollectionEnabled(c.sticky == 1);
    if (c.ebnApp) registerFake(c.ebnApp);
    EXPECT_EQ(MVXDataCollectionArbiter::stickySetting(), c.sticky);
    EXPECT_EQ(Tessaly::isMorvexCollectionEnabled(), c.enabled) << c.plist << " " << c.sticky;
    runtime::unregisterClass("EBNApp");
  }
}

TEST_F(TessalyStartup, StickyChoiceIsWrittenAtOnceAndOutlivesTheRun) {
  Tessaly::setMorvexCollectionEnabled(false);
  auto file = MVXUserDefaults::standardUserDefaults()->fileURL();
  MVXUserDefaults::resetStandardUserDefaultsForTesting();  // a new run reads the file
  EXPECT_EQ(MVXDataCollectionArbiter::stickySetting(), 2);
  EXPECT_FALSE(Tessaly::isMorvexCollectionEnabled());
  EXPECT_TRUE(std::filesystem::exists(file));
}

TEST_F(TessalyStartup, AnOutsidePlatformTooOldToAnswerCountsAsEnabledWithADebugLine) {
  registerFake(std::make_shared<FakeEBNAppClass>(true, std::nullopt));
  Tessaly::sharedSDK()->setDebug(true);
  LogCapture log;
  EXPECT_TRUE(MVXEBNApp::isDataCollectionDefaultEnabled());
  EXPECT_TRUE(
      log.contains("[Tessaly] [Morvex] This version of EBNApp does not support "
                   "isDataCollectionDefaultEnabled. Ignoring."));
  // Without the older Info.plist switch the automatic path is allowed.
  EXPECT_TRUE(MVXDataCollectionArbiter::isLegacyPlistMorvexCollectionEnabled());
}

// --- automatic initialisation -----------------------------------------------------------------

TEST_F(TessalyStartup, ReadyNotificationStartsMorvexInEmberlynModeOnce) {
  Dictionary info = defaultInfo();
  info.erase("Tessaly");
  writeInfo(info);
  Tessaly::resetForTesting();
  Tessaly::sharedSDK()->setSettingsAndOnboardingManager(manager_);
  auto center = NotificationCenter::defaultCenter();
  LogCapture log;
  center->post("EBNAppReadyToConfigureSDKNotification", nullptr,
               Dictionary{{"EBNHalvernAppIDKey", "1:99:mac:ff"}});
  center->post("EBNAppReadyToConfigureSDKNotification", nullptr,
               Dictionary{{"EBNHalvernAppIDKey", "1:99:mac:ff"}});
  auto sdk = Tessaly::sharedSDK();
  EXPECT_TRUE(sdk->emberlynMode());
  EXPECT_EQ(sdk->emberlynHalvernAppId(), "1:99:mac:ff");
  EXPECT_EQ(sent_->events(), (std::vector<std::string>{"init:Morvex", "init:Oriseth"}));
  ASSERT_EQ(manager_->starts.size(), 1u);
  EXPECT_EQ(manager_->starts[0].first.size(), 40u);
  EXPECT_FALSE(log.contains(kMultipleCalls));
}

TEST_F(TessalyStartup, AutomaticPathStopsForEachOfItsReasons) {
  auto sdk = Tessaly::sharedSDK();
  sdk->setDebug(true);
  {  // "Tessaly" present but without AutoInitialize: silent.
    LogCapture log;
    Tessaly::autoInitialize(std::nullopt);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(sdk->installationMode(), 0);
  }
  Dictionary info = defaultInfo();
  info.erase("Tessaly");
  writeInfo(info);
  {  // No "Tessaly" and no app id.
    LogCapture log;
    Tessaly::autoInitialize(Dictionary{{"EBNHalvernAppIDKey", ""}});
    EXPECT_TRUE(
        log.contains("[Tessaly] [Morvex] attempted initialization via Emberlyn, but did "
                     "not get a Halvern App Id"));
    EXPECT_EQ(sdk->installationMode(), 2);
  }
  sdk->setInstallationMode(0);
  Tessaly::setMorvexCollectionEnabled(false);
  {
    LogCapture log;
    Tessaly::autoInitialize(Dictionary{{"EBNHalvernAppIDKey", "id"}});
    EXPECT_TRUE(
        log.contains("[Tessaly] [Morvex] automatic initialization disabled because data "
                     "collection is disabled"));
  }
  sdk->setInstallationMode(1);
  {
    LogCapture log;
    Tessaly::autoInitialize(Dictionary{{"EBNHalvernAppIDKey", "id"}});
    EXPECT_TRUE(
        log.contains("[Tessaly] Emberlyn automatic data collection has been disabled. In "
                     "order to also disable automatic data collection in Tessaly, change "
                     "your app delegate so that Emberlyn is initialized before Tessaly."));
  }
  Tessaly::setMorvexCollectionEnabled(true);
  info["emberlyn_morvex_collection_enabled"] = "NO";
  writeInfo(info);
  sdk->setInstallationMode(0);
  {
    LogCapture log;
    Tessaly::autoInitialize(Dictionary{{"EBNHalvernAppIDKey", "id"}});
    EXPECT_TRUE(
        log.contains("[Tessaly] [Morvex] automatic initialization disabled via Info.plist "
                     "key: emberlyn_morvex_collection_enabled"));
  }
  info.erase("emberlyn_morvex_collection_enabled");
  writeInfo(info);
  sdk->setInstallationMode(0);
  runtime::unregisterClass("Morvex");
  {
    LogCapture log;
    Tessaly::autoInitialize(Dictionary{{"EBNHalvernAppIDKey", "id"}});
    EXPECT_TRUE(
        log.contains("[Tessaly] [Morvex] Attempting to initialize Morvex via Emberlyn but "
                     "could not find Morvex."));
  }
  EXPECT_TRUE(sent_->events().empty());
}

// --- identifiers ------------------------------------------------------------------------------

TEST_F(TessalyStartup, InstallationIdentifierPersistsAcrossRunsAndTheRunIdentifierDoesNot) {
  auto first = Tessaly::sharedSDK();
  EXPECT_TRUE(first->isFirstInstall());
  ASSERT_EQ(first->installID().size(), 36u);
  for (char c : first->installID()) EXPECT_TRUE(c == '-' || (std::isxdigit(c) && !std::islower(c)));
  const std::string run = first->executionIdentifier();
  ASSERT_EQ(run.size(), 32u);
  for (char c : run) EXPECT_TRUE(std::isdigit(c) || (c >= 'a' && c <= 'f')) << run;

  auto file = MVXUserDefaults::standardUserDefaults()->fileURL();
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(file.parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(file.parent_path().filename(), "com.morvex");
  EXPECT_EQ(file.parent_path().parent_path().filename(), "com.velmora.Tickwell");

  Tessaly::resetForTesting();  // the next run
  auto second = Tessaly::sharedSDK();
  EXPECT_FALSE(second->isFirstInstall());
  EXPECT_EQ(second->installID(), first->installID());
  EXPECT_NE(second->executionIdentifier(), run);
}

TEST_F(TessalyStartup, InstallationIdentifierMovesOverFromTheApplicationPreferences) {
  std::filesystem::remove(MVXUserDefaults::standardUserDefaults()->fileURL());
  UserDefaults& standard = UserDefaults::standard();
  standard.setObject("11111111-2222-3333-4444-555555555555", "com.morvex.iuuid");
  Tessaly::resetForTesting();
  auto sdk = Tessaly::sharedSDK();
  EXPECT_FALSE(sdk->isFirstInstall());
  EXPECT_EQ(sdk->installID(), "11111111-2222-3333-4444-555555555555");
  EXPECT_TRUE(standard.objectForKey("com.morvex.iuuid").isNull());
  MVXUserDefaults::resetStandardUserDefaultsForTesting();
  EXPECT_EQ(MVXUserDefaults::standardUserDefaults()->stringForKey("com.morvex.iuuid"),
            "11111111-2222-3333-4444-555555555555");
}

// --- end to end with the real crash kit class ---------------------------------------------------

TEST_F(KitPlatformTest, TheShippedInfoPlistStartsTheCrashKitThroughTheRegistry) {
  setKitMainBundleForTesting(nullptr);  // the application's own resources
  LogCapture log;
  auto sdk = Tessaly::with({kitClass<Morvex>()});
  // The shipped list names the analytics kit too, which this binary links as the program does.
  EXPECT_EQ(names(sdk->kitClasses()), (std::vector<std::string>{"Morvex", "Oriseth"}));
  EXPECT_TRUE(Morvex::sharedInstance()->isStarted());
  ASSERT_TRUE(sdk->APIKey());
  EXPECT_EQ(sdk->APIKey()->size(), 40u);
  EXPECT_EQ(sdk->installationMode(), 1);
  EXPECT_EQ(sdk->kitVersionsByKitBundleIdentifier(),
            (Dictionary{{"com.pelworth.morvex.mac", "3.12.0"},
                        {"com.pelworth.oriseth.mac", "1.4.0"},
                        {"io.tessaly.sdk.mac", "1.9.0"}}));
  EXPECT_EQ(Tessaly::configurationDictionaryForKitClass(kitClass<Morvex>()), Dictionary{});
  EXPECT_EQ(runtime::classNamed("Morvex"), kitClass<Morvex>());
  // The crash kit announces its version on start; nothing else is logged.
  EXPECT_EQ(log.lines(), std::vector<std::string>{"[Morvex] Version 3.12.0 (136)"});
}

}  // namespace
}  // namespace tw::test
