// Multipart bodies, service URLs and response classification: what the kits put on the wire and
// how they read what comes back.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "kits/platform/net/TSYMultipartMimeStreamEncoder.h"
#include "kits/platform/net/TSYNetworkResponseHandler.h"
#include "kits/platform/net/TSYURLBuilder.h"
#include "platform/foundation/Json.h"
#include "platform/testsupport/TestSupport.h"

namespace {

std::string text(const tw::Data& d) { return std::string(d.begin(), d.end()); }

// Parses a body with python's email package (an independent reader) and returns its parts as
// JSON: name, filename, content type, payload length and text.
tw::Value parseWithPython(const tw::test::TempDir& dir, const std::string& boundary,
                          const tw::Data& body) {
  auto bodyFile = dir.path() / "body";
  std::ofstream(bodyFile, std::ios::binary)
      .write(reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(body.size()));
  auto script = dir.path() / "parse.py";
  std::ofstream(script) << R"(import email.parser, email.policy, json, sys
raw = b"Content-Type: multipart/form-data; boundary=" + sys.argv[2].encode() + b"\r\n\r\n"
raw += open(sys.argv[1], "rb").read()
m = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(raw)
parts = []
for p in m.iter_parts():
    payload = p.get_payload(decode=True) or b""
    parts.append({"name": p.get_param("name", header="content-disposition"),
                  "filename": p.get_filename(), "type": p.get_content_type(),
                  "cte": p.get("Content-Transfer-Encoding"), "length": len(payload),
                  "text": payload.decode("latin-1")[:64]})
print(json.dumps({"defects": len(m.defects), "parts": parts}))
)";
  std::string command = "python3 " + script.string() + " " + bodyFile.string() + " " + boundary;
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  if (pipe) pclose(pipe);
  auto parsed = tw::Json::parse(out);
  return parsed ? *parsed : tw::Value();
}

TEST(MultipartEncoder, EmptyBodyIsHeaderAndFooterAndLengthMatches) {
  auto stream = std::make_shared<tw::MemoryOutputStream>();
  TSYMultipartMimeStreamEncoder encoder(stream, std::string("B"));
  EXPECT_TRUE(encoder.encode({}));
  EXPECT_EQ(text(stream->data()), "MIME-Version: 1.0\r\n--B--\r\n");
  EXPECT_EQ(encoder.length(), stream->data().size());
  EXPECT_EQ(encoder.contentLengthHTTPHeaderValue(), std::to_string(stream->data().size()));
  EXPECT_EQ(encoder.contentTypeHTTPHeaderValue(), "multipart/form-data; boundary=B");
}

TEST(MultipartEncoder, PartsParseBackWithAnIndependentParser) {
  tw::test::TempDir dir;
  auto file = dir.path() / "report.bin";
  std::string big(std::size_t{300} * 1024, 'x');  // spans several read chunks
  big[1000] = '\0';
  std::ofstream(file, std::ios::binary) << big;
  { std::ofstream empty(dir.path() / "empty.bin"); }

  tw::URLRequest request;
  ASSERT_TRUE(TSYMultipartMimeStreamEncoder::populateRequest(request, [&](auto& e) {
    e.addValue(42, "number");
    e.addValue(std::string("héllo"), "greeting");
    e.addValue(tw::Value(), "skipped");
    e.addFileData({1, 2, 3}, "a.dat", std::nullopt, "raw");
    e.addFileData({}, "b.dat", std::string("x/y"), "empty");  // logged, left out
    e.addFileData({1}, "", std::string("x/y"), "nameless");   // logged, left out
    e.addFile(file, "report.bin", std::string("application/x-report"), "file");
    e.addFile(dir.path() / "empty.bin", "empty.bin", std::nullopt, "emptyfile");  // left out
  }));
  const auto type = *request.valueForHTTPHeaderField("Content-Type");
  const auto boundary = type.substr(type.find('=') + 1);
  EXPECT_EQ(boundary.size(), 36u);
  EXPECT_EQ(*request.valueForHTTPHeaderField("Content-Length"),
            std::to_string(request.body.size()));

  auto parsed = parseWithPython(dir, boundary, request.body);
  ASSERT_EQ(parsed["parts"].count(), 4u) << parsed;
  EXPECT_EQ(parsed["defects"].integerValue(), 0);
  const auto& parts = parsed["parts"];
  EXPECT_EQ(*parts.at(0)["text"].string(), "42");
  EXPECT_EQ(*parts.at(0)["type"].string(), "text/plain");
  EXPECT_EQ(*parts.at(1)["name"].string(), "greeting");
  EXPECT_EQ(*parts.at(2)["type"].string(), "application/octet-stream");
  EXPECT_TRUE(parts.at(2)["cte"].isNull());  // no transfer-encoding line without a type
  EXPECT_EQ(parts.at(2)["length"].integerValue(), 3);
  EXPECT_EQ(*parts.at(3)["filename"].string(), "report.bin");
  EXPECT_EQ(*parts.at(3)["cte"].string(), "binary");
  EXPECT_EQ(parts.at(3)["length"].integerValue(), static_cast<long>(big.size()));
}

// A sink that accepts only a few bytes, as a full disk would.
class ShortStream : public tw::OutputStream {
 public:
  explicit ShortStream(std::size_t room) : room_(room) {}
  bool open() override { return true; }
  long write(const std::uint8_t*, std::size_t length) override {
    std::size_t n = std::min(length, room_);
    room_ -= n;
    return static_cast<long>(n);
  }
  void close() override {}

 private:
  std::size_t room_;
};

TEST(MultipartEncoder, FailedWritesAndUnreadableFilesAreReported) {
  TSYMultipartMimeStreamEncoder shortEncoder(std::make_shared<ShortStream>(30), std::string("B"));
  EXPECT_FALSE(shortEncoder.encode([](auto& e) { e.addValue("value", "field"); }));
  EXPECT_TRUE(shortEncoder.failed());
  EXPECT_EQ(shortEncoder.length(), 19u);  // only the header went through whole

  tw::URLRequest request;
  EXPECT_FALSE(TSYMultipartMimeStreamEncoder::populateRequest(
      request, [](auto& e) { e.addFile("/nonexistent/file", "f", std::nullopt, "file"); }));
  EXPECT_TRUE(request.body.empty());
  EXPECT_FALSE(request.valueForHTTPHeaderField("Content-Length"));
}

TEST(URLBuilder, EscapesOutsidePiecesAndOrdersQueryParameters) {
  auto builder = TSYURLBuilder::URLWithBase("https://h.example/x y");
  builder->appendComponent("/a");
  builder->escapeAndAppendComponent("/b c");
  builder->appendValue(7, "n");
  builder->appendValue(tw::Value(), "x");
  builder->appendValue(std::string("v"), "m");
  builder->appendValue(std::string("é&%"), "na me");
  EXPECT_EQ(builder->URLString(), "https://h.example/x y/a/b%20c?n=7&m=v&na me=%C3%A9&%25");
  EXPECT_EQ(builder->queryParams(), 3u);
  EXPECT_FALSE(builder->URL());  // raw spaces from the unescaped pieces make no URL
  EXPECT_EQ(TSYURLBuilder::URLWithBase("https://h.example")->URL(), "https://h.example");
}

tw::URLResponse reply(long status, tw::HeaderList headers = {}) {
  return tw::URLResponse{"https://h/", status, std::move(headers)};
}

std::pair<bool, tw::ErrorPtr> classify(const tw::URLResponse* response,
                                       const tw::URLRequest& request = {},
                                       const tw::ErrorPtr& transport = nullptr) {
  std::pair<bool, tw::ErrorPtr> out;
  int calls = 0;
  TSYNetworkResponseHandler::handleCompletedResponse(response, request, transport,
                                                     [&](bool retry, const tw::ErrorPtr& error) {
                                                       ++calls;
                                                       out = {retry, error};
                                                     });
  EXPECT_EQ(calls, 1);
  return out;
}

TEST(ResponseClassification, StatusesMapToTypesCodesAndRetries) {
  struct Case {
    long status;
    bool retry;
    long code;  // 0: no error
  };
  for (auto c :
       {Case{200, false, 0}, Case{304, false, 0}, Case{203, false, -4}, Case{404, false, -5},
        Case{431, false, -5}, Case{429, true, -1}, Case{420, true, -1}, Case{408, true, -1},
        Case{503, true, -1}, Case{302, false, -4}}) {
    auto r = reply(c.status, {{"X-Request-Id", "rid"}});
    auto [retry, error] = classify(&r);
    EXPECT_EQ(retry, c.retry) << c.status;
    EXPECT_EQ(error ? error->code() : 0, c.code) << c.status;
    if (error) {
      EXPECT_EQ(error->domain(), "TSYNetworkError");
      EXPECT_EQ(error->userInfo().size(), 4u);
      EXPECT_EQ(error->userInfo().at("status_code").integerValue(), c.status);
      EXPECT_EQ(*error->userInfo().at("request_id").string(), "rid");
      EXPECT_EQ(*error->userInfo().at("content_type").string(), "");
    }
  }
  tw::URLResponse noStatus{"file:///x", std::nullopt, {}};
  EXPECT_EQ(classify(&noStatus).second->code(), -4);
}

TEST(ResponseClassification, RetryAfterAndTransportErrors) {
  auto value = [](const char* header) {
    auto r = reply(429, {{"retry-after", header}});
    return TSYNetworkResponseHandler::retryValueForResponse(&r);
  };
  EXPECT_EQ(value("30"), 30);
  EXPECT_EQ(value("-5"), 2);
  EXPECT_EQ(value("soon"), 0);
  EXPECT_EQ(value("inf"), 2);
  EXPECT_EQ(value("nan"), 2);
  auto none = reply(429);
  EXPECT_EQ(TSYNetworkResponseHandler::retryValueForResponse(&none), 2);

  auto urlError = [](long code) { return tw::Error::make(tw::NSURLErrorDomain, code); };
  for (long code : {-1001L, -1005L, -1004L, -999L}) {
    EXPECT_TRUE(classify(nullptr, {}, urlError(code)).first) << code;
  }
  for (long code : {-1000L, -1002L, -1007L, -1200L, -1202L, -1206L, -1100L}) {
    EXPECT_FALSE(classify(nullptr, {}, urlError(code)).first) << code;
  }
  EXPECT_FALSE(classify(nullptr, {}, tw::Error::make("Other", -1001)).first);
  auto cancelled = tw::Error::make(tw::NSURLErrorDomain, -999,
                                   {{NSURLErrorBackgroundTaskCancelledReasonKey, 2}});
  EXPECT_EQ(TSYNetworkResponseHandler::cancelReasonFromURLError(cancelled), 2);
  EXPECT_EQ(TSYNetworkResponseHandler::cancelReasonFromURLError(urlError(-999)), -1);
}

TEST(ResponseClassification, ContentTypeMustMatchAcceptAndCharset) {
  tw::URLRequest request;
  request.setValue("application/json", "Accept");
  request.setValue("utf-8", "Accept-Charset");
  auto utf8 = reply(200, {{"Content-Type", "application/json; charset=UTF-8"}});
  EXPECT_FALSE(classify(&utf8, request).second);
  request.setValue("latin1", "Accept-Charset");
  EXPECT_EQ(classify(&utf8, request).second->code(), -4);
  auto bare = reply(200);
  EXPECT_EQ(classify(&bare, request).second->code(), -4);
  auto other = reply(200, {{"Content-Type", "text/html"}});
  EXPECT_EQ(classify(&other, request).second->code(), -4);
  EXPECT_FALSE(classify(&other, tw::URLRequest{}).second);  // no Accept: anything matches
}

}  // namespace
