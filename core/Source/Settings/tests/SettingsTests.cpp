#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Source/Settings/BTSettingsNotification.h"
#include "core/Source/Settings/BTUserDefaultsSettingsService.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/testsupport/TestSupport.h"

namespace {

constexpr std::int64_t kNotFound = 0x7FFFFFFFFFFFFFFF;

// Every notification of a change while it lives, delivered synchronously.
class ChangeRecorder {
 public:
  ChangeRecorder()
      : token_(tw::NotificationCenter::defaultCenter()->addObserver(
            BTSettingsChangedNotification, nullptr, nullptr,
            [this](const tw::Notification& n) { seen.push_back(n); })) {}
  std::vector<tw::Notification> seen;

 private:
  tw::ScopedNotificationToken token_;
};

class SettingsTest : public ::testing::Test {
 protected:
  // What the file on disk holds under `key`, read by a fresh instance.
  std::optional<tw::Dictionary> stored(std::string_view key) const {
    tw::UserDefaults fresh(file);
    return fresh.dictionaryForKey(key);
  }
  void loadAndRegister() {
    service->load();
    service->registerDefaults();
  }

  tw::test::ScopedXdg xdg;
  std::filesystem::path file = xdg.root() / "preferences.plist";
  std::unique_ptr<tw::UserDefaults> defaults = std::make_unique<tw::UserDefaults>(file);
  std::shared_ptr<BTUserDefaultsSettingsService> service =
      std::make_shared<BTUserDefaultsSettingsService>(*defaults);
};

TEST_F(SettingsTest, FirstLaunchGivesEverySettingItsDefault) {
  loadAndRegister();
  auto g = service->generalBundle();
  auto m = service->masterDetailBundle();
  auto t = service->timeObjectsBundle();
  auto a = service->actionObjectsBundle();
  ASSERT_TRUE(g && m && t && a);
  EXPECT_TRUE(g->preventSystemSleep());
  EXPECT_FALSE(g->preventDisplaySleep());
  EXPECT_FALSE(g->animationsDisabled());
  EXPECT_FALSE(g->useMilitaryTime());
  EXPECT_EQ(m->viewMode(), 1);
  EXPECT_EQ(m->alarmSelectionIndex(), kNotFound);
  EXPECT_EQ(m->timerSelectionIndex(), kNotFound);
  EXPECT_EQ(m->stopwatchSelectionIndex(), kNotFound);
  EXPECT_FALSE(m->actionsListViewCollapsed());
  EXPECT_TRUE(t->warnIfActiveOnQuit());
  EXPECT_TRUE(t->promptBeforeDelete());
  EXPECT_EQ(t->stopwatchAccuracy(), 0);
  EXPECT_TRUE(a->promptBeforeDelete());
  EXPECT_EQ(g->containerKey(), "GeneralBundle");
  EXPECT_EQ(m->containerKey(), "MasterDetailsBundle");
  EXPECT_EQ(t->containerKey(), "TimeObjectsBundle");
  EXPECT_EQ(a->containerKey(), "ActionObjectsBundle");
  EXPECT_FALSE(std::filesystem::exists(file));  // nothing announced, nothing written
}

TEST_F(SettingsTest, StoredValuesSurviveAndOnlyMissingOnesTakeDefaults) {
  defaults->setObject(tw::Value(tw::Dictionary{{"useMilitaryTime", tw::Value(true)}}),
                      "GeneralBundle");
  defaults->setObject(
      tw::Value(tw::Dictionary{{"viewMode", tw::Value(2)}, {"timerSelectionIndex", tw::Value(3)}}),
      "MasterDetailsBundle");
  loadAndRegister();
  auto g = service->generalBundle();
  EXPECT_TRUE(g->useMilitaryTime());
  EXPECT_TRUE(g->preventSystemSleep());
  EXPECT_FALSE(g->preventDisplaySleep());
  EXPECT_FALSE(g->animationsDisabled());
  EXPECT_EQ(g->storedKeys(), std::vector<std::string>{"useMilitaryTime"});
  EXPECT_EQ(service->masterDetailBundle()->viewMode(), 2);
  EXPECT_EQ(service->masterDetailBundle()->timerSelectionIndex(), 3);
  EXPECT_EQ(service->masterDetailBundle()->alarmSelectionIndex(), kNotFound);

  service->restoreDefaults();
  EXPECT_EQ(service->masterDetailBundle()->viewMode(), 1);
  EXPECT_EQ(service->masterDetailBundle()->timerSelectionIndex(), kNotFound);
  EXPECT_FALSE(g->useMilitaryTime());
}

TEST_F(SettingsTest, AnnouncingAnUnknownKeyRaisesAndNeitherPostsNorSaves) {
  loadAndRegister();
  ChangeRecorder recorder;
  auto g = service->generalBundle();
  g->setUseMilitaryTime(true);
  try {
    g->notifySettingsChangedWithKeys("useMilitaryTime", "viewMode", nullptr);
    FAIL() << "an unknown key was accepted";
  } catch (const tw::Exception& e) {
    EXPECT_STREQ(e.name().c_str(), tw::NSInvalidArgumentException);
    // "[<BTGeneralBundleSettingsImpl: 0x...>] Unrecognized setting key `viewMode`"
    EXPECT_TRUE(e.reason().starts_with("[<BTGeneralBundleSettingsImpl: 0x")) << e.reason();
    EXPECT_TRUE(e.reason().ends_with(">] Unrecognized setting key `viewMode`")) << e.reason();
  }
  EXPECT_TRUE(recorder.seen.empty());
  EXPECT_FALSE(stored("GeneralBundle"));
}

TEST_F(SettingsTest, AnnouncementsCarryTheNamesAnEmptyListOrNothing) {
  loadAndRegister();
  ChangeRecorder recorder;
  auto g = service->generalBundle();

  g->notifySettingsChangedWithKeys("preventSystemSleep", "preventDisplaySleep", nullptr, "ignored");
  g->notifySettingsChangedWithKeys(nullptr);
  g->notifySettingsChanged();
  g->notifySettingsChangedWithKeys(std::vector<std::string>{"animationsDisabled"});
  ASSERT_EQ(recorder.seen.size(), 4u);
  for (const auto& n : recorder.seen) EXPECT_EQ(n.object, g);

  EXPECT_EQ(bt_changedSettingKeys(recorder.seen[0]),
            (tw::Array{tw::Value("preventSystemSleep"), tw::Value("preventDisplaySleep")}));
  EXPECT_TRUE(bt_settingKeyChanged(recorder.seen[0], "preventDisplaySleep"));
  EXPECT_FALSE(bt_settingKeyChanged(recorder.seen[0], "useMilitaryTime"));

  ASSERT_TRUE(recorder.seen[1].userInfo.has_value());
  EXPECT_EQ(bt_changedSettingKeys(recorder.seen[1]), tw::Array{});

  EXPECT_FALSE(recorder.seen[2].userInfo.has_value());
  EXPECT_EQ(bt_changedSettingKeys(recorder.seen[2]), std::nullopt);
  for (const auto& s : g->settings()) EXPECT_FALSE(bt_settingKeyChanged(recorder.seen[2], s.name));

  EXPECT_TRUE(bt_settingKeyChanged(recorder.seen[3], "animationsDisabled"));

  // A user-info value that is not an array reads as no names.
  tw::Notification odd{BTSettingsChangedNotification, nullptr,
                       tw::Dictionary{{BTSettingKeysUserInfoKey, tw::Value("useMilitaryTime")}}};
  EXPECT_EQ(bt_changedSettingKeys(odd), std::nullopt);
  EXPECT_FALSE(bt_settingKeyChanged(odd, "useMilitaryTime"));
}

TEST_F(SettingsTest, EveryAnnouncedChangeRewritesAllFourBundles) {
  loadAndRegister();
  // Written without announcing, as the master list and the timing display do.
  service->masterDetailBundle()->setViewMode(2);
  service->masterDetailBundle()->setActionsListViewCollapsed(true);
  service->timeObjectsBundle()->setStopwatchAccuracy(1);
  EXPECT_FALSE(std::filesystem::exists(file));

  service->generalBundle()->setUseMilitaryTime(true);
  service->generalBundle()->notifySettingsChangedWithKeys("useMilitaryTime", nullptr);

  auto general = stored("GeneralBundle");
  auto master = stored("MasterDetailsBundle");
  auto time = stored("TimeObjectsBundle");
  auto actions = stored("ActionObjectsBundle");
  ASSERT_TRUE(general && master && time && actions);
  EXPECT_EQ(general->at("useMilitaryTime"), tw::Value(true));
  EXPECT_EQ(general->size(), 4u);
  EXPECT_EQ(master->at("viewMode"), tw::Value(2));
  EXPECT_EQ(master->at("actionsListViewCollapsed"), tw::Value(true));
  EXPECT_EQ(master->at("alarmSelectionIndex"), tw::Value(kNotFound));
  EXPECT_EQ(time->at("stopwatchAccuracy"), tw::Value(1));
  EXPECT_EQ(*actions, (tw::Dictionary{{"promptBeforeDelete", tw::Value(true)}}));

  // And what was written loads back the same.
  auto other = std::make_shared<BTUserDefaultsSettingsService>(*defaults);
  other->load();
  other->registerDefaults();
  EXPECT_EQ(other->masterDetailBundle()->dictionaryValue(),
            service->masterDetailBundle()->dictionaryValue());
  EXPECT_EQ(other->timeObjectsBundle()->stopwatchAccuracy(), 1);
}

TEST_F(SettingsTest, UnreadableStoredEntriesAreRebuiltKeepingTheReadableOnes) {
  tw::LogCapture log;
  defaults->setObject(tw::Value(tw::Dictionary{{"useMilitaryTime", tw::Value(true)},
                                               {"preventSystemSleep", tw::Value("maybe")},
                                               {"animationsDisabled", tw::Value(tw::Array{})},
                                               {"bogus", tw::Value(3)}}),
                      "GeneralBundle");
  defaults->setObject(tw::Value(tw::Dictionary{{"viewMode", tw::Value(2.0)},
                                               {"alarmSelectionIndex", tw::Value(~0ull)},
                                               {"actionsListViewCollapsed", tw::Value(1)}}),
                      "MasterDetailsBundle");
  defaults->setObject(tw::Value("not a dictionary"), "TimeObjectsBundle");
  ASSERT_TRUE(defaults->synchronize());  // as the user's file holds them
  loadAndRegister();

  auto g = service->generalBundle();
  ASSERT_TRUE(g);
  EXPECT_TRUE(g->useMilitaryTime());
  EXPECT_TRUE(g->preventSystemSleep());   // default, the stored text was unreadable
  EXPECT_FALSE(g->animationsDisabled());  // default
  EXPECT_EQ(g->storedKeys(), std::vector<std::string>{"useMilitaryTime"});
  auto m = service->masterDetailBundle();
  EXPECT_EQ(m->viewMode(), 2);
  EXPECT_EQ(m->alarmSelectionIndex(), kNotFound);  // out of range: default
  EXPECT_TRUE(m->actionsListViewCollapsed());
  ASSERT_TRUE(service->timeObjectsBundle());
  EXPECT_TRUE(service->timeObjectsBundle()->warnIfActiveOnQuit());

  EXPECT_TRUE(log.contains("*** Caught exception setting key \"bogus\" : "));
  EXPECT_TRUE(
      log.contains("<BTGeneralBundleSettingsImpl> Rebuilt settings from a stored "
                   "dictionary with unreadable entries (animationsDisabled, bogus, "
                   "preventSystemSleep)"));
  EXPECT_TRUE(log.contains("Ignoring stored settings under \"TimeObjectsBundle\""));

  // The next save stores clean bundles.
  service->save();
  auto general = stored("GeneralBundle");
  ASSERT_TRUE(general);
  EXPECT_EQ(*general, (tw::Dictionary{{"animationsDisabled", tw::Value(false)},
                                      {"preventDisplaySleep", tw::Value(false)},
                                      {"preventSystemSleep", tw::Value(true)},
                                      {"useMilitaryTime", tw::Value(true)}}));
  EXPECT_EQ(stored("TimeObjectsBundle")->at("stopwatchAccuracy"), tw::Value(0));
  // ... and the user's original stays beside it, once.
  service->save();
  std::vector<std::filesystem::path> kept;
  for (auto& entry : std::filesystem::directory_iterator(xdg.root()))
    if (entry.path().filename().string().starts_with("preferences.plist.corrupt-"))
      kept.push_back(entry.path());
  ASSERT_EQ(kept.size(), 1u);
  tw::UserDefaults original(kept[0]);
  EXPECT_EQ(original.dictionaryForKey("GeneralBundle")->at("preventSystemSleep"),
            tw::Value("maybe"));
  EXPECT_EQ(original.objectForKey("TimeObjectsBundle"), tw::Value("not a dictionary"));
}

TEST_F(SettingsTest, AnUnreadablePreferencesFileIsMovedAsideAndDefaultsApply) {
  defaults.reset();
  service.reset();
  {
    std::ofstream out(file, std::ios::binary);
    out << "bplist00 this is not a property list";
  }
  defaults = std::make_unique<tw::UserDefaults>(file);
  service = std::make_shared<BTUserDefaultsSettingsService>(*defaults);
  tw::LogCapture log;
  loadAndRegister();
  EXPECT_TRUE(service->generalBundle()->preventSystemSleep());
  bool keptAside = false;
  for (auto& entry : std::filesystem::directory_iterator(xdg.root())) {
    if (entry.path() == file || !entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    keptAside = keptAside || bytes.find("not a property list") != std::string::npos;
  }
  EXPECT_TRUE(keptAside) << "the unreadable file was not kept";
  service->save();
  EXPECT_TRUE(stored("GeneralBundle"));
}

TEST_F(SettingsTest, TheServiceStopsListeningWhenDestroyed) {
  loadAndRegister();
  auto g = service->generalBundle();
  service.reset();
  g->notifySettingsChanged();  // nobody saves, nothing breaks
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(SettingsTest, TheDefaultServiceUsesTheStandardUserDefaults) {
  auto standard = std::make_shared<BTUserDefaultsSettingsService>();
  standard->registerDefaults();
  standard->timeObjectsBundle()->setStopwatchAccuracy(2);
  standard->save();
  auto time = tw::UserDefaults::standard().dictionaryForKey("TimeObjectsBundle");
  ASSERT_TRUE(time);
  EXPECT_EQ(time->at("stopwatchAccuracy"), tw::Value(2));
  for (const char* key :
       {"GeneralBundle", "MasterDetailsBundle", "TimeObjectsBundle", "ActionObjectsBundle"})
    tw::UserDefaults::standard().removeObjectForKey(key);
}

// ----- the container's model layer

class BareContainer : public BTBaseSettingsContainer {
 public:
  BareContainer() : BTBaseSettingsContainer({{"flag", SettingType::Bool}}) {}
};

TEST(SettingsContainer, ValidationNormalisesNumbersAndRefusesOtherTypes) {
  auto g = std::make_shared<BTGeneralBundleSettingsImpl>();
  tw::ErrorPtr error;
  EXPECT_TRUE(BTValidateAndSetValue(*g, "useMilitaryTime", tw::Value(1), &error));
  EXPECT_EQ(g->valueForKey("useMilitaryTime"), tw::Value(true));
  EXPECT_FALSE(BTValidateAndSetValue(*g, "useMilitaryTime", tw::Value(tw::Date{}), &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), "NSCocoaErrorDomain");
  EXPECT_TRUE(g->useMilitaryTime());

  tw::LogCapture log;
  error.reset();
  EXPECT_FALSE(BTValidateAndSetValue(*g, "noSuchSetting", tw::Value(true), &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), "TickwellModelErrorDomain");
  EXPECT_TRUE(log.contains("*** Caught exception setting key \"noSuchSetting\" : "));
  EXPECT_THROW(g->setValueForKey(tw::Value("text"), "useMilitaryTime"), tw::Exception);
}

TEST(SettingsContainer, ObserversHearTypedSetters) {
  auto t = std::make_shared<BTTimeObjectsBundleSettingsImpl>();
  std::vector<tw::Value> seen;
  auto observation =
      t->observeScoped("stopwatchAccuracy", tw::KVONew,
                       [&](const tw::KeyValueChange& c) { seen.push_back(c.newValue); });
  t->setStopwatchAccuracy(2);
  EXPECT_EQ(seen, std::vector<tw::Value>{tw::Value(2)});
}

TEST(SettingsContainer, ABundleWithoutKeyOrDefaultsFailsAsUnrecognisedSelector) {
  auto bare = std::make_shared<BareContainer>();
  EXPECT_THROW(bare->containerKey(), tw::Exception);
  try {
    bare->registerDefaults();
    FAIL();
  } catch (const tw::Exception& e) {
    EXPECT_STREQ(e.name().c_str(), tw::NSInvalidArgumentException);
    EXPECT_NE(e.reason().find("defaultValues"), std::string::npos);
  }
}

}  // namespace
