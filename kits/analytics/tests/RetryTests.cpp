#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kits/analytics/ORVNetworkRetryHandler.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"

namespace tw::test {
namespace {

URLResponse reply(long status, std::optional<std::string> retryAfter = std::nullopt) {
  URLResponse r;
  r.url = "http://127.0.0.1/spi/v2/events";
  r.statusCode = status;
  if (retryAfter) r.headers.push_back({"Retry-After", *retryAfter});
  return r;
}

TEST(AnalyticsBackoff, DelaysGrowWithJitterAndStayBounded) {
  ORVBackoffTimer t;
  for (int i = 0; i < 200; ++i) {
    double d1 = t.computeDelayForInitialValue(0.0, 0);  // below 2 counts as 2; count 0 as 1
    EXPECT_GE(d1, 1.8 - 1e-6);
    EXPECT_LT(d1, 2.2);
    double d3 = t.computeDelayForInitialValue(30.0, 3);
    EXPECT_GE(d3, 27000 * 0.9);
    EXPECT_LT(d3, 27000 * 1.1);
  }
  EXPECT_EQ(t.computeDelayForInitialValue(1e300, 50), ORVBackoffTimer::kMaximumDelay);
  EXPECT_EQ(t.computeDelayForInitialValue(2.0, std::numeric_limits<std::uint64_t>::max()),
            ORVBackoffTimer::kMaximumDelay);
  double nanBase = t.computeDelayForInitialValue(std::nan(""), 1);
  EXPECT_GE(nanBase, 1.8 - 1e-6);
  EXPECT_LT(nanBase, 2.2);
  EXPECT_EQ(ORVBackoffTimer::kDefaultJitter, 0.10000000149011612);
  EXPECT_THROW(ORVBackoffTimer(2.0, 1.0), tw::Exception);
  EXPECT_THROW(ORVBackoffTimer(2.0, -0.1), tw::Exception);
}

TEST(AnalyticsRetry, RetriesRunAfterTheBackoffOnTheMainQueue) {
  VirtualClock clock;
  ORVNetworkRetryHandler handler(nullptr);
  URLRequest request;
  request.url = "http://127.0.0.1/spi/v2/events";
  auto r = reply(503);
  int calls = 0;
  bool lastRetry = false;
  handler.handleCompletedRequest(request, &r, "B1", nullptr, [&](bool retry, const ErrorPtr&) {
    ++calls;
    lastRetry = retry;
    EXPECT_TRUE(DispatchQueue::main()->isCurrent());
  });
  EXPECT_EQ(calls, 0);
  clock.advance(1.79);
  EXPECT_EQ(calls, 0);
  clock.advance(0.42);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(lastRetry);
  EXPECT_EQ(handler.retryTimerMap().at("B1")->retryCount(), 1u);

  // Used up: eleven retries pass (counts 0..10), the twelfth failure is final (the classifier's
  // error stands in for -6) and the identifier's timer is dropped.
  ErrorPtr finalError;
  for (int i = 1; i <= 11; ++i) {
    handler.handleCompletedRequest(request, &r, "B1", nullptr, [&](bool retry, const ErrorPtr& e) {
      ++calls;
      lastRetry = retry;
      finalError = e;
    });
    clock.advance(ORVBackoffTimer::kMaximumDelay);
  }
  EXPECT_EQ(calls, 12);
  EXPECT_FALSE(lastRetry);
  ASSERT_TRUE(finalError);
  EXPECT_EQ(finalError->domain(), "TSYNetworkError");
  auto usedUp = handler.errorWithCode(-6, "B1", &request, nullptr);
  EXPECT_EQ(usedUp->code(), -6);
  EXPECT_EQ(usedUp->userInfo().at("ORVNetworkRetryHandlerIdentifier"), Value("B1"));
  EXPECT_EQ(usedUp->userInfo().at("NSErrorFailingURLKey"), Value(request.url));
  EXPECT_EQ(handler.retryTimerMap().count("B1"), 0u);
}

TEST(AnalyticsRetry, FinalOutcomesAndTheTimerMap) {
  VirtualClock clock;
  ORVNetworkRetryHandler handler(nullptr);
  URLRequest request;
  request.url = "http://127.0.0.1/e";
  std::vector<std::pair<bool, ErrorPtr>> results;
  auto record = [&](bool retry, const ErrorPtr& e) { results.emplace_back(retry, e); };

  auto busy = reply(429);
  handler.handleCompletedRequest(request, &busy, "", nullptr, record);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_FALSE(results[0].first);
  // The classifier's own error wins over -7.
  ASSERT_TRUE(results[0].second);
  EXPECT_TRUE(handler.retryTimerMap().empty());

  // A transport error that is retryable but carries the classifier's error through.
  auto lost = Error::make(NSURLErrorDomain, -1005);
  handler.handleCompletedRequest(request, nullptr, "C", lost, record);
  clock.advance(3);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_TRUE(results[1].first);
  EXPECT_EQ(results[1].second, lost);
  // Retry-After sets the base on the first failure only.
  auto slow = reply(503, "30");
  handler.handleCompletedRequest(request, &slow, "D", nullptr, record);
  clock.advance(26);
  EXPECT_EQ(results.size(), 2u);
  clock.advance(8);
  EXPECT_EQ(results.size(), 3u);
  EXPECT_EQ(handler.retryTimerMap().at("D")->initialValue(), 30.0);

  // Success and final failures end the upload: its timer is removed.
  auto ok = reply(200);
  handler.handleCompletedRequest(request, &ok, "D", nullptr, record);
  EXPECT_FALSE(results.back().first);
  EXPECT_FALSE(results.back().second);
  EXPECT_EQ(handler.retryTimerMap().count("D"), 0u);
  auto bad = reply(400);
  handler.handleCompletedRequest(request, &bad, "C", nullptr, record);
  EXPECT_FALSE(results.back().first);
  EXPECT_TRUE(results.back().second);
  EXPECT_TRUE(handler.retryTimerMap().empty());
  EXPECT_FALSE(handler.timerForIdentifier("", 2.0));
  EXPECT_EQ(handler.errorWithCode(-7, "", &request, nullptr)
                ->userInfo()
                .at("ORVNetworkRetryHandlerIdentifier"),
            Value("(null)"));
}

TEST(AnalyticsRetry, ChallengesWithoutAPinnerGetDefaultHandling) {
  ORVNetworkRetryHandler handler(nullptr);
  int calls = 0;
  handler.handleChallenge({}, nullptr, [&](URLSessionAuthChallengeDisposition d, auto cred) {
    EXPECT_EQ(d, URLSessionAuthChallengeDisposition::PerformDefaultHandling);
    EXPECT_FALSE(cred);
    ++calls;
  });
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace tw::test
