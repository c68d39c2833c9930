// The updater against a loopback HTTP feed of the test's own (never the network): no feed means
// no request and no date; a feed's answer records the date and tells of a newer version; broken
// answers are told as failures. Also the automatic launch check's once-a-day rule, the version
// order, and opening an address with the desktop's handler (a handler of the test's own in the
// private XDG folders).

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/desktop/DM_SUUpdater.h"
#include "platform/desktop/DesktopURL.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/testsupport/TestSupport.h"

namespace {

namespace fs = std::filesystem;

// Answers every request on a loopback port with the same status and body; records the paths.
class LoopbackFeed {
 public:
  LoopbackFeed(int status, std::string body) : status_(status), body_(std::move(body)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, 4) != 0) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~LoopbackFeed() {
    stopping_ = true;
    if (fd_ >= 0) {
      ::shutdown(fd_, SHUT_RDWR);
      ::close(fd_);
    }
    if (thread_.joinable()) thread_.join();
  }
  std::string url(const std::string& path = "/feed.json") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<std::string> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void serve() {
    while (!stopping_) {
      const int client = ::accept(fd_, nullptr, nullptr);
      if (client < 0) return;
      std::string request;
      char buffer[1024];
      while (request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n <= 0) break;
        request.append(buffer, static_cast<size_t>(n));
      }
      {
        std::lock_guard lock(mutex_);
        std::istringstream line(request);
        std::string method, path;
        line >> method >> path;
        requests_.push_back(path);
      }
      const std::string reply = "HTTP/1.1 " + std::to_string(status_) +
                                " X\r\nContent-Type: application/json\r\nContent-Length: " +
                                std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" +
                                body_;
      // The client may hang up early (a feed too large): no SIGPIPE for that.
      (void)::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
      ::close(client);
    }
  }

  int status_;
  std::string body_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

class Replies : public DM_SUUpdaterDelegate {
 public:
  void updaterShowMessage(DM_SUUpdater&, const std::string& title,
                          const std::string& message) override {
    titles.push_back(title);
    messages.push_back(message);
  }
  std::vector<std::string> titles, messages;
};

class UpdaterTest : public ::testing::Test {
 protected:
  std::shared_ptr<DM_SUUpdater> make(const std::string& feed) {
    auto updater =
        std::make_shared<DM_SUUpdater>(DM_SUUpdater::Options{feed, "1.4", "Tickwell"}, defaults_);
    updater->setDelegate(replies_);
    return updater;
  }
  bool finish(DM_SUUpdater& updater) {
    return tw::test::pumpMainUntil([&] { return !updater.isCheckingForUpdates(); }, 10);
  }

  tw::test::TempDir dir_;
  tw::UserDefaults defaults_{dir_.path() / "defaults.plist"};
  std::shared_ptr<Replies> replies_ = std::make_shared<Replies>();
};

TEST_F(UpdaterTest, WithoutAFeedNothingIsFetchedAndTheUserIsPointedToThePackageManager) {
  auto updater = make("");
  EXPECT_FALSE(updater->automaticallyChecksForUpdates());
  EXPECT_EQ(updater->valueForKey("lastUpdateCheckDate"), tw::Value());
  updater->checkForUpdates();
  EXPECT_FALSE(updater->isCheckingForUpdates());
  EXPECT_EQ(replies_->titles, std::vector<std::string>{"Updates come from your package manager"});
  EXPECT_FALSE(updater->lastUpdateCheckDate().has_value());
  // A check nobody asked for says nothing.
  updater->checkForUpdatesInBackground();
  EXPECT_EQ(replies_->titles.size(), 1u);
}

TEST_F(UpdaterTest, AnsweredChecksRecordTheDateAndTellOfANewerVersion) {
  LoopbackFeed newer(200, R"({"version": "1.10", "url": "https://example.invalid/get"})");
  auto updater = make(newer.url());
  bool heard = false;
  auto observation = updater->observeScoped("lastUpdateCheckDate", tw::KVONew,
                                            [&](const tw::KeyValueChange&) { heard = true; });
  const double before = tw::clock::wallNow();
  updater->checkForUpdatesInBackground();
  ASSERT_TRUE(finish(*updater));
  EXPECT_EQ(newer.requests(), std::vector<std::string>{"/feed.json"});
  ASSERT_TRUE(updater->lastUpdateCheckDate().has_value());
  EXPECT_GE(updater->lastUpdateCheckDate()->secondsSince1970, before);
  EXPECT_TRUE(heard);
  ASSERT_EQ(replies_->titles, std::vector<std::string>{"Tickwell 1.10 is available"});
  EXPECT_NE(replies_->messages[0].find("https://example.invalid/get"), std::string::npos);

  // The same version: only a check the user asked for says so.
  LoopbackFeed same(200, R"({"version": "1.4"})");
  auto current = make(same.url());
  current->checkForUpdatesInBackground();
  ASSERT_TRUE(finish(*current));
  EXPECT_EQ(replies_->titles.size(), 1u);
  current->checkForUpdates();
  ASSERT_TRUE(finish(*current));
  EXPECT_EQ(replies_->titles.back(), "You're up to date!");
}

TEST_F(UpdaterTest, FailedChecksRecordNoDate) {
  for (const auto& [status, body] : std::vector<std::pair<int, std::string>>{
           {200, "not json"},
           {200, R"({"url": "x"})"},
           {200, "[1]"},
           {404, "{}"},
           {200, std::string(DM_SUUpdater::kMaximumFeedBytes + 10, ' ')}}) {
    SCOPED_TRACE(status);
    LoopbackFeed feed(status, body);
    replies_->titles.clear();
    auto updater = make(feed.url());
    updater->checkForUpdates();
    ASSERT_TRUE(finish(*updater));
    EXPECT_EQ(replies_->titles, std::vector<std::string>{"Update check failed"});
    EXPECT_FALSE(updater->lastUpdateCheckDate().has_value());
  }
  // A feed that cannot be reached is told with its address, so the user can try it elsewhere.
  std::string closed;
  {
    LoopbackFeed gone(200, "{}");
    closed = gone.url();
  }
  replies_->titles.clear();
  auto unreachable = make(closed);
  unreachable->checkForUpdates();
  ASSERT_TRUE(finish(*unreachable));
  EXPECT_EQ(replies_->titles, std::vector<std::string>{"Update check failed"});
  EXPECT_EQ(replies_->messages.back().rfind("Tickwell could not reach " + closed + ": ", 0), 0u)
      << replies_->messages.back();
  // Plain http off the loopback interface is refused without a request.
  replies_->titles.clear();
  auto remote = make("http://203.0.113.1/feed.json");
  remote->checkForUpdates();
  EXPECT_FALSE(remote->isCheckingForUpdates());
  EXPECT_EQ(replies_->titles, std::vector<std::string>{"Update check failed"});
}

TEST_F(UpdaterTest, AutomaticCheckRunsAtLaunchAtMostOnceADayWhenOn) {
  LoopbackFeed feed(200, R"({"version": "1.0"})");
  auto updater = make(feed.url());
  EXPECT_FALSE(updater->checkAtLaunchIfDue()) << "off by default";
  updater->setValueForKey(tw::Value(true), "automaticallyChecksForUpdates");
  EXPECT_TRUE(defaults_.boolForKey(DM_SUUpdater::kAutomaticChecksDefaultsKey));
  EXPECT_TRUE(updater->checkAtLaunchIfDue()) << "never checked";
  ASSERT_TRUE(finish(*updater));
  EXPECT_FALSE(updater->checkAtLaunchIfDue()) << "checked moments ago";
  defaults_.setObject(tw::Value(tw::Date{tw::clock::wallNow() - 86401}),
                      DM_SUUpdater::kLastCheckDefaultsKey);
  EXPECT_TRUE(updater->checkAtLaunchIfDue());
  ASSERT_TRUE(finish(*updater));
  EXPECT_EQ(feed.requests().size(), 2u);
  EXPECT_TRUE(replies_->titles.empty()) << "nothing newer, nothing said";
}

TEST(UpdaterVersions, OrderNumericallyPartByPart) {
  EXPECT_EQ(DM_SUUpdater::compareVersions("1.10", "1.9"), 1);
  EXPECT_EQ(DM_SUUpdater::compareVersions("1.0", "1"), 0);
  EXPECT_EQ(DM_SUUpdater::compareVersions("1.0.1", "1.0"), 1);
  EXPECT_EQ(DM_SUUpdater::compareVersions("2.0b1", "2.0b2"), -1);
  EXPECT_EQ(DM_SUUpdater::compareVersions("99999999999999999999", "1"), 1);
  EXPECT_TRUE(DM_SUUpdater::isAllowedFeedURL("https://updates.example/feed"));
  EXPECT_TRUE(DM_SUUpdater::isAllowedFeedURL("http://localhost:8080/feed"));
  EXPECT_FALSE(DM_SUUpdater::isAllowedFeedURL("http://127.0.0.1.example/feed"));
  EXPECT_FALSE(DM_SUUpdater::isAllowedFeedURL("http://user@127.0.0.1/feed"));
  EXPECT_FALSE(DM_SUUpdater::isAllowedFeedURL("ftp://127.0.0.1/feed"));
}

TEST(DesktopURL, OpensWithTheDesktopsHandlerAndRefusesBadAddresses) {
  const fs::path data = std::getenv("XDG_DATA_HOME");
  const fs::path config = std::getenv("XDG_CONFIG_HOME");
  const fs::path out = data / "opened.txt";
  fs::create_directories(data / "applications");
  fs::create_directories(config);
  std::ofstream(data / "applications" / "tw-test-opener.desktop")
      << "[Desktop Entry]\nType=Application\nName=Opener\nExec=sh -c 'echo \"$1\" > "
      << out.string() << "' sh %u\nMimeType=x-scheme-handler/twtest;\n";
  std::ofstream(config / "mimeapps.list")
      << "[Default Applications]\nx-scheme-handler/twtest=tw-test-opener.desktop\n";

  EXPECT_FALSE(tw::openURLWithDefaultHandler(""));
  EXPECT_FALSE(tw::openURLWithDefaultHandler("not an address"));
  std::string reason;
  EXPECT_FALSE(tw::openURLWithDefaultHandler("twnohandler:x", &reason));
  EXPECT_FALSE(reason.empty()) << "the caller learns why, to tell the user";
  ASSERT_TRUE(tw::openURLWithDefaultHandler("twtest:feedback?from=tickwell", &reason));
  EXPECT_TRUE(reason.empty());
  std::string opened;
  for (int n = 0; n < 100 && opened.empty(); ++n) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(out);
    std::getline(in, opened);
  }
  EXPECT_EQ(opened, "twtest:feedback?from=tickwell");
}

}  // namespace
