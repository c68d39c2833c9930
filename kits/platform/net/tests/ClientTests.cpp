// The network client's retry policy against the local kits' web service, with the retry delays on
// a virtual clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <future>
#include <thread>

#include "kits/platform/Tessaly.h"
#include "kits/platform/net/TSYNetworkClient.h"
#include "platform/foundation/Clock.h"
#include "tools/kitservice/KitServiceFixture.h"

namespace {

using tw::test::KitService;

constexpr const char* kSettingsPath =
    "/spi/v2/platforms/mac/apps/com.example.app/settings"
    "?build_version=1&display_version=1.0&instance=abc&source=1";

struct Result {
  std::optional<tw::Data> data;
  std::optional<tw::URLResponse> response;
  tw::ErrorPtr error;
};

KitService::Reply status(int code, std::optional<double> retryAfter = {}, int times = 1) {
  KitService::Reply reply;
  reply.status = code;
  reply.retryAfter = retryAfter;
  reply.times = times;
  return reply;
}

class NetworkClientTest : public ::testing::Test {
 protected:
  tw::URLRequest settingsRequest() {
    tw::URLRequest request;
    request.url = service_.baseURL() + kSettingsPath;
    return request;
  }
  // Starts a data request and lets virtual time run through every retry delay it schedules.
  // `delays` receives each delay the client asked for.
  Result run(const std::shared_ptr<TSYNetworkClient>& client, std::uint64_t limit,
             std::vector<double>* delays = nullptr) {
    std::promise<Result> promise;
    auto future = promise.get_future();
    client->startDataTaskWithRequest(settingsRequest(), limit, [&](auto data, auto r, auto e) {
      promise.set_value(Result{data, r, e});
    });
    const auto stop = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (future.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
      if (std::chrono::steady_clock::now() > stop) {
        ADD_FAILURE() << "no answer";
        return {};
      }
      if (auto deadline = clock_.nextDeadline()) {
        const double wait = *deadline - clock_.monotonic();
        if (delays) delays->push_back(wait);
        clock_.advance(wait);
      }
    }
    return future.get();
  }

  tw::VirtualClock clock_;
  tw::test::ScopedXdg xdg_;
  KitService service_{false};
};

TEST_F(NetworkClientTest, RetryLimitsAndReportedErrors) {
  auto client = TSYNetworkClient::create();
  service_.script(KitService::kSettings, status(503));
  auto exhausted = run(client, 0);
  // A limit of 0 is one attempt and no retry; the count is checked before the outcome is read.
  EXPECT_EQ(service_.requests("settings").size(), 1u);
  ASSERT_TRUE(exhausted.error);
  EXPECT_EQ(exhausted.error->code(), -6);
  EXPECT_EQ(exhausted.error->userInfo().at("retryLimit").unsignedValue(), 0u);
  EXPECT_FALSE(exhausted.response);

  auto ok = run(client, 0);
  EXPECT_FALSE(ok.error);
  EXPECT_EQ(ok.response->statusCode, 200);
  EXPECT_TRUE(ok.data && !ok.data->empty());

  service_.reset();
  service_.script(KitService::kSettings, status(404));
  auto notFound = run(client, 10);
  ASSERT_TRUE(notFound.error);
  EXPECT_EQ(notFound.error->code(), -5);
  EXPECT_EQ(notFound.response->statusCode, 404);
  EXPECT_EQ(service_.requests("settings").size(), 1u);

  service_.reset();
  service_.script(KitService::kSettings, status(503, std::nullopt, -1));
  std::vector<double> delays;
  auto always = run(client, TSYNetworkClient::kDefaultRetryLimit, &delays);
  EXPECT_EQ(service_.requests("settings").size(), 11u);
  ASSERT_TRUE(always.error);
  EXPECT_EQ(always.error->code(), -6);
  EXPECT_EQ(always.error->userInfo().at("retryLimit").unsignedValue(), 10u);
  EXPECT_EQ(*always.error->userInfo().at(tw::NSURLErrorFailingURLStringErrorKey).string(),
            settingsRequest().url);
  ASSERT_EQ(delays.size(), 10u);
  for (std::size_t n = 0; n < delays.size(); ++n) {
    const double base = std::pow(2.0, n == 0 ? 1.0 : static_cast<double>(n));
    EXPECT_GE(delays[n], base * 0.89) << n;
    EXPECT_LE(delays[n], base * 1.11) << n;
  }
}

TEST_F(NetworkClientTest, RetryAfterSetsTheWait) {
  auto client = TSYNetworkClient::create();
  service_.script(KitService::kSettings, status(429, 1));
  std::vector<double> delays;
  auto result = run(client, 10, &delays);
  EXPECT_FALSE(result.error);
  ASSERT_EQ(delays.size(), 1u);
  // The jitter's bounds are single-precision 0.9 and 1.1, a hair either side of the decimals.
  EXPECT_GE(delays[0], 2 * 0.89);
  EXPECT_LE(delays[0], 2 * 1.11);
  EXPECT_EQ(service_.requests("settings").size(), 2u);

  tw::URLResponse threeSeconds{"u", 503, {{"Retry-After", "3"}}};
  EXPECT_DOUBLE_EQ(TSYNetworkClient::computeDelayForResponse(&threeSeconds, 2, 1.05), 9 * 1.05);
  // Never shorter than the server asked, never overflowing, never poisoned.
  tw::URLResponse thirty{"u", 429, {{"Retry-After", "30"}}};
  EXPECT_DOUBLE_EQ(TSYNetworkClient::computeDelayForResponse(&thirty, 0, 0.9), 30);
  EXPECT_EQ(TSYNetworkClient::computeDelayForResponse(&thirty, 1000, 1.1),
            TSYNetworkClient::kMaxRetryDelaySeconds);
  tw::URLResponse huge{"u", 429, {{"Retry-After", "1e300"}}};
  EXPECT_EQ(TSYNetworkClient::computeDelayForResponse(&huge, 5, 1.0),
            TSYNetworkClient::kMaxRetryAfterSeconds);
  tw::URLResponse notFinite{"u", 429, {{"Retry-After", "nan"}}};
  EXPECT_DOUBLE_EQ(TSYNetworkClient::computeDelayForResponse(&notFinite, 0, 1.0), 2.0);
  for (int i = 0; i < 100; ++i) {
    const double jitter = TSYNetworkClient::generateRandomJitter();
    EXPECT_GE(jitter, 0.8999999761581421);
    EXPECT_LT(jitter, 1.100000023841858);
  }
}

TEST_F(NetworkClientTest, InvalidatedClientReportsNoTask) {
  auto client = TSYNetworkClient::create();
  client->invalidateAndCancel();
  auto result = run(client, 10);
  EXPECT_EQ(result.error->code(), -3);
  EXPECT_EQ(result.error->domain(), "TSYNetworkError");
}

}  // namespace

// The pinned client over TLS: its own roots decide, unless the registry's debug flag defers to
// the system's trust.
TEST(NetworkClientTrust, DebugDefersToSystemTrust) {
  tw::test::ScopedXdg xdg;
  KitService service(true);
  tw::test::TempDir dir;
  auto der = dir.path() / "other.der";
  std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
      "-nodes -keyout " +
      (dir.path() / "k").string() + " -out " + der.string() +
      " -outform DER -subj /CN=Other -days 2 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  auto load = [](const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    return TSYCertificatePinner::createCertificationWithData(bytes.data(), bytes.size());
  };
  MVXURLSession::setSystemTrustFileForTesting(service.caFile());
  auto fetch = [&](const std::shared_ptr<TSYNetworkClient>& client) {
    std::promise<tw::ErrorPtr> promise;
    tw::URLRequest request;
    request.url = service.baseURL() + kSettingsPath;
    client->startDataTaskWithRequest(request, 0, [&](auto, auto, auto e) { promise.set_value(e); });
    return promise.get_future().get();
  };
  auto pinnedToOther = TSYNetworkClient::createWithQueue(nullptr, std::vector{load(der)});
  auto pinnedToTest =
      TSYNetworkClient::createWithQueue(nullptr, std::vector{load(service.caDerFile())});
  ASSERT_TRUE(pinnedToOther->certPinner());
  EXPECT_FALSE(fetch(pinnedToTest));
  EXPECT_EQ(fetch(pinnedToOther)->code(), -6);  // the cancelled challenge is retryable
  Tessaly::sharedSDK()->setDebug(true);
  EXPECT_FALSE(fetch(TSYNetworkClient::createWithQueue(nullptr, std::vector{load(der)})));
  Tessaly::sharedSDK()->setDebug(false);
  MVXURLSession::setSystemTrustFileForTesting({});
}
