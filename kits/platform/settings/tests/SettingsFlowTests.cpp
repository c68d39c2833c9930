// The settings flow of one run against the local kits' web service: the decision after each
// download, the onboarding form, the cache file and its faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/Tessaly.h"
#include "kits/platform/settings/TSYSettings.h"
#include "kits/platform/settings/TSYSettingsOnboardingManager.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/testsupport/FileModes.h"
#include "platform/testsupport/TestSupport.h"
#include "tools/kitservice/KitServiceFixture.h"

namespace {

using tw::test::eventually;
using tw::test::KitService;
using tw::test::staysAbsent;

KitService::Reply settingsReply(const std::string& json, int times = 1) {
  KitService::Reply reply;
  reply.json = *tw::Json::parse(json);
  reply.times = times;
  return reply;
}

// A PNG's signature and header chunk: all the icon reader looks at.
tw::Data pngHeader(std::uint32_t width, std::uint32_t height) {
  tw::Data out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (std::uint32_t v : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
  }
  out.insert(out.end(), {8, 6, 0, 0, 0, 0, 0, 0, 0});
  return out;
}

class SettingsFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Tessaly::resetForTesting();
    tw::Dictionary info{{"CFBundleIdentifier", "com.example/app"},
                        {"CFBundleVersion", "7"},
                        {"CFBundleShortVersionString", "1.2"},
                        {"Morvex", tw::Dictionary{{"SettingsEndpoint", "http://127.0.0.1:1"},
                                                  {"ConfigureEndpoint", service_.baseURL()}}}};
    auto dir = xdg_.root() / "bundle";
    std::filesystem::create_directories(dir);
    ASSERT_TRUE(tw::paths::writeFileAtomically(dir / "Info.plist",
                                               *tw::PropertyList::writeXML(tw::Value(info)))
                    .ok());
    tw::setKitMainBundleForTesting(tw::Bundle::fromDirectory(dir));
    // The environment overrides the Info.plist's endpoint.
    setenv("SettingsEndpoint", service_.baseURL().c_str(), 1);
    token_ = tw::NotificationCenter::defaultCenter()->addObserver(
        TSYSettingsAvailableNotification, nullptr, nullptr, [this](const tw::Notification&) {
          updatesWhenPosted_ = service_.requests("update").size();
          ++posted_;
        });
  }
  void TearDown() override {
    tw::NotificationCenter::defaultCenter()->removeObserver(token_);
    unsetenv("SettingsEndpoint");
    tw::setKitMainBundleForTesting(nullptr);
    Tessaly::resetForTesting();
  }
  std::shared_ptr<TSYSettingsOnboardingManager> start() {
    auto manager = TSYSettingsOnboardingManager::create(
        TSYApplicationIdentiferModel::create("install-1"), "install-1");
    manager->beginSettingsAndOnboardingOperations(
        "0123456789abcdef0123456789abcdef01234567",
        tw::Dictionary{{TSYSDKBundleIdentifier, TSYSDKDisplayVersion}});
    return manager;
  }
  std::map<std::string, std::string> fields(const tw::Value& request) {
    std::map<std::string, std::string> out;
    for (const auto& part : *request["parts"].array()) {
      if (const auto* text = part["text"].string()) out[*part["name"].string()] = *text;
    }
    return out;
  }

  // The names of `wanted` in the order the service received them.
  static std::vector<std::string> headerOrder(const tw::Value& request,
                                              const std::vector<std::string>& wanted) {
    std::vector<std::string> out;
    for (const auto& name : *request["header_order"].array()) {
      if (std::find(wanted.begin(), wanted.end(), *name.string()) != wanted.end()) {
        out.push_back(*name.string());
      }
    }
    return out;
  }

  tw::test::ScopedXdg xdg_;
  KitService service_{false};
  tw::NotificationToken token_;
  std::atomic<int> posted_{0};
  std::atomic<std::size_t> updatesWhenPosted_{99};
};

TEST_F(SettingsFlowTest, NewAppIsCreatedThenSettingsAreFetchedAgainAndAnnouncedOnce) {
  service_.script(KitService::kSettings, settingsReply(R"({"app": {"status": "new"}})", 2));
  auto manager = start();
  ASSERT_TRUE(
      eventually([&] { return service_.requests("settings").size() == 2 && posted_ == 1; }));
  EXPECT_TRUE(staysAbsent([&] { return posted_ > 1; }, 0.3)) << "announced again";
  EXPECT_EQ(posted_.load(), 1);

  auto all = service_.requests();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(*all[0]["endpoint"].string(), "settings");
  EXPECT_EQ(*all[1]["endpoint"].string(), "create");
  for (const auto& request : all) EXPECT_EQ(request["problems"].count(), 0u) << request;
  EXPECT_EQ(*all[0]["path"].string(), "/spi/v2/platforms/mac/apps/com.example_app/settings");
  EXPECT_EQ(*all[0]["headers"]["User-Agent"].string(), "io.tessaly.sdk.mac/1.9.0 (74)");
  EXPECT_EQ(*all[0]["headers"]["X-Morvex-Installation-ID"].string(), "install-1");

  auto form = fields(all[1]);
  EXPECT_EQ(form["app[identifier]"], "com.example_app");
  EXPECT_EQ(form["app[build_version]"], "7");
  EXPECT_EQ(form["app[display_version]"], "1.2");
  EXPECT_EQ(form["app[build][libraries][io.tessaly.sdk.mac]"], "1.9.0");
  EXPECT_EQ(form["app[slices][][arch]"], "x86_64");
  EXPECT_EQ(form["app[instance_identifier]"], *all[0]["query"]["instance"].string());
  EXPECT_EQ(form.count("app[icon][hash]"), 0u);  // the bundle has no icon
  EXPECT_EQ(*manager->settingsModel()->appStatus(), "new");

  // On the wire the default headers come first and in their order, then the request's own.
  const std::vector<std::string> defaults{"User-Agent",
                                          "Accept-Charset",
                                          "Accept-Language",
                                          "Content-Language",
                                          "X-Morvex-Developer-Token",
                                          "X-Morvex-API-Client-Id",
                                          "X-Morvex-API-Client-Display-Version",
                                          "X-Morvex-API-Client-Build-Version",
                                          "X-Morvex-API-Key"};
  auto settingsOrder = defaults;
  settingsOrder.insert(
      settingsOrder.end(),
      {"Accept", "X-Morvex-Installation-ID", "X-Morvex-Device-Model", "X-Morvex-OS-Build-Version",
       "X-Morvex-OS-Display-Version", "X-Morvex-API-Client-Version"});
  auto createOrder = defaults;
  createOrder.insert(createOrder.end(), {"Content-Type", "Content-Length"});
  EXPECT_EQ(headerOrder(all[0], settingsOrder), settingsOrder);
  EXPECT_EQ(headerOrder(all[1], createOrder), createOrder);
}

// A bundle whose desktop entry names its icon: the create form ends with the icon's five fields.
TEST_F(SettingsFlowTest, TheApplicationIconIsSentFromTheBundle) {
  const auto dir = xdg_.root() / "bundle";
  // The bundle identifier "com.example/app" names its entry inside a folder of the bundle.
  std::filesystem::create_directories(dir / "com.example");
  std::ofstream(dir / "com.example" / "app.desktop")
      << "[Desktop Entry]\nName=Example\nIcon=example-icon\n[Desktop Action x]\nIcon=wrong\n";
  const tw::Data png = pngHeader(512, 512);
  ASSERT_TRUE(tw::paths::writeFileAtomically(dir / "example-icon.png", png).ok());
  ASSERT_TRUE(tw::paths::writeFileAtomically(dir / "wrong.png", pngHeader(1, 1)).ok());
  tw::setKitMainBundleForTesting(tw::Bundle::fromDirectory(dir));

  service_.script(KitService::kSettings, settingsReply(R"({"app": {"status": "new"}})", 2));
  auto manager = start();
  ASSERT_TRUE(eventually([&] { return service_.requests("settings").size() == 2; }));
  auto create = service_.requests("create").at(0);
  EXPECT_EQ(create["problems"].count(), 0u) << create;
  const auto& parts = *create["parts"].array();
  ASSERT_GE(parts.size(), 5u);
  std::vector<std::string> lastNames;
  for (auto i = parts.size() - 5; i < parts.size(); ++i)
    lastNames.push_back(*parts[i]["name"].string());
  EXPECT_EQ(lastNames,
            (std::vector<std::string>{"app[icon][hash]", "app[icon][prerendered]",
                                      "app[icon][width]", "app[icon][height]", "app[icon][data]"}));
  auto form = fields(create);
  EXPECT_EQ(form["app[icon][hash]"], TSYSHA1HexStringForData(png));
  EXPECT_EQ(form["app[icon][prerendered]"], "true");
  EXPECT_EQ(form["app[icon][width]"], "512");
  EXPECT_EQ(form["app[icon][height]"], "512");
  const auto& data = parts.back();
  EXPECT_EQ(*data["filename"].string(), "icon.png");
  EXPECT_EQ(*data["content_type"].string(), "image/png");
  EXPECT_EQ(*data["sha1"].string(), TSYSHA1HexStringForData(png));  // the bytes arrive whole
  // The flow ends with its announcement, whose observer reads the service: wait for it before the
  // service goes.
  EXPECT_TRUE(eventually([&] { return posted_.load() == 1; }));
}

TEST_F(SettingsFlowTest, UpdateIsSentAfterTheAnnouncement) {
  service_.script(KitService::kSettings,
                  settingsReply(R"({"app": {"status": "activated", "update_required": true}})"));
  auto manager = start();
  ASSERT_TRUE(eventually([&] { return service_.requests("update").size() == 1; }));
  EXPECT_EQ(posted_.load(), 1);
  EXPECT_EQ(updatesWhenPosted_.load(), 0u);
  auto update = service_.requests("update")[0];
  EXPECT_EQ(*update["method"].string(), "PUT");
  EXPECT_EQ(*update["path"].string(), "/spi/v1/platforms/mac/apps/com.example_app");
  EXPECT_TRUE(manager->settingsModel()->appUpdateRequired());
}

TEST_F(SettingsFlowTest, FailedDownloadsKeepTheCacheAndAnnounceNothing) {
  auto manager = start();
  ASSERT_TRUE(eventually([&] { return posted_ == 1; }));
  EXPECT_TRUE(manager->settingsDictionary()["features"].dictionary());
  const auto cached = manager->settingsPath();

  KitService::Reply broken;
  broken.status = 404;
  service_.script(KitService::kSettings, broken);
  auto second = start();
  ASSERT_TRUE(eventually([&] { return service_.requests("settings").size() == 2; }));
  EXPECT_TRUE(staysAbsent([&] { return posted_ > 1; }, 0.3)) << "a failed download announced";
  EXPECT_EQ(posted_.load(), 1);
  EXPECT_TRUE(std::filesystem::exists(cached));  // the earlier run's settings stay
  // The bundle identifier's "/" stays in the cache's path (it is "_" only in URLs).
  EXPECT_TRUE(cached.string().ends_with("/io.tessaly.sdk.mac.data/com.example/app/settings.json"))
      << cached;

  // A new download replaces the cache by rename: a reader that opened the old file still reads
  // it whole, and no temporary file is left beside it.
  auto readAll = [](std::istream& in) {
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  std::ifstream reader(cached, std::ios::binary);
  std::string old;
  {
    std::ifstream again(cached, std::ios::binary);
    old = readAll(again);
  }
  ASSERT_FALSE(old.empty());
  const std::string fresh = R"({"app": {"status": "activated"}, "fresh": ")" +
                            std::string(old.size() + 4096, 'n') + R"("})";
  service_.script(KitService::kSettings, settingsReply(fresh));
  auto third = start();
  // Announced once it is saved; the flow is done with the fixture by then.
  ASSERT_TRUE(eventually([&] { return posted_ == 2; }));
  std::ifstream now(cached, std::ios::binary);
  EXPECT_NE(readAll(now).find("nnnn"), std::string::npos);
  EXPECT_EQ(readAll(reader), old);
  for (const auto& entry : std::filesystem::directory_iterator(cached.parent_path()))
    EXPECT_EQ(entry.path().filename(), "settings.json");
}

TEST_F(SettingsFlowTest, TheRegistryHoldsTheFlowAndReadsItsSettings) {
  auto sdk = Tessaly::sharedSDK();
  ASSERT_TRUE(
      std::dynamic_pointer_cast<TSYSettingsOnboardingManager>(sdk->settingsAndOnboardingManager()));
  EXPECT_TRUE(sdk->settings().isNull());
  sdk->setAPIKey("0123456789abcdef0123456789abcdef01234567");
  sdk->onboardAppAndDownloadSettings();
  ASSERT_TRUE(eventually([&] { return posted_ == 1; }));
  EXPECT_TRUE(sdk->settings()["features"].dictionary());
  auto request = service_.requests("settings").at(0);
  EXPECT_EQ(*request["headers"]["X-Morvex-Installation-ID"].string(), sdk->installID());
  EXPECT_EQ(*request["headers"]["X-Morvex-API-Key"].string(),
            "0123456789abcdef0123456789abcdef01234567");
}

// The product's client trusts only its pinned roots: the service's test CA is refused even while
// the system trusts it, and nothing is saved or announced.
TEST_F(SettingsFlowTest, ProductPinningRefusesOtherAuthorities) {
  KitService tlsService(true);
  setenv("SettingsEndpoint", tlsService.baseURL().c_str(), 1);
  MVXURLSession::setSystemTrustFileForTesting(tlsService.caFile());
  tw::LogCapture log;
  auto manager = start();
  EXPECT_TRUE(eventually([&] { return log.contains("[Tessaly] failed to download settings"); }));
  MVXURLSession::setSystemTrustFileForTesting({});
  EXPECT_EQ(posted_.load(), 0);
  EXPECT_TRUE(tlsService.requests().empty());  // no request got past the handshake
  EXPECT_FALSE(std::filesystem::exists(manager->settingsPath()));
}

TEST(SettingsCache, UnreadableOrMistypedSettingsReadAsAbsent) {
  tw::test::TempDir dir;
  auto path = dir.path() / "settings.json";
  auto read = [&](const std::string& text) {
    std::ofstream(path) << text;
    TSYSettings settings(path);
    auto value = settings.settingsDictionary();
    return std::make_pair(value, std::filesystem::exists(path));
  };
  for (const char* bad : {"", "{not json", "[1, 2]", "\"text\""}) {
    auto [value, kept] = read(bad);
    EXPECT_TRUE(value.isNull()) << bad;
    EXPECT_FALSE(kept) << bad;  // deleted, so the next run downloads afresh
  }
  std::ofstream(path) << R"({"app": 5})";
  TSYSettings mistyped(path);
  EXPECT_FALSE(mistyped.appSettings());
  EXPECT_FALSE(mistyped.appNeedsOnboarding());
  std::ofstream(path) << R"({"app": {"status": 3, "update_required": "yes"}})";
  mistyped.clearSettingsDictionary();
  EXPECT_FALSE(mistyped.appStatus());
  EXPECT_FALSE(mistyped.appUpdateRequired());
  std::ofstream(path) << R"({"app": {"status": null}})";
  mistyped.clearSettingsDictionary();
  EXPECT_TRUE(mistyped.appSettings());
  EXPECT_FALSE(mistyped.appStatus());
}

// The settings cache replaced by a folder, by nothing, by other bytes: no settings, said, and the
// entry kept beside the cache's name for a look. One that cannot be read is said once and left.
TEST(SettingsCache, DamagedCachesAreKeptAsideAndAnUnreadableOneIsLoggedOnce) {
  tw::test::TempDir dir;
  const auto path = dir.path() / "settings.json";
  auto keptAside = [&] {
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      if (entry.path().filename().string().rfind("settings.json.corrupt-", 0) == 0) {
        std::filesystem::remove_all(entry.path());  // the next kind gets the same name
        return true;
      }
    return false;
  };
  for (const std::string kind : {"folder", "empty", "garbage"}) {
    if (kind == "folder") {
      std::filesystem::create_directories(path);
    } else {
      std::ofstream(path, std::ios::binary) << (kind == "empty" ? "" : "\x01{not json");
    }
    tw::LogCapture log;
    TSYSettings settings(path);
    EXPECT_TRUE(settings.settingsDictionary().isNull()) << kind;
    EXPECT_TRUE(log.contains("[Tessaly] Could not load settings with error")) << kind;
    EXPECT_FALSE(std::filesystem::exists(path)) << kind;
    EXPECT_TRUE(keptAside()) << kind;
  }

  std::ofstream(path) << R"({"app":{"status":"activated"}})";
  std::filesystem::permissions(path, std::filesystem::perms::none);
  const auto run = tw::test::runWithFileModesEnforced([&] {
    tw::LogCapture log;
    TSYSettings settings(path);
    std::string seen;
    for (int i = 0; i < 3; ++i) seen += settings.settingsDictionary().isNull() ? "null " : "set ";
    std::size_t lines = 0;
    for (const auto& line : log.lines())
      if (line.find("Could not load settings") != std::string::npos) ++lines;
    return seen + std::to_string(lines) + (std::filesystem::exists(path) ? " kept" : " gone");
  });
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  if (run.unavailable) GTEST_SKIP() << run.why;
  ASSERT_TRUE(run.ok) << run.why;
  EXPECT_EQ(run.output, "null null null 1 kept");
  EXPECT_EQ(TSYSettings(path).appStatus(), std::optional<std::string>("activated"));
}

}  // namespace

TEST(AppIcon, TheApplicationsOwnIconIsFoundAndDamagedImagesGiveNone) {
  tw::setKitMainBundleForTesting(nullptr);
  auto icon = TSYAppIconUtility().applicationIcon();
  ASSERT_TRUE(icon);  // the desktop entry's icon among the application's resources
  EXPECT_EQ(icon->size().width, 64);
  EXPECT_EQ(icon->dataHash().size(), 40u);
  EXPECT_TRUE(icon->isWithinMaxSurfaceArea());

  tw::Data wide = pngHeader(1025, 1024);
  EXPECT_FALSE(TSYIcon::initWithImage(wide)->isWithinMaxSurfaceArea());
  for (const tw::Data& bad : {tw::Data{}, tw::Data(wide.begin(), wide.begin() + 20),
                              pngHeader(0, 5), tw::Data(40, 'x')}) {
    EXPECT_FALSE(TSYIcon::initWithImage(bad));
  }
  wide[12] = 'X';  // a first chunk that is not the header
  EXPECT_FALSE(TSYIcon::initWithImage(wide));
}
