#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "kits/crash/beta/MVXBetaController.h"
#include "kits/crash/tests/CrashKitFixture.h"
#include "kits/platform/settings/TSYSettingsOnboardingManager.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"

namespace tw::test {
namespace {

class FakeBetaDelegate : public MVXBetaControllerDelegate {
 public:
  std::optional<std::string> APIKeyForBetaController(const MVXBetaController&) override {
    return "0123456789abcdef0123456789abcdef01234567";
  }
  std::shared_ptr<MVXSettings> settingsForBetaController(const MVXBetaController&) override {
    return std::make_shared<MVXSettings>(MVXSettings::withSettingsValue(settings));
  }
  Value settings;
};

class BetaChecks : public CrashKitTest {
 protected:
  void SetUp() override {
    CrashKitTest::SetUp();
    tw::crash::setBetaTokenSourceForTesting([] { return std::string("test-beta-token"); });
  }
  void TearDown() override {
    controller_.reset();
    tw::crash::setBetaTokenSourceForTesting(nullptr);
    CrashKitTest::TearDown();
  }

  std::shared_ptr<MVXBetaController> makeController() {
    controller_ = MVXBetaController::initWithDelegate(delegate_);
    return controller_;
  }

  static void postSettingsAvailable() {
    NotificationCenter::defaultCenter()->post(TSYSettingsAvailableNotification);
  }

  // Waits until the controller's queue and the main queue have run what is pending.
  void settle() {
    std::atomic<bool> done{false};
    controller_->queue()->async([&] { DispatchQueue::main()->async([&] { done = true; }); });
    ASSERT_TRUE(pumpMainUntil([&] { return done.load(); }));
  }

  // Waits until the service logged `count` checks, their reply was handled (the request is no
  // longer in flight) and the main queue ran.
  void waitForReply(std::size_t count) {
    ASSERT_TRUE(pumpMainUntil(
        [&] { return service_->requests(KitService::kBetaCheck).size() >= count; }, 10));
    ASSERT_TRUE(pumpMainUntil([&] { return !controller_->retrying(); }, 10));
    settle();
  }

  std::shared_ptr<FakeBetaDelegate> delegate_ = std::make_shared<FakeBetaDelegate>();
  std::shared_ptr<MVXBetaController> controller_;
};

TEST_F(BetaChecks, WithoutATokenNoCheckIsEverSent) {
  tw::crash::setBetaTokenSourceForTesting(nullptr);
  auto& service = startService();
  writeInfo(info());
  auto controller = makeController();
  EXPECT_FALSE(controller->start());
  postSettingsAvailable();
  controller->checkForUpdate();  // even a direct trigger only reaches the gate
  settle();
  EXPECT_TRUE(service.requests(KitService::kBetaCheck).empty());
}

TEST_F(BetaChecks, NotSupportedOutsideBuildsSignedForDistribution) {
  auto& service = startService();
  auto plist = info();
  plist.erase("MorvexSignedForDistribution");
  writeInfo(plist);
  EXPECT_FALSE(MVXBetaController::isBetaSupported());
  auto controller = makeController();
  ASSERT_TRUE(controller->start());
  postSettingsAvailable();
  settle();
  EXPECT_TRUE(service.requests(KitService::kBetaCheck).empty());
}

// One check from request to offer, the suspension that follows it and the check after it ends.
TEST_F(BetaChecks, RequestOfferSuspensionAndNextCheck) {
  auto& service = startService();
  writeInfo(info("com.velmora/Tickwell"));
  auto controller = makeController();
  ASSERT_TRUE(controller->start());
  postSettingsAvailable();
  waitForReply(1);

  auto requests = service.requests(KitService::kBetaCheck);
  ASSERT_EQ(requests.size(), 1u);
  const Value& r = requests[0];
  EXPECT_EQ(r["problems"].count(), 0u) << r["problems"];
  EXPECT_EQ(r["path"], Value("/spi/v2/platforms/mac/apps/com.velmora_Tickwell/beta_update_check"));
  EXPECT_EQ(r["query"]["build_version"], Value("7"));
  EXPECT_EQ(r["query"]["display_version"], Value("1.2"));
  EXPECT_EQ(r["query"]["source"], Value("3"));
  EXPECT_EQ(r["headers"]["User-Agent"], Value("Morvex Mac SDK/3.12.0"));
  EXPECT_EQ(r["headers"]["X-Morvex-Beta-Token"], Value("test-beta-token"));
  EXPECT_EQ(r["headers"]["X-Morvex-API-Client-Id"], Value("com.pelworth.morvex.mac"));
  EXPECT_EQ(r["headers"]["X-Morvex-API-Client-Build-Version"], Value("136"));
  EXPECT_EQ(r["headers"]["Accept"], Value("application/json"));

  auto offer = controller->activeUpdate();
  ASSERT_TRUE(offer);
  EXPECT_EQ(offer->url(), std::optional<std::string>("https://127.0.0.1/beta"));
  EXPECT_EQ(offer->version(), std::optional<std::string>("1.0"));
  EXPECT_TRUE(controller->checksSuspended());

  // Suspended: a further notification sends nothing.
  postSettingsAvailable();
  settle();
  EXPECT_EQ(service.requests(KitService::kBetaCheck).size(), 1u);

  // After the suspension a new check goes out; an offer without a version replaces the last.
  KitService::Reply second;
  second.json = Value(Dictionary{{"url", "https://127.0.0.1/beta2"}});
  service.script(KitService::kBetaCheck, second);
  controller->allowChecks();
  postSettingsAvailable();
  waitForReply(2);
  ASSERT_TRUE(pumpMainUntil([&] {
    auto u = controller->activeUpdate();
    return u && u->url() == std::optional<std::string>("https://127.0.0.1/beta2");
  }));
  EXPECT_FALSE(controller->activeUpdate()->version());
}

// Replies without an offer suspend checks and keep the last offer; a failed request halts checks
// for the rest of the process; a trigger while a request is in flight sends nothing.
TEST_F(BetaChecks, RepliesWithoutOfferFailuresAndRequestsInFlight) {
  auto& service = startService();
  auto plist = info();
  plist["CFBundleShortVersionString"] = "";
  writeInfo(plist);
  auto controller = makeController();
  ASSERT_TRUE(controller->start());

  KitService::Reply empty;
  empty.json = Value(Dictionary{});
  empty.delaySeconds = 0.5;
  service.script(KitService::kBetaCheck, empty);
  postSettingsAvailable();
  ASSERT_TRUE(pumpMainUntil([&] { return service.requests(KitService::kBetaCheck).size() == 1; }));
  postSettingsAvailable();  // in flight: dropped
  waitForReply(1);
  EXPECT_TRUE(controller->checksSuspended());
  EXPECT_FALSE(controller->activeUpdate());
  auto first = service.requests(KitService::kBetaCheck);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_TRUE(first[0]["query"]["display_version"].isNull());  // left out, the others kept
  EXPECT_EQ(first[0]["query"]["build_version"], Value("7"));

  KitService::Reply notJson;
  notJson.body = "{not json";
  notJson.headers["Content-Type"] = "application/json";
  service.script(KitService::kBetaCheck, notJson);
  controller->allowChecks();
  postSettingsAvailable();
  waitForReply(2);
  EXPECT_TRUE(controller->checksSuspended());
  EXPECT_FALSE(controller->activeUpdate());

  KitService::Reply failure;
  failure.status = 404;
  failure.json = Value(Dictionary{});
  service.script(KitService::kBetaCheck, failure);
  controller->allowChecks();
  postSettingsAvailable();
  ASSERT_TRUE(
      pumpMainUntil([&] { return service.requests(KitService::kBetaCheck).size() == 3; }, 10));
  settle();
  EXPECT_TRUE(controller->retrying());
  controller->allowChecks();
  postSettingsAvailable();
  settle();
  EXPECT_EQ(service.requests(KitService::kBetaCheck).size(), 3u);
  EXPECT_FALSE(controller->activeUpdate());
}

// A second suspension replaces the first one's timer: the earlier timer never ends the later
// suspension.
TEST_F(BetaChecks, ReplacedSuspensionTimerNeverFires) {
  writeInfo(info());
  delegate_->settings = Value(Dictionary{{"beta", Dictionary{{"update_suspend_duration", 100}}}});
  auto controller = makeController();
  VirtualClock clock;
  controller->temporarilySuspendChecks();
  EXPECT_TRUE(controller->checksSuspended());  // in force at once, not a main-queue turn later
  RunLoop::main().drain();
  clock.advance(50);
  controller->temporarilySuspendChecks();
  RunLoop::main().drain();
  clock.advance(51);
  EXPECT_TRUE(controller->checksSuspended());
  clock.advance(50);
  EXPECT_FALSE(controller->checksSuspended());
}

TEST(BetaUpdate, OffersNeedAURLAndPromptTextsFallBack) {
  ScopedXdg xdg;
  tw::ErrorPtr error;
  EXPECT_FALSE(MVXBetaUpdate::betaUpdateWithDictionary(Value("url"), &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), "NSURLErrorDomain");
  EXPECT_EQ(error->code(), -1017);
  error.reset();
  EXPECT_FALSE(
      MVXBetaUpdate::betaUpdateWithDictionary(Value(Dictionary{{"url", "not a url"}}), &error));
  EXPECT_TRUE(error);
  EXPECT_FALSE(MVXBetaUpdate::betaUpdateWithDictionary(Value(Dictionary{{"url", 3}})));

  auto update = MVXBetaUpdate::betaUpdateWithDictionary(
      Value(Dictionary{{"url", "https://example.test/b"}, {"version_string", "2.0 (9)"}}));
  ASSERT_TRUE(update);
  EXPECT_EQ(update->version(), std::optional<std::string>("2.0 (9)"));
  EXPECT_EQ(update->promptTitle(), "New Build Available");
  EXPECT_EQ(update->promptMessage(),
            "A new version of " + TSYGetApplicationDisplayName() + " is available for testing.");
  EXPECT_EQ(update->cancelLabel(), "Cancel");
  EXPECT_EQ(update->installLabel(), "Install");
}

}  // namespace
}  // namespace tw::test
