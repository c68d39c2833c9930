// The freedesktop notification centre against a real message bus of the test's own and a
// notification server of the tests' own.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "platform/desktop/FreedesktopNotificationCenter.h"
#include "platform/desktop/tests/integration/FakeNotificationServer.h"
#include "platform/desktop/tests/integration/PrivateSessionBus.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testsupport/TestSupport.h"

namespace tw {
namespace {

using test::FakeNotificationServer;

FreedesktopNotificationCenter::Options testOptions(double callTimeout = 5.0) {
  FreedesktopNotificationCenter::Options o;
  o.applicationName = "Tickwell";
  o.desktopEntry = "com.velmora.Tickwell";
  o.callTimeoutSeconds = callTimeout;
  return o;
}

UserNotification notification(std::optional<std::string> identifier, std::string title = "Tea") {
  UserNotification n;
  n.title = std::move(title);
  n.subtitle = "this timer has finished";
  n.informativeText = "Drink <it> & go";
  n.soundName = NSUserNotificationDefaultSoundName;
  n.identifier = std::move(identifier);
  return n;
}

std::size_t linesContaining(const LogCapture& capture, std::string_view needle) {
  const auto lines = capture.lines();
  return static_cast<std::size_t>(
      std::count_if(lines.begin(), lines.end(),
                    [&](const std::string& l) { return l.find(needle) != std::string::npos; }));
}

class FreedesktopNotificationCenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bus_.ok()) GTEST_SKIP() << "no private message bus: " << bus_.failure();
  }
  test::PrivateSessionBus bus_;
};

TEST_F(FreedesktopNotificationCenterTest, NotificationReachesTheServerWithMappedArgumentsAndHints) {
  FakeNotificationServer server;
  ASSERT_TRUE(server.ok());
  FreedesktopNotificationCenter center(testOptions());

  center.deliverNotification(notification("timer-1"));
  auto quiet = notification(std::nullopt, "Eggs");
  quiet.soundName.reset();
  center.deliverNotification(quiet);
  ASSERT_TRUE(center.waitUntilIdle(5.0));

  const auto calls = server.calls();
  ASSERT_EQ(calls.size(), 2u);
  const auto& first = calls[0];
  EXPECT_EQ(first.appName, "Tickwell");
  EXPECT_EQ(first.replacesId, 0u);
  EXPECT_EQ(first.summary, "Tea");
  // No body-markup capability: the text goes as it is, the subtitle on its own line.
  EXPECT_EQ(first.body, "this timer has finished\nDrink <it> & go");
  ASSERT_EQ(first.actions.size(), 2u);
  EXPECT_EQ(first.actions[0], "default");
  EXPECT_EQ(first.expireTimeout, -1);
  EXPECT_EQ(first.hints.at("sound-name"), "s:message-new-instant");
  EXPECT_EQ(first.hints.at("desktop-entry"), "s:com.velmora.Tickwell");
  EXPECT_FALSE(first.hints.count("suppress-sound"));

  const auto& second = calls[1];
  EXPECT_EQ(second.summary, "Eggs");
  EXPECT_EQ(second.hints.at("suppress-sound"), "b:true");
  EXPECT_FALSE(second.hints.count("sound-name"));
}

TEST_F(FreedesktopNotificationCenterTest, ServerReadingMarkupGetsAnEscapedBody) {
  FakeNotificationServer::Options options;
  options.capabilities = {"body", "body-markup", "actions"};
  FakeNotificationServer server(options);
  ASSERT_TRUE(server.ok());
  FreedesktopNotificationCenter center(testOptions());

  center.deliverNotification(notification("timer-1"));
  ASSERT_TRUE(center.waitUntilIdle(5.0));
  ASSERT_EQ(server.calls().size(), 1u);
  EXPECT_EQ(server.calls()[0].body, "this timer has finished\nDrink &lt;it&gt; &amp; go");
}

TEST_F(FreedesktopNotificationCenterTest, SameIdentifierReplacesAndNoIdentifierNeverDoes) {
  FakeNotificationServer server;
  ASSERT_TRUE(server.ok());
  FreedesktopNotificationCenter center(testOptions());

  center.deliverNotification(notification("timer-1"));
  ASSERT_TRUE(center.waitUntilIdle(5.0));
  center.deliverNotification(notification(std::nullopt));  // a tested action
  ASSERT_TRUE(center.waitUntilIdle(5.0));
  center.deliverNotification(notification("timer-1", "Tea again"));
  ASSERT_TRUE(center.waitUntilIdle(5.0));
  center.deliverNotification(notification("timer-2"));
  ASSERT_TRUE(center.waitUntilIdle(5.0));
  center.deliverNotification(notification(std::nullopt));
  ASSERT_TRUE(center.waitUntilIdle(5.0));

  const auto calls = server.calls();
  ASSERT_EQ(calls.size(), 5u);
  const std::uint32_t timer1 = calls[0].id;
  EXPECT_EQ(calls[0].replacesId, 0u);
  EXPECT_EQ(calls[1].replacesId, 0u);
  EXPECT_NE(calls[1].id, timer1);
  EXPECT_EQ(calls[2].replacesId, timer1);
  EXPECT_EQ(calls[2].summary, "Tea again");
  EXPECT_EQ(calls[3].replacesId, 0u);
  EXPECT_EQ(calls[4].replacesId, 0u);
  EXPECT_NE(calls[4].id, calls[1].id);

  // Once the user has closed it, the next one for that identifier is a new notification.
  server.emitNotificationClosed(timer1, 2);
  // The close travels as a signal; a call made after it on the same server is answered after
  // the signal has reached the centre, so wait for such a round trip first.
  center.deliverNotification(notification(std::nullopt));
  ASSERT_TRUE(center.waitUntilIdle(5.0));
  center.deliverNotification(notification("timer-1"));
  ASSERT_TRUE(center.waitUntilIdle(5.0));
  ASSERT_EQ(server.calls().size(), 7u);
  EXPECT_EQ(server.calls()[6].replacesId, 0u);
}

TEST_F(FreedesktopNotificationCenterTest,
       DeliveryForAnIdentifierInFlightWaitsAndKeepsOnlyTheNewest) {
  FakeNotificationServer::Options options;
  options.holdReplies = true;
  FakeNotificationServer server(options);
  ASSERT_TRUE(server.ok());
  FreedesktopNotificationCenter center(testOptions());

  center.deliverNotification(notification("timer-1", "first"));
  ASSERT_TRUE(server.waitForCalls(1));
  center.deliverNotification(notification("timer-1", "second"));
  center.deliverNotification(notification("timer-1", "third"));
  center.deliverNotification(notification(std::nullopt, "untied"));
  ASSERT_TRUE(server.waitForCalls(2));
  EXPECT_FALSE(center.waitUntilIdle(0.2));  // the first answer is still outstanding
  EXPECT_EQ(server.calls().size(), 2u);
  EXPECT_EQ(server.calls()[1].summary, "untied");

  server.releaseReplies();
  ASSERT_TRUE(center.waitUntilIdle(5.0));
  const auto calls = server.calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2].summary, "third");
  EXPECT_EQ(calls[2].replacesId, calls[0].id);
}

TEST_F(FreedesktopNotificationCenterTest, ClickOnOwnNotificationPostsActivatedWithIdentifier) {
  FakeNotificationServer server;
  ASSERT_TRUE(server.ok());
  FreedesktopNotificationCenter center(testOptions());
  std::vector<Dictionary> posted;
  ScopedNotificationToken token = NotificationCenter::defaultCenter()->addObserver(
      UserNotificationActivatedNotification, nullptr, DispatchQueue::main(),
      [&](const Notification& n) { posted.push_back(n.userInfo.value_or(Dictionary{})); });

  auto n = notification("timer-1");
  n.userInfo = Dictionary{{"uuid", Value("timer-1")}};
  center.deliverNotification(n);
  center.deliverNotification(notification(std::nullopt));
  ASSERT_TRUE(center.waitUntilIdle(5.0));
  const auto calls = server.calls();
  ASSERT_EQ(calls.size(), 2u);

  server.emitActionInvoked(calls[0].id + 100, "default");  // not ours
  server.emitActionInvoked(calls[0].id, "snooze");         // not the click
  server.emitActionInvoked(calls[1].id, "default");
  server.emitActionInvoked(calls[0].id, "default");
  ASSERT_TRUE(test::pumpMainUntil([&] { return posted.size() >= 2; }));

  EXPECT_FALSE(posted[0].count(UserNotificationIdentifierKey));
  EXPECT_EQ(posted[1].at(UserNotificationIdentifierKey), Value("timer-1"));
  EXPECT_EQ(posted[1].at(UserNotificationUserInfoKey)["uuid"], Value("timer-1"));
}

TEST_F(FreedesktopNotificationCenterTest, MissingServerIsLoggedOnceAndAServerStartedLaterIsFound) {
  LogCapture capture;
  FreedesktopNotificationCenter center(testOptions());
  for (int i = 0; i < 3; ++i) {
    center.deliverNotification(notification("timer-1"));
    ASSERT_TRUE(center.waitUntilIdle(5.0));
  }
  EXPECT_EQ(linesContaining(capture, "no notification server"), 1u);

  FakeNotificationServer server;
  ASSERT_TRUE(server.ok());
  center.deliverNotification(notification("timer-1"));
  ASSERT_TRUE(center.waitUntilIdle(5.0));
  ASSERT_EQ(server.calls().size(), 1u);
  EXPECT_EQ(server.calls()[0].replacesId, 0u);
}

TEST_F(FreedesktopNotificationCenterTest, ServerThatNeverAnswersDoesNotHoldTheCaller) {
  FakeNotificationServer::Options options;
  options.holdReplies = true;
  FakeNotificationServer server(options);
  ASSERT_TRUE(server.ok());
  LogCapture capture;
  FreedesktopNotificationCenter center(testOptions(0.3));

  center.deliverNotification(notification("timer-1"));
  center.deliverNotification(notification("timer-1", "queued behind it"));
  ASSERT_TRUE(center.waitUntilIdle(5.0));
  EXPECT_EQ(linesContaining(capture, "did not answer in time"), 1u);
}

TEST(FreedesktopNotificationCenterWithoutBus, MissingBusIsLoggedOnceAndNothingBlocks) {
  test::TempDir dir;
  test::ScopedBusAddress address("unix:path=" + (dir.path() / "no-bus").string());
  LogCapture capture;
  FreedesktopNotificationCenter center(testOptions());
  for (int i = 0; i < 3; ++i) {
    center.deliverNotification(notification("timer-1"));
    ASSERT_TRUE(center.waitUntilIdle(5.0));
  }
  EXPECT_EQ(linesContaining(capture, "no session bus"), 1u);
}

}  // namespace
}  // namespace tw
