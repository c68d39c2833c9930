#include <gtest/gtest.h>
#include <zlib.h>

#include <curl/curl.h>

#include <chrono>
#include <string>

#include "platform/foundation/Json.h"
#include "tools/kitservice/KitServiceFixture.h"

namespace tw::test {
namespace {

constexpr const char* kToken = "0123456789abcdef0123456789abcdef01234567";

struct Response {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
  std::string headers;
  double seconds = 0;
};

size_t collect(char* data, size_t size, size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

Response request(const KitService& service, const std::string& method, const std::string& path,
                 const std::string& body = {}, std::vector<std::string> headers = {},
                 bool trustCA = true, long timeoutSeconds = 10) {
  Response r;
  CURL* curl = curl_easy_init();
  std::string url = service.baseURL() + path;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  if (method != "GET") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  }
  curl_slist* list = nullptr;
  // What every platform request carries; endpoint-specific headers come from the caller.
  for (const char* h : {"X-Morvex-API-Key: k", "X-Morvex-API-Client-Id: io.tessaly.sdk.mac",
                        "X-Morvex-API-Client-Display-Version: 1.9.0",
                        "X-Morvex-API-Client-Build-Version: 74", "Accept: application/json"})
    headers.push_back(h);
  headers.push_back(std::string("X-Morvex-Developer-Token: ") + kToken);
  for (const auto& h : headers) list = curl_slist_append(list, h.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &r.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collect);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &r.headers);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeoutSeconds);
  if (service.tls() && trustCA) curl_easy_setopt(curl, CURLOPT_CAINFO, service.caFile().c_str());
  if (service.tls() && !trustCA) curl_easy_setopt(curl, CURLOPT_CAINFO, "/nonexistent");
  auto start = std::chrono::steady_clock::now();
  r.code = curl_easy_perform(curl);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &r.status);
  curl_slist_free_all(list);
  curl_easy_cleanup(curl);
  return r;
}

std::string gzipped(const std::string& text) {
  z_stream z{};
  deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::string out(compressBound(text.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string multipart(const std::string& boundary,
                      const std::vector<std::tuple<std::string, std::string, std::string>>& parts) {
  std::string body;
  for (const auto& [name, filename, content] : parts) {
    body += "--";
    body += boundary;
    body += "\r\nContent-Disposition: form-data; name=\"";
    body += name;
    body += "\"";
    if (!filename.empty()) body += "; filename=\"" + filename + "\"";
    body += "\r\nContent-Type: ";
    body += filename.empty() ? "text/plain" : "application/octet-stream";
    body += "\r\n\r\n";
    body += content;
    body += "\r\n";
  }
  return body + "--" + boundary + "--\r\n";
}

TEST(KitService, AnswersTheKitsEndpointsOverTlsAndLogsWhatTheyChecked) {
  KitService service;
  auto settings = request(service, "GET",
                          "/spi/v2/platforms/mac/apps/com.velmora.Tickwell/settings?build_version="
                          "7&display_version=1.2&instance=abc&source=1",
                          {}, {"X-Morvex-Installation-ID: 0C3A"});
  ASSERT_EQ(settings.code, CURLE_OK) << curl_easy_strerror(settings.code);
  EXPECT_EQ(settings.status, 200);
  auto settingsJson = Json::parse(settings.body);
  ASSERT_TRUE(settingsJson.ok()) << settings.body;
  EXPECT_EQ((*settingsJson)["app"]["status"], Value("activated"));
  // By default the analytics kit is sent to this same service.
  EXPECT_EQ((*settingsJson)["analytics"]["url"], Value(service.baseURL() + "/spi/v2/events"));

  const std::string boundary = "tw-boundary-1";
  auto report = request(
      service, "POST", "/sdk-api/v1/platforms/mac/apps/com.velmora.Tickwell/reports",
      multipart(boundary, {{"report[identifier]", "", "R1"},
                           {"report[file]", "metadata.mvxrecord.gz", gzipped("meta line\n")},
                           {"report[bad]", "signal.mvxrecord.gz", "plain, not gzip"}}),
      {"Content-Type: multipart/form-data; boundary=" + boundary});
  EXPECT_EQ(report.status, 202);

  auto beta = request(service, "GET", "/spi/v2/platforms/mac/apps/x/beta_update_check");
  EXPECT_EQ(beta.status, 200);

  auto log = service.requests();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0]["endpoint"], Value("settings"));
  EXPECT_EQ(log[0]["app_id"], Value("com.velmora.Tickwell"));
  EXPECT_EQ(log[0]["query"]["instance"], Value("abc"));
  EXPECT_EQ(log[0]["problems"].count(), 0u);
  EXPECT_EQ(log[1]["endpoint"], Value("reports"));
  ASSERT_EQ(log[1]["parts"].count(), 3u);
  EXPECT_EQ(log[1]["parts"].at(0)["text"], Value("R1"));
  EXPECT_EQ(log[1]["parts"].at(1)["gzip"], Value("ok"));
  EXPECT_EQ(log[1]["parts"].at(1)["gunzipped_length"], Value(10));
  EXPECT_EQ(log[1]["parts"].at(2)["gzip"], Value("missing"));
  EXPECT_EQ(log[1]["problems"].count(), 1u);
  // The beta check came without its query keys and beta token: each one is a finding.
  EXPECT_EQ(log[2]["problems"].count(), 5u);
  EXPECT_EQ(log[2]["problems"].at(4), Value("header missing: x-morvex-beta-token"));
  EXPECT_EQ(service.requests(KitService::kBetaCheck).size(), 1u);
}

TEST(KitService, ScriptedRepliesRunInOrderThenTheDefaultsReturn) {
  KitService service(/*tls=*/false);
  const std::string events = "/spi/v2/events";
  const std::string body = multipart("b", {{"file", "events.log", "e"}});
  const std::string type = "Content-Type: multipart/form-data; boundary=b";
  KitService::Reply busy, late, dropped, hang;
  busy.status = 503;
  busy.retryAfter = 7;
  late.body = "late";
  late.delaySeconds = 0.3;
  dropped.dropConnection = true;
  hang.hang = true;
  service.script(KitService::kEvents, busy);
  service.script(KitService::kEvents, late);
  service.script(KitService::kEvents, dropped);

  auto first = request(service, "POST", events, body, {type});
  EXPECT_EQ(first.status, 503);
  EXPECT_NE(first.headers.find("Retry-After: 7"), std::string::npos);
  auto second = request(service, "POST", events, body, {type});
  EXPECT_EQ(second.body, "late");
  EXPECT_GE(second.seconds, 0.3);
  auto third = request(service, "POST", events, body, {type});
  EXPECT_NE(third.code, CURLE_OK);
  auto fourth = request(service, "POST", events, body, {type});
  EXPECT_EQ(fourth.status, 202);

  service.script("*", hang);
  auto hung = request(service, "GET", "/spi/v2/platforms/mac/apps/x/settings", {}, {}, true, 1);
  EXPECT_EQ(hung.code, CURLE_OPERATION_TIMEDOUT);

  service.reset();
  EXPECT_TRUE(service.requests().empty());
  auto unknown = request(service, "GET", "/nowhere");
  EXPECT_EQ(unknown.status, 404);
  EXPECT_EQ(service.requests().at(0)["problems"].at(0), Value("unknown endpoint GET /nowhere"));
}

TEST(KitService, ClientsThatDoNotTrustTheTestAuthorityAreRefused) {
  KitService service;
  auto r = request(service, "GET", "/spi/v2/platforms/mac/apps/x/settings", {}, {}, false);
  EXPECT_NE(r.code, CURLE_OK);
  EXPECT_TRUE(service.requests().empty());
}

}  // namespace
}  // namespace tw::test
