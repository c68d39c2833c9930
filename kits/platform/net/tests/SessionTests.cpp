// The kits' URL session against the local kits' web service: requests as sent, streamed
// uploads, downloads, failures mapped to URL errors, cancellation and the TLS trust decisions.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include <openssl/x509.h>

#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/net/MVXURLSession.h"
#include "kits/platform/net/TSYCertificatePinner.h"
#include "kits/platform/net/TSYMultipartMimeStreamEncoder.h"
#include "kits/platform/net/TSYPinnedCertificates.h"
#include "platform/foundation/Paths.h"
#include "platform/testsupport/TestSupport.h"
#include "tools/kitservice/KitServiceFixture.h"

namespace {

using tw::test::eventually;
using tw::test::KitService;

constexpr const char* kSettingsPath =
    "/spi/v2/platforms/mac/apps/com.example.app/settings"
    "?build_version=1&display_version=1.0&instance=abc&source=1";

KitService::Reply dropReply() {
  KitService::Reply r;
  r.dropConnection = true;
  return r;
}
KitService::Reply hangReply() {
  KitService::Reply r;
  r.hang = true;
  return r;
}

struct Outcome {
  tw::Data data;
  std::optional<tw::URLResponse> response;
  tw::ErrorPtr error;
  std::optional<std::filesystem::path> file;
  bool fileExisted = false;
  int calls = 0;
};

// Collects one task's completion; waits with a real-time bound. Each handler it gives out holds
// a share of `held_`: once the session has let go of every one, it can call none of them again,
// so a second completion would have come by then.
class Completion {
 public:
  MVXURLSession::DataCompletion data() {
    return [this, held = held()](const tw::Data& d, const std::optional<tw::URLResponse>& r,
                                 tw::ErrorPtr e) {
      record(Outcome{d, r, std::move(e), std::nullopt, false, 0});
    };
  }
  MVXURLSession::DownloadCompletion download() {
    return [this, held = held()](const std::optional<std::filesystem::path>& f,
                                 const std::optional<tw::URLResponse>& r, tw::ErrorPtr e) {
      const bool exists = f && std::filesystem::exists(*f);
      record(Outcome{{}, r, std::move(e), f, exists, 0});
    };
  }
  Outcome wait(double seconds = 10) {
    EXPECT_EQ(future_.wait_for(std::chrono::duration<double>(seconds)), std::future_status::ready);
    auto outcome = future_.get();
    EXPECT_TRUE(eventually([this] { return held_.expired(); }, seconds))
        << "the session kept the completion handler";
    EXPECT_EQ(calls_, 1) << "completed more than once";
    outcome.calls = calls_;
    return outcome;
  }

 private:
  std::shared_ptr<int> held() {
    auto share = held_.lock();
    if (!share) {
      share = std::make_shared<int>(0);
      held_ = share;
    }
    return share;
  }
  void record(Outcome outcome) {
    if (++calls_ == 1) promise_.set_value(std::move(outcome));
  }
  std::promise<Outcome> promise_;
  std::future<Outcome> future_ = promise_.get_future();
  std::atomic<int> calls_{0};
  std::weak_ptr<int> held_;
};

std::shared_ptr<MVXURLSession> makeSession(
    const std::shared_ptr<MVXURLSessionDelegate>& delegate = nullptr,
    const std::function<void(MVXURLSessionConfiguration&)>& configure = {}) {
  auto configuration = MVXURLSessionConfiguration::defaultSessionConfiguration();
  if (configure) configure(*configuration);
  return MVXURLSession::sessionWithConfiguration(configuration, delegate, nullptr);
}

tw::URLRequest get(const KitService& service, const std::string& path) {
  tw::URLRequest request;
  request.url = service.baseURL() + path;
  return request;
}

// Trusts the test CA as the system would, for the length of a test.
struct SystemTrustsTestCA {
  explicit SystemTrustsTestCA(const KitService& service) {
    MVXURLSession::setSystemTrustFileForTesting(service.caFile());
  }
  ~SystemTrustsTestCA() { MVXURLSession::setSystemTrustFileForTesting({}); }
};

TEST(URLSession, SendsRequestsAsGivenAndReturnsReplies) {
  KitService service(false);
  auto session = makeSession(nullptr, [](auto& c) {
    c.HTTPAdditionalHeaders = {{"X-Morvex-Developer-Token", "configured"}, {"X-Extra", "1"}};
  });
  auto request = get(service, kSettingsPath);
  request.setValue("application/json", "Accept");
  request.setValue("given", "X-Morvex-Developer-Token");
  Completion done;
  auto task = session->dataTaskWithRequest(request, done.data());
  ASSERT_TRUE(task);
  task->resume();
  auto outcome = done.wait();
  EXPECT_EQ(outcome.calls, 1);
  ASSERT_FALSE(outcome.error) << outcome.error->localizedDescription();
  EXPECT_EQ(outcome.response->statusCode, 200);
  EXPECT_EQ(*outcome.response->valueForHTTPHeaderField("content-type"), "application/json");
  EXPECT_NE(std::string(outcome.data.begin(), outcome.data.end()).find("\"features\""),
            std::string::npos);

  auto logged = service.requests("settings");
  ASSERT_EQ(logged.size(), 1u);
  const auto& headers = logged[0]["headers"];
  EXPECT_EQ(*headers["X-Morvex-Developer-Token"].string(), "given, configured");
  EXPECT_EQ(*headers["X-Extra"].string(), "1");
  EXPECT_EQ(*headers["Accept"].string(), "application/json");
  EXPECT_TRUE(headers["Expect"].isNull());
  EXPECT_EQ(*logged[0]["query"]["instance"].string(), "abc");
}

TEST(URLSession, UploadsStreamFromFileWithExactLength) {
  KitService service(false);
  tw::test::TempDir dir;
  auto part = dir.path() / "part.bin";
  {
    std::ofstream out(part, std::ios::binary);
    for (int i = 0; i < 3 * 1024 * 1024; ++i) out.put(static_cast<char>(i * 7));
  }
  auto body = dir.path() / "body";
  auto stream = std::make_shared<tw::FileOutputStream>(body);
  TSYMultipartMimeStreamEncoder encoder(stream, std::nullopt);
  ASSERT_TRUE(encoder.encode([&](auto& e) {
    e.addValue(std::string("com.example.app"), "app[identifier]");
    e.addFile(part, "part.bin", std::string("application/octet-stream"), "app[icon][data]");
  }));
  auto request = get(service, "/spi/v1/platforms/mac/apps");
  request.method = "POST";
  request.setValue(encoder.contentTypeHTTPHeaderValue(), "Content-Type");
  request.setValue("1", "Content-Length");  // wrong on purpose: the file's size goes out
  Completion done;
  auto session = makeSession();
  session->uploadTaskWithRequest(request, body, done.data())->resume();
  auto outcome = done.wait(30);
  ASSERT_FALSE(outcome.error) << outcome.error->localizedDescription();

  auto logged = service.requests("create");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(static_cast<std::uint64_t>(logged[0]["body_length"].integerValue()), encoder.length());
  EXPECT_EQ(*logged[0]["headers"]["Content-Length"].string(), std::to_string(encoder.length()));
  EXPECT_TRUE(logged[0]["headers"]["Transfer-Encoding"].isNull());
  ASSERT_EQ(logged[0]["parts"].count(), 2u) << logged[0];
  EXPECT_EQ(logged[0]["parts"].at(1)["length"].integerValue(), 3 * 1024 * 1024);
}

TEST(URLSession, DownloadFileLivesForTheHandlerOnly) {
  KitService service(false);
  Completion done;
  auto session = makeSession();
  session->downloadTaskWithRequest(get(service, kSettingsPath), done.download())->resume();
  auto outcome = done.wait();
  ASSERT_FALSE(outcome.error);
  ASSERT_TRUE(outcome.file);
  EXPECT_TRUE(outcome.fileExisted);
  EXPECT_FALSE(std::filesystem::exists(*outcome.file));

  // A file that cannot take the whole reply (the file size limit cuts the writes short) fails
  // the task and is removed; a short file is never handed over as the download.
  constexpr std::size_t kBody = std::size_t{256} << 10;
  KitService::Reply big;
  big.body = std::string(kBody, 'x');
  service.script(KitService::kSettings, big);
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = rlim_t{64} << 10;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::uintmax_t size = 0;
  Completion cut;
  session
      ->downloadTaskWithRequest(
          get(service, kSettingsPath),
          [&, forward = cut.download()](const std::optional<std::filesystem::path>& f,
                                        const std::optional<tw::URLResponse>&, tw::ErrorPtr e) {
            std::error_code ec;
            if (f) size = std::filesystem::file_size(*f, ec);
            forward(f, std::nullopt, std::move(e));
          })
      ->resume();
  auto shortened = cut.wait();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  if (shortened.error) {
    EXPECT_EQ(shortened.error->domain(), MVXURLSessionDownloadTaskErrorDomain);
    EXPECT_FALSE(shortened.file);
  } else {
    EXPECT_EQ(size, kBody);
  }
  EXPECT_EQ(service.requests("settings").size(), 2u);
}

// Downloads are written in the kits' cache folder of this application, and what a killed process
// left there goes when a session is made (a running download's file stays). One write that fails
// among writes that succeed fails the task: a file with a hole is never handed over.
TEST(URLSession, DownloadsLiveInTheKitsCacheAndOneFailedWriteFailsTheTask) {
  KitService service(false);
  const auto dir = MVXURLSessionDownloadTask::downloadsDirectory();
  EXPECT_EQ(dir.parent_path().parent_path(), tw::paths::cacheHome() / "com.morvex.data");
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "download-left-by-a-kill") << "part";
  auto session = makeSession();
  EXPECT_FALSE(std::filesystem::exists(dir / "download-left-by-a-kill"));

  KitService::Reply big;
  big.body = std::string(std::size_t{512} << 10, 'x');
  service.script(KitService::kSettings, big);
  std::atomic<int> writes{0};
  std::filesystem::path during;
  MVXURLSessionDownloadTask::setDownloadWriteForTesting(
      [&](const char* bytes, std::size_t length, std::FILE* file) -> std::size_t {
        if (++writes == 2) {
          // Meanwhile a session made elsewhere leaves the running download alone.
          makeSession();
          for (const auto& entry : std::filesystem::directory_iterator(dir)) during = entry.path();
          return 0;
        }
        return std::fwrite(bytes, 1, length, file);
      });
  Completion done;
  session->downloadTaskWithRequest(get(service, kSettingsPath), done.download())->resume();
  auto outcome = done.wait();
  MVXURLSessionDownloadTask::setDownloadWriteForTesting({});
  EXPECT_EQ(during.parent_path(), dir);
  ASSERT_TRUE(outcome.error);
  EXPECT_FALSE(outcome.file);
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

// Once its transfers are done the session's thread sleeps until it is given work: a desktop
// program that keeps a session open must not wake every second for it.
TEST(URLSession, AnIdleSessionWakesNoThreadAndStillTakesNewWork) {
  auto threads = [] {
    std::map<pid_t, long> switches;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
      std::ifstream status(task.path() / "status");
      std::string line;
      while (std::getline(status, line))
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
          switches[std::stoi(task.path().filename().string())] = std::stol(line.substr(24));
    }
    return switches;
  };
  KitService service(false);
  const auto earlier = threads();
  auto session = makeSession();
  Completion first;
  session->dataTaskWithRequest(get(service, kSettingsPath), first.data())->resume();
  ASSERT_FALSE(first.wait().error);
  // The session's own threads: those the test had not before it made the session.
  auto sessionThreads = [&] {
    auto all = threads();
    for (auto it = all.begin(); it != all.end();)
      it = earlier.count(it->first) ? all.erase(it) : std::next(it);
    return all;
  };
  // The transfer's last hand-offs may still run just after its completion: the idle time starts
  // once those threads have not switched for half a second (on a loaded machine a hand-off can
  // come later than a shorter pause).
  auto before = sessionThreads();
  ASSERT_TRUE(eventually(
      [&] {
        auto now = sessionThreads();
        const bool quiet = now == before;
        before = std::move(now);
        return quiet;
      },
      15.0, 0.5));
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  const auto after = sessionThreads();
  long woke = 0;
  for (const auto& [tid, n] : after)
    if (before.count(tid)) woke += n - before.at(tid);
  EXPECT_EQ(woke, 0) << "the idle session's threads woke";

  Completion second;
  session->dataTaskWithRequest(get(service, kSettingsPath), second.data())->resume();
  const auto outcome = second.wait();
  ASSERT_FALSE(outcome.error) << outcome.error->localizedDescription();
  EXPECT_EQ(outcome.response->statusCode, 200);
}

TEST(URLSession, FailuresMapToURLErrorsAndCompleteOnce) {
  KitService service(false);
  auto session = makeSession();
  auto run = [&](const tw::URLRequest& request) {
    Completion done;
    auto task = session->dataTaskWithRequest(request, done.data());
    task->resume();
    return done.wait();
  };
  service.script(KitService::kSettings, dropReply());
  auto dropped = run(get(service, kSettingsPath));
  EXPECT_EQ(dropped.error->code(), tw::NSURLErrorNetworkConnectionLost);
  EXPECT_EQ(dropped.calls, 1);

  service.script(KitService::kSettings, hangReply());
  auto hung = get(service, kSettingsPath);
  hung.timeoutInterval = 1;
  auto timedOut = run(hung);
  EXPECT_EQ(timedOut.error->code(), tw::NSURLErrorTimedOut);
  EXPECT_FALSE(timedOut.response);

  tw::URLRequest refused;
  refused.url = "http://127.0.0.1:1/";
  EXPECT_EQ(run(refused).error->code(), tw::NSURLErrorCannotConnectToHost);
  refused.url = "ftp://127.0.0.1/x";
  EXPECT_EQ(run(refused).error->code(), tw::NSURLErrorUnsupportedURL);
  refused.url = "http://exa mple/";
  EXPECT_EQ(run(refused).error->code(), tw::NSURLErrorBadURL);
  EXPECT_EQ(run(refused).error->domain(), tw::NSURLErrorDomain);
}

TEST(URLSession, CancelFromAnotherThreadAndInvalidation) {
  KitService service(false);
  auto session = makeSession();
  service.script(KitService::kSettings, hangReply());
  Completion done;
  auto task = session->dataTaskWithRequest(get(service, kSettingsPath), done.data());
  task->resume();
  std::promise<MVXURLSession::TaskLists> listed;
  session->getTasksWithCompletionHandler([&](const auto& lists) { listed.set_value(lists); });
  EXPECT_EQ(listed.get_future().get().dataTasks.size(), 1u);
  std::thread([task] { task->cancel(); }).join();
  auto outcome = done.wait();
  EXPECT_EQ(outcome.error->code(), tw::NSURLErrorCancelled);
  EXPECT_EQ(outcome.calls, 1);
  task->cancel();  // a finished task stays finished

  Completion never;
  auto suspended = session->dataTaskWithRequest(get(service, kSettingsPath), never.data());
  session->invalidateAndCancel();
  EXPECT_EQ(never.wait().error->code(), tw::NSURLErrorCancelled);
  EXPECT_FALSE(session->dataTaskWithRequest(get(service, kSettingsPath)));
  EXPECT_FALSE(MVXURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier("x"));
  EXPECT_FALSE(MVXURLSession::NSURLSessionShouldBeUsed());
  EXPECT_FALSE(MVXURLSession::sessionWithConfiguration(nullptr));
}

// A delegate that settles trust challenges with a pinner, or hands them to default handling.
class PinningDelegate : public MVXURLSessionDelegate {
 public:
  explicit PinningDelegate(std::shared_ptr<TSYCertificatePinner> pinner)
      : pinner_(std::move(pinner)) {}
  bool implementsDidReceiveChallenge() const override { return true; }
  void URLSessionDidReceiveChallenge(const std::shared_ptr<MVXURLSession>& session,
                                     const tw::URLAuthenticationChallenge& challenge,
                                     const tw::ChallengeCompletionHandler& handler) override {
    ++challenges;
    if (!pinner_) {
      handler(tw::URLSessionAuthChallengeDisposition::PerformDefaultHandling, nullptr);
    } else {
      pinner_->handleChallenge(challenge, session, handler);
    }
  }
  std::atomic<int> challenges{0};

 private:
  std::shared_ptr<TSYCertificatePinner> pinner_;
};

std::shared_ptr<tw::Certificate> certificateFromFile(const std::filesystem::path& der) {
  std::ifstream in(der, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  return TSYCertificatePinner::createCertificationWithData(bytes.data(), bytes.size());
}

std::shared_ptr<tw::Certificate> otherCA(const tw::test::TempDir& dir) {
  auto der = dir.path() / "other.der";
  std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
      "-nodes -keyout " +
      (dir.path() / "other.key").string() + " -out " + der.string() +
      " -outform DER -subj /CN=Other -days 2 2>/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
  return certificateFromFile(der);
}

tw::ErrorPtr fetch(const std::shared_ptr<MVXURLSession>& session, const KitService& service) {
  Completion done;
  session->dataTaskWithRequest(get(service, kSettingsPath), done.data())->resume();
  return done.wait().error;
}

TEST(URLSessionTrust, PinnedRootsDecideAndCancelledChallengesFail) {
  KitService service(true);
  tw::test::TempDir dir;
  auto testCA = certificateFromFile(service.caDerFile());
  ASSERT_TRUE(testCA);
  auto other = otherCA(dir);
  ASSERT_TRUE(other);

  // The system does not know the test CA: without a delegate the chain is untrusted.
  EXPECT_EQ(fetch(makeSession(), service)->code(), tw::NSURLErrorServerCertificateUntrusted);

  // Pinned to the test CA: accepted without any system trust, once per connection.
  auto pinned = std::make_shared<PinningDelegate>(
      std::make_shared<TSYCertificatePinner>(std::vector{other, testCA}));
  auto pinnedSession = makeSession(pinned);
  EXPECT_FALSE(fetch(pinnedSession, service));
  EXPECT_FALSE(fetch(pinnedSession, service));
  EXPECT_GE(pinned->challenges.load(), 1);

  SystemTrustsTestCA systemTrust(service);
  EXPECT_FALSE(fetch(makeSession(), service));
  // Pinned to another CA: cancelled although the system trusts the chain.
  auto wrong =
      std::make_shared<PinningDelegate>(std::make_shared<TSYCertificatePinner>(std::vector{other}));
  EXPECT_EQ(fetch(makeSession(wrong), service)->code(), tw::NSURLErrorCancelled);
  // Default handling defers to the system's trust.
  EXPECT_FALSE(fetch(makeSession(std::make_shared<PinningDelegate>(nullptr)), service));
  // No pinned roots at all: the verdict is invalid, the challenge cancelled.
  auto empty = std::make_shared<PinningDelegate>(
      std::make_shared<TSYCertificatePinner>(std::vector<std::shared_ptr<tw::Certificate>>{}));
  EXPECT_EQ(fetch(makeSession(empty), service)->code(), tw::NSURLErrorCancelled);
}

TEST(URLSessionTrust, CertificatesFromBadBytesAreRefused) {
  const std::uint8_t junk[] = {0x30, 0x82, 0x01, 0x00, 0x02};
  EXPECT_FALSE(TSYCertificatePinner::createCertificationWithData(junk, sizeof junk));
  EXPECT_FALSE(TSYCertificatePinner::createCertificationWithData(nullptr, 10));
}

}  // namespace

namespace {

// The product's pinned roots: the named certificates, byte for byte (their published SHA-256
// fingerprints), in their order.
TEST(PinnedCertificates, AreTheEightNamedRootsInOrder) {
  const struct {
    std::size_t length;
    const char* sha256;
  } expected[] = {
      {1082, "687fa451382278fff0c8b11f8d43d576671c6eb2bceab413fb83d965d06d2ff2"},
      {1173, "73c176434f1bc6d5adf45b0e76e727287c8de57616c1e6e6141a2b2cbc7d8e4c"},
      {969, "7431e5f4c3c1ce4690774f0b61e05440883ba9a01ed00ba6abd7806ed3b118cf"},
      {1239, "9acfab7e43c8d880d06b262a94deeee4b4659989c3d0caf19baf6405e41ab7df"},
      {1054, "cbb5af185e942a2402f9eacbc0ed5bb876eea3c1223623d00447e4f3ba554b65"},
      {1053, "92a9d9833fe1944db366e8bfae7a95b6480c2d6c6c2a1be65d4236b608fca1bb"},
      {1054, "eb04cf5eb1f39afa762f2bb120f296cba520c1b97db1589565b81cb9a17b7244"},
      {1054, "e389360d0fdbaeb3d250584b4730314e222f39c156a020144e8d960561791506"},
  };
  const auto& pinned = TSYPinnedCertificates();
  ASSERT_EQ(pinned.size(), 8u);
  EXPECT_EQ(&pinned, &TSYPinnedCertificates());  // made once
  for (std::size_t i = 0; i < pinned.size(); ++i) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(pinned[i]->x509(), &der);
    ASSERT_GT(length, 0);
    EXPECT_EQ(static_cast<std::size_t>(length), expected[i].length) << i;
    EXPECT_EQ(TSYSHA256HexStringForBytes(der, static_cast<std::size_t>(length)), expected[i].sha256)
        << i;
    OPENSSL_free(der);
  }
}

}  // namespace
