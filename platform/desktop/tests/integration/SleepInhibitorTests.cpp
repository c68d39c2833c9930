// Sleep inhibition against the tests' own message buses: a private session bus (portal, screen
// saver) and a private bus standing in for the system bus (login1), with fake services recording
// every call.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>

#include "platform/desktop/ProcessActivities.h"
#include "platform/desktop/SleepInhibitor.h"
#include "platform/desktop/tests/integration/FakeSleepServices.h"
#include "platform/desktop/tests/integration/PrivateSessionBus.h"
#include "platform/foundation/Log.h"

namespace tw {
namespace {

using test::FakeSleepServices;

constexpr std::uint64_t kBase = 0xFF00EFFFFFull;
constexpr std::uint64_t kBoth = 0x1FF00FFFFFFull;
constexpr const char* kReason = "Updater is managing updaterable objects.";

class SleepInhibitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!systemBus_.ok() || !sessionBus_.ok()) GTEST_SKIP() << "no private message bus";
  }
  std::unique_ptr<SleepInhibitor> inhibitor() {
    return std::make_unique<SleepInhibitor>(SleepInhibitor::Options{"Tickwell", 2.0});
  }

  // Declared in this order: the "system" bus is made first, before the session bus takes over
  // DBUS_SESSION_BUS_ADDRESS.
  test::PrivateSessionBus systemBus_;
  test::ScopedSystemBusAddress systemAddress_{systemBus_.address()};
  test::PrivateSessionBus sessionBus_;
};

TEST_F(SleepInhibitorTest, PortalCarriesBothSleepsAndItsRequestIsClosedAtTheEnd) {
  FakeSleepServices session(sessionBus_.address(),
                            {FakeSleepServices::Portal | FakeSleepServices::ScreenSaver});
  FakeSleepServices system(systemBus_.address(), {FakeSleepServices::Login1});
  ASSERT_TRUE(session.ok() && system.ok());
  auto sleep = inhibitor();
  auto token = sleep->beginActivity(kBoth, kReason);
  ASSERT_TRUE(sleep->waitUntilIdle(5));
  EXPECT_EQ(session.calls(),
            std::vector<std::string>{std::string("Portal.Inhibit flags=12 reason=") + kReason});
  sleep->endActivity(token);
  ASSERT_TRUE(sleep->waitUntilIdle(5));
  auto calls = session.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1], "Request.Close /org/freedesktop/portal/desktop/request/1_1/t1");
  EXPECT_TRUE(system.calls().empty());
}

TEST_F(SleepInhibitorTest, WithoutAPortalLogin1AndTheScreenSaverHoldUntilTheEnd) {
  FakeSleepServices session(sessionBus_.address(), {FakeSleepServices::ScreenSaver});
  FakeSleepServices system(systemBus_.address(), {FakeSleepServices::Login1});
  ASSERT_TRUE(session.ok() && system.ok());
  auto sleep = inhibitor();
  auto token = sleep->beginActivity(kBoth, kReason);
  ASSERT_TRUE(sleep->waitUntilIdle(5));
  EXPECT_EQ(system.calls(), std::vector<std::string>{std::string("login1.Inhibit what=idle "
                                                                 "who=Tickwell why=") +
                                                     kReason + " mode=block"});
  EXPECT_EQ(
      session.calls(),
      std::vector<std::string>{std::string("ScreenSaver.Inhibit app=Tickwell reason=") + kReason});
  // The service's copies of the descriptor open and close a moment after the call returns.
  EXPECT_TRUE(test::pumpMainUntil([&] { return system.heldLogin1Inhibitions() == 1; }));

  sleep->endActivity(token);
  sleep->endActivity(token);  // a second end releases nothing more
  ASSERT_TRUE(sleep->waitUntilIdle(5));
  EXPECT_TRUE(test::pumpMainUntil([&] { return system.heldLogin1Inhibitions() == 0; }));
  EXPECT_EQ(session.calls().back(), "ScreenSaver.UnInhibit cookie=1");
  EXPECT_EQ(session.calls().size(), 2u);
}

TEST_F(SleepInhibitorTest, RefusingPortalFallsBackAndBaseOptionsCallNothing) {
  FakeSleepServices session(sessionBus_.address(),
                            {FakeSleepServices::Portal | FakeSleepServices::ScreenSaver, true});
  FakeSleepServices system(systemBus_.address(), {FakeSleepServices::Login1});
  ASSERT_TRUE(session.ok() && system.ok());
  auto sleep = inhibitor();
  sleep->endActivity(sleep->beginActivity(kBase, kReason));
  ASSERT_TRUE(sleep->waitUntilIdle(5));
  EXPECT_TRUE(session.calls().empty());
  EXPECT_TRUE(system.calls().empty());

  auto token = sleep->beginActivity(kActivityIdleSystemSleepDisabled, kReason);
  ASSERT_TRUE(sleep->waitUntilIdle(5));
  EXPECT_EQ(session.calls().size(), 1u);  // the refused portal call
  EXPECT_EQ(system.heldLogin1Inhibitions(), 1);
  // Going away releases what is still held.
  sleep.reset();
  ASSERT_TRUE(test::pumpMainUntil([&] { return system.heldLogin1Inhibitions() == 0; }));
}

TEST_F(SleepInhibitorTest, MissingServicesAreLoggedOnceAndNeverBlockTheCaller) {
  LogCapture logs;
  auto sleep = inhibitor();
  auto started = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i) sleep->endActivity(sleep->beginActivity(kBoth, kReason));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
  ASSERT_TRUE(sleep->waitUntilIdle(10));
  auto count = [&](std::string_view needle) {
    int n = 0;
    for (const auto& line : logs.lines()) n += line.find(needle) != std::string::npos;
    return n;
  };
  EXPECT_EQ(count("login1"), 1);
  EXPECT_EQ(count("screen saver"), 1);
  EXPECT_EQ(count("no desktop portal"), 1);
}

}  // namespace
}  // namespace tw
