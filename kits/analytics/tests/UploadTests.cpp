#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include "kits/analytics/ORVLogRotation.h"
#include "kits/analytics/ORVLogger.h"
#include "kits/analytics/ORVNetworkRetryHandler.h"
#include "kits/analytics/ORVUploader.h"
#include "kits/platform/net/TSYMultipartMimeStreamEncoder.h"
#include "platform/foundation/Log.h"
#include "tools/kitservice/KitServiceFixture.h"

namespace tw::test {
namespace {

namespace fs = std::filesystem;

const std::string kLine = "1700000000000\tcustom\t2\t{}\n";

// Plays the controller's part: asks the retry handler, records every finished upload.
class RecordingDelegate : public ORVUploaderDelegate {
 public:
  explicit RecordingDelegate(fs::path dir) : dir_(std::move(dir)) {}
  fs::path uploaderFilePathForUniqueName(ORVUploader&, const std::string& name) override {
    return dir_ / (name + ".multipartmime");
  }
  void uploaderDidFinishUpload(ORVUploader&, const std::string& name,
                               const ErrorPtr& error) override {
    std::lock_guard lock(mutex_);
    finished_.emplace_back(name, error);
  }
  void uploaderCompletedRequest(ORVUploader&, const URLRequest& request,
                                const std::optional<URLResponse>& response, const std::string& name,
                                const ErrorPtr& error, RetryHandler completion) override {
    {
      std::lock_guard lock(mutex_);
      ++completed_;
    }
    retry_.handleCompletedRequest(request, response ? &*response : nullptr, name, error,
                                  completion);
  }
  std::vector<std::pair<std::string, ErrorPtr>> finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
  }
  int completed() const {
    std::lock_guard lock(mutex_);
    return completed_;
  }

 private:
  fs::path dir_;
  ORVNetworkRetryHandler retry_{nullptr};
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, ErrorPtr>> finished_;
  int completed_ = 0;
};

class AnalyticsUpload : public ::testing::Test {
 protected:
  void SetUp() override {
    queue_ = OperationQueue::create("io.oriseth.EventQueue");
    queue_->setMaxConcurrentOperationCount(1);
    delegate_ = std::make_shared<RecordingDelegate>(dir_.path());
    uploader_ = ORVUploader::create(queue_, delegate_);
  }
  void TearDown() override { queue_->waitUntilAllOperationsAreFinished(); }

  // A packaged file made by the real pipeline; returns its boundary.
  std::string package(const std::string& lines) {
    auto log = dir_.path() / (makeUUID() + ".log");
    std::ofstream(log) << lines;
    auto gz = ORVCompressLogOperation::compressedURLForUncompressedURL(log);
    ORVCompressLogOperation(log, gz).start();
    std::string boundary = TSYMultipartMimeStreamEncoder::generateBoundary();
    ORVPackageLogOperation(gz, ORVPackageLogOperation::multipartURLForCompressedURL(gz, boundary),
                           boundary)
        .start();
    return boundary;
  }
  static std::string makeUUID() { return TSYMultipartMimeStreamEncoder::generateBoundary(); }
  std::shared_ptr<ORVUploadOperation> operation(const std::string& boundary) {
    return std::make_shared<ORVUploadOperation>(
        uploader_, service_.baseURL() + "/spi/v2/events", "api-key-1",
        dir_.path() / (boundary + ".multipartmime"), boundary);
  }

  TempDir dir_;
  KitService service_{false};
  std::shared_ptr<OperationQueue> queue_;
  std::shared_ptr<RecordingDelegate> delegate_;
  std::shared_ptr<ORVUploader> uploader_;
};

TEST_F(AnalyticsUpload, TheTenHeadersInOrderAndTheGzipPartArrive) {
  auto boundary = package("1700000000000\tcustom\t2\t{}\n");
  auto op = operation(boundary);
  auto request = op->makeRequest();
  std::vector<std::string> names;
  for (const auto& [name, value] : request.headers) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{
                       "Content-Type", "Content-Length", "User-Agent", "X-MORVEX-DEVELOPER-TOKEN",
                       "X-MORVEX-API-CLIENT-TYPE", "X-MORVEX-API-CLIENT-VERSION",
                       "X-MORVEX-API-CLIENT-DISPLAY-VERSION", "X-MORVEX-API-CLIENT-BUILD-VERSION",
                       "X-MORVEX-API-KEY", "X-Morvex-Api-Client-Packaged-Timestamp"}));
  EXPECT_EQ(request.method, "POST");

  queue_->addOperation(op);
  ASSERT_TRUE(pumpMainUntil([&] { return !delegate_->finished().empty(); }, 10));
  auto finished = delegate_->finished();
  EXPECT_EQ(finished[0].first, boundary);
  EXPECT_FALSE(finished[0].second);
  auto requests = service_.requests(KitService::kEvents);
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r["problems"].count(), 0u) << r["problems"];
  EXPECT_EQ(r["headers"]["X-MORVEX-API-KEY"], Value("api-key-1"));
  EXPECT_EQ(r["headers"]["X-Morvex-Api-Client-Packaged-Timestamp"].string()->find('.'),
            std::string::npos);
  EXPECT_EQ(r["headers"]["Content-Length"],
            Value(std::to_string(fs::file_size(dir_.path() / (boundary + ".multipartmime")))));
  ASSERT_EQ(r["parts"].count(), 1u);
  EXPECT_EQ(r["parts"].at(0)["content_type"], Value("application/vnd.morvex.mac.events"));
  EXPECT_EQ(r["parts"].at(0)["gzip"], Value("ok"));
  EXPECT_TRUE(r["parts"].at(0)["filename"].string()->ends_with(".gz"));
}

TEST_F(AnalyticsUpload, ASecondStartForTheSameFileIsSkipped) {
  ORVLogger::sharedLogger().setDebugMode(true);
  LogCapture log;
  KitService::Reply slow;
  slow.status = 202;
  slow.json = Value(Dictionary{});
  slow.delaySeconds = 0.5;
  service_.script(KitService::kEvents, slow);
  auto boundary = package(kLine);
  queue_->addOperation(operation(boundary));
  queue_->addOperation(operation(boundary));
  ASSERT_TRUE(pumpMainUntil([&] { return !delegate_->finished().empty(); }, 10));
  EXPECT_TRUE(staysAbsent([&] { return delegate_->finished().size() > 1; }, 0.3))
      << "the second start for the same file uploaded too";
  ORVLogger::sharedLogger().setDebugMode(false);
  EXPECT_EQ(delegate_->finished().size(), 1u);
  EXPECT_EQ(service_.requests(KitService::kEvents).size(), 1u);
  EXPECT_TRUE(log.contains("[Oriseth:ORVUploader] A task currently exists for '" + boundary +
                           "', skipping"));
}

TEST_F(AnalyticsUpload, RefusedStartsAreReportedAsFinished) {
  URLRequest request;
  request.url = service_.baseURL() + "/spi/v2/events";
  uploader_->startUploadRequest(request, dir_.path() / "x.multipartmime", "");
  uploader_->startUploadRequest(request, dir_.path() / "missing.multipartmime", "missing");
  ASSERT_TRUE(pumpMainUntil([&] { return delegate_->finished().size() == 2; }, 10));
  auto finished = delegate_->finished();
  EXPECT_EQ(finished[0].second->code(), -2);
  EXPECT_EQ(finished[0].second->domain(), "TSYNetworkError");
  EXPECT_EQ(finished[0].second->userInfo().at("ORVUploaderUniqueName"), Value(""));
  EXPECT_EQ(finished[1].second->code(), -8);
  EXPECT_EQ(finished[1].second->userInfo().at("NSFilePath"),
            Value((dir_.path() / "missing.multipartmime").string()));
  EXPECT_TRUE(service_.requests(KitService::kEvents).empty());
}

TEST_F(AnalyticsUpload, AnAcceptedUploadWhoseReplyBodyIsCutShortIsDoneOnce) {
  service_.script(KitService::kEvents, KitService::Reply::acceptedWithBodyCutShort());
  auto boundary = package(kLine);
  queue_->addOperation(operation(boundary));
  ASSERT_TRUE(pumpMainUntil([&] { return !delegate_->finished().empty(); }, 15));
  EXPECT_EQ(delegate_->completed(), 1);
  EXPECT_FALSE(delegate_->finished()[0].second);
  EXPECT_EQ(service_.requests(KitService::kEvents).size(), 1u);
}

TEST_F(AnalyticsUpload, AServerErrorIsRetriedAfterTheBackoff) {
  KitService::Reply busy;
  busy.status = 503;
  service_.script(KitService::kEvents, busy);
  auto boundary = package(kLine);
  queue_->addOperation(operation(boundary));
  ASSERT_TRUE(pumpMainUntil([&] { return !delegate_->finished().empty(); }, 15));
  EXPECT_EQ(delegate_->completed(), 2);
  EXPECT_FALSE(delegate_->finished()[0].second);
  EXPECT_EQ(service_.requests(KitService::kEvents).size(), 2u);
}

}  // namespace
}  // namespace tw::test
