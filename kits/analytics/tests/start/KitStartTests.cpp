// Starts the analytics kit the way the product does: the kit registry with the crash kit's class,
// whose start starts this kit with its beta token. Its own program, since the facade starts once
// per process.
#include <gtest/gtest.h>

#include <fstream>

#include "kits/analytics/ORVFileUtils.h"
#include "kits/analytics/Oriseth.h"
#include "kits/platform/tests/KitFakes.h"
#include "platform/foundation/Json.h"

namespace tw::test {
namespace {

// The crash kit's class as its facade behaves at start: it starts the analytics kit with the
// beta token it holds.
class StartingMorvex : public FakeKitClass {
 public:
  explicit StartingMorvex(std::shared_ptr<SentLog> sent)
      : FakeKitClass("Morvex", std::move(sent)) {}
  void initializeIfNeeded() override {
    FakeKitClass::initializeIfNeeded();
    Oriseth::startWithBetaToken(std::string("2:tester-token"));
  }
};

class AnalyticsKitStart : public KitPlatformTest {};

TEST_F(AnalyticsKitStart, TheRegistryStartsTheKitThroughTheCrashKitOnce) {
  registerFake(std::make_shared<StartingMorvex>(sent_));
  Tessaly::with({runtime::classNamed("Morvex")});
  // The registry added the analytics kit, whose own start handed over to the crash kit again.
  auto classes = Tessaly::sharedSDK()->kitClasses();
  ASSERT_EQ(classes.size(), 2u);
  EXPECT_EQ(classes[1]->name(), "Oriseth");
  EXPECT_EQ(sent_->events(), (std::vector<std::string>{"init:Morvex", "init:Morvex"}));

  auto controller = Oriseth::sharedInstance()->orisethController();
  ASSERT_TRUE(controller);
  Oriseth::startWithBetaToken(std::nullopt);  // later starts change nothing
  EXPECT_EQ(Oriseth::sharedInstance()->orisethController(), controller);

  Oriseth::logCustomEventWithName("hello", Dictionary{{"k", "v"}});
  controller->eventQueue()->waitUntilAllOperationsAreFinished();
  auto events = Oriseth::rootDirectory() / "events";
  ASSERT_EQ(controller->rootEventDirectory(), events);
  auto logs = ORVFileUtils::filesWithExtension("log", events);
  ASSERT_EQ(logs.size(), 1u);
  std::ifstream in(*logs.begin());
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 3u);  // metadata, app_launched, custom
  auto payload = [](const std::string& line) {
    auto parsed = Json::parse(line.substr(line.find('{')));
    return parsed.ok() ? *parsed : Value();
  };
  auto metadata = payload(lines[0]);
  EXPECT_EQ(metadata["api_key"], Value(kApiKey));
  EXPECT_EQ(metadata["beta_tester_token"], Value("tester-token"));
  EXPECT_EQ(metadata["install_id"], Value(Tessaly::sharedSDK()->installID()));
  EXPECT_EQ(metadata["bundle_id"], Value("com.velmora.Tickwell"));
  EXPECT_EQ(payload(lines[2])["custom_type"], Value("hello"));
  EXPECT_EQ(payload(lines[2])["custom_attributes"], Value(Dictionary{{"k", "v"}}));
}

}  // namespace
}  // namespace tw::test
