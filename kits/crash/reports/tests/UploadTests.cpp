#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "kits/crash/reports/MVXPackageReportOperation.h"
#include "kits/crash/reports/MVXReportsController.h"
#include "kits/crash/reports/tests/ReportFixtures.h"
#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/TerminationActivities.h"
#include "kits/platform/Tessaly.h"
#include "kits/platform/net/TSYNetworkClient.h"
#include "kits/platform/net/TSYNetworkResponseHandler.h"
#include "platform/foundation/Log.h"
#include "platform/testsupport/TestSupport.h"
#include "tools/kitservice/KitServiceFixture.h"

namespace tw::test {
namespace {

namespace fs = std::filesystem;

std::shared_ptr<tw::Certificate> loadCertificate(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  return TSYCertificatePinner::createCertificationWithData(bytes.data(), bytes.size());
}

// Plays the crash reporting controller's part for both the reports controller and its client.
class Delegate : public MVXReportsControllerDelegate, public MVXNetworkClientDelegate {
 public:
  MVXSettings settingsForReportsController(MVXReportsController&) override { return MVXSettings(); }
  std::optional<std::string> APIKeyForReportsController(MVXReportsController&) override {
    return std::string("the-api-key");
  }
  std::string bundleIdentifierForReportsController(MVXReportsController&) override {
    return "com.velmora.Tickwell";
  }
  void reportsControllerDidCompletePackageSubmission(MVXReportsController&, const std::string& path,
                                                     const tw::ErrorPtr& error) override {
    std::lock_guard lock(mutex_);
    completions.emplace_back(path, error);
  }
  bool networkClientCanUseBackgroundSessions(MVXNetworkClient&) override { return true; }
  void networkClientDidFinishUploadWithPath(MVXNetworkClient&, const std::string& path,
                                            const tw::ErrorPtr& error) override {
    if (auto c = controller.lock()) c->reportUploadAtPath(path, error);
  }
  std::size_t count() {
    std::lock_guard lock(mutex_);
    return completions.size();
  }
  std::pair<std::string, tw::ErrorPtr> at(std::size_t i) {
    std::lock_guard lock(mutex_);
    return completions.at(i);
  }

  std::weak_ptr<MVXReportsController> controller;
  std::mutex mutex_;
  std::vector<std::pair<std::string, tw::ErrorPtr>> completions;
};

class ReportUpload : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("MorvexReportsEndpoint", service_.baseURL().c_str(), 1);
    ASSERT_TRUE(files_->prepareForNewLaunch());
    queue_->setMaxConcurrentOperationCount(1);
    makeController(
        std::make_shared<TSYCertificatePinner>(std::vector{loadCertificate(service_.caDerFile())}));
  }
  void TearDown() override {
    queue_->waitUntilAllOperationsAreFinished();
    ::unsetenv("MorvexReportsEndpoint");
  }
  void makeController(std::shared_ptr<TSYCertificatePinner> pinner) {
    client_ = MVXNetworkClient::create(queue_, files_, delegate_, std::move(pinner));
    controller_ = std::make_shared<MVXReportsController>(queue_, delegate_, client_, files_);
    controller_->setCrashEventLogger([this](double time, bool) { crashTimes_.push_back(time); });
    delegate_->controller = controller_;
  }
  // An earlier run's crashed report directory in "active".
  std::shared_ptr<MVXInternalReport> crashedReport(const std::string& name,
                                                   bool withSignal = true) {
    const std::string dir = files_->activePath() + "/" + name;
    writeReport(dir, name + "-id", "the-api-key", 1000);
    if (withSignal) {
      writeFile(dir + "/signal.mvxrecord", "{\"signal\":{\"time\":1700000000}}\n");
    } else {
      writeFile(dir + "/exception.mvxrecord", "{\"exception\":{\"name\":\"x\"}}\n");
    }
    writeFile(dir + "/sdk.log", "INFO  [f:1] a line\n");
    return MVXInternalReport::reportWithPath(dir);
  }
  // A packaged report in "prepared", by the real pipeline without an upload.
  std::string packaged(const std::string& name) {
    auto report = crashedReport(name);
    report->setPath(files_->processingPath() + "/" + name);
    fs::rename(files_->activePath() + "/" + name, report->path());
    MVXPackageReportOperation op(report, files_);
    op.start();
    fs::remove_all(report->path());
    return *op.finalPath();
  }

  KitService service_{true};
  TempDir dir_;
  std::shared_ptr<MVXFileManager> files_ =
      std::make_shared<MVXFileManager>((dir_.path() / "root").string());
  std::shared_ptr<OperationQueue> queue_ =
      OperationQueue::create("com.pelworth.morvex.mac.work-queue");
  std::shared_ptr<Delegate> delegate_ = std::make_shared<Delegate>();
  std::shared_ptr<MVXNetworkClient> client_;
  std::shared_ptr<MVXReportsController> controller_;
  std::vector<double> crashTimes_;
};

TEST_F(ReportUpload, AReportTravelsFromActiveToTheServiceOnceAndIsRemovedAfterwards) {
  auto report = crashedReport("run1");
  const std::string metadata = readFile(report->metadataPath());
  std::vector<std::string> processedAt;
  std::vector<TerminationActivities::Running> activities;
  controller_->setReportProcessor([&](const std::shared_ptr<MVXInternalReport>& r) {
    processedAt.push_back(r->path());
    activities = TerminationActivities::shared().running();
    writeFile(r->path() + "/signal.mvxrecord.symbolicated", "{\"threads\":[]}\n");
  });
  bool started = false;
  queue_->addOperationWithBlock(
      [&] { started = controller_->prepareAndSubmitReport(report, false, true); });
  queue_->waitUntilAllOperationsAreFinished();
  ASSERT_TRUE(started);
  EXPECT_EQ(processedAt, std::vector<std::string>{files_->processingPath() + "/run1"});
  // The processing runs inside an activity the application's ending waits for.
  ASSERT_EQ(activities.size(), 1u);
  EXPECT_EQ(activities[0].reason, "Morvex Crash Report Processing");
  EXPECT_EQ(activities[0].options, 0xC000u);
  EXPECT_EQ(TerminationActivities::shared().count(), 0u);
  EXPECT_TRUE(files_->activePathContents().empty());
  EXPECT_TRUE(files_->processingPathContents().empty());
  EXPECT_EQ(crashTimes_, std::vector<double>{1700000000});
  ASSERT_TRUE(eventually([&] { return delegate_->count() == 1; }));
  EXPECT_FALSE(delegate_->at(0).second);
  const fs::path package(delegate_->at(0).first);
  EXPECT_EQ(package.parent_path(), fs::path(files_->preparedPath()));
  EXPECT_FALSE(fs::exists(package));  // removed after the service took it

  auto requests = service_.requests(KitService::kReports);
  ASSERT_EQ(requests.size(), 1u);
  const Value& r = requests[0];
  EXPECT_EQ(r["problems"].count(), 0u) << r["problems"];
  EXPECT_EQ(r["app_id"], Value("com.velmora.Tickwell"));
  EXPECT_EQ(r["headers"]["Content-Type"],
            Value("multipart/form-data; boundary=" + package.stem().string()));
  EXPECT_EQ(r["headers"]["Content-Length"], Value(std::to_string(r["body_length"].integerValue())));
  EXPECT_EQ(r["headers"]["X-Morvex-API-Key"], Value("the-api-key"));
  EXPECT_EQ(r["headers"]["User-Agent"], Value("Morvex Mac SDK/3.12.0"));
  std::vector<std::string> order;
  for (const Value& name : *r["header_order"].array()) {
    const std::string n = *name.string();
    if (n != "Host") order.push_back(n);
  }
  EXPECT_EQ(order, (std::vector<std::string>{
                       "User-Agent", "Accept", "Accept-Charset", "Accept-Language",
                       "Content-Language", "X-Morvex-Developer-Token", "X-Morvex-API-Client-Id",
                       "X-Morvex-API-Client-Display-Version", "X-Morvex-API-Client-Build-Version",
                       "X-Morvex-API-Key", "Content-Type", "Content-Length"}));
  std::map<std::string, std::int64_t> gunzipped;
  for (const Value& part : *r["parts"].array()) {
    if (part["filename"].isString()) {
      EXPECT_EQ(part["gzip"], Value("ok")) << part;
      gunzipped[*part["name"].string()] = part["gunzipped_length"].integerValue();
    }
  }
  EXPECT_EQ(gunzipped, (std::map<std::string, std::int64_t>{
                           {"metadata.mvxrecord", static_cast<std::int64_t>(metadata.size())},
                           {"sdk.log", 19},
                           {"signal.mvxrecord", 31},
                           {"signal.mvxrecord.symbolicated", 15}}));
}

TEST_F(ReportUpload, RetriesOn503And429AfterRetryAfterThenSucceeds) {
  const std::string package = packaged("run");
  KitService::Reply busy;
  busy.status = 503;
  busy.retryAfter = 0.2;
  service_.script(KitService::kReports, busy);
  busy.status = 429;
  service_.script(KitService::kReports, busy);
  const auto begin = std::chrono::steady_clock::now();
  queue_->addOperationWithBlock(
      [&] { controller_->submitPackageMultipartMimeAtPath(package, false); });
  ASSERT_TRUE(eventually([&] { return delegate_->count() == 1; }));
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(400));
  EXPECT_FALSE(delegate_->at(0).second);
  EXPECT_EQ(service_.requests(KitService::kReports).size(), 3u);
  EXPECT_FALSE(fs::exists(package));
}

TEST_F(ReportUpload, AnAcceptedUploadWhoseReplyBodyIsCutShortIsDoneOnce) {
  const std::string package = packaged("run");
  service_.script(KitService::kReports, KitService::Reply::acceptedWithBodyCutShort());
  queue_->addOperationWithBlock(
      [&] { controller_->submitPackageMultipartMimeAtPath(package, false); });
  ASSERT_TRUE(eventually([&] { return delegate_->count() == 1; }, 20));
  EXPECT_FALSE(delegate_->at(0).second);
  EXPECT_FALSE(fs::exists(package));
  EXPECT_EQ(service_.requests(KitService::kReports).size(), 1u);
}

TEST_F(ReportUpload, RetriesAreBoundedAndAClientErrorKeepsThePackageWithoutARetry) {
  const std::string package = packaged("run");
  KitService::Reply down;
  down.status = 503;
  down.retryAfter = 0;
  down.times = -1;
  service_.script(KitService::kReports, down);
  queue_->addOperationWithBlock(
      [&] { controller_->submitPackageMultipartMimeAtPath(package, false); });
  ASSERT_TRUE(eventually([&] { return delegate_->count() == 1; }, 30));
  auto [path, error] = delegate_->at(0);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), -6);
  EXPECT_TRUE(MVXReportsController::shouldRetrySubmissionAfterError(error));
  EXPECT_EQ(service_.requests(KitService::kReports).size(),
            TSYNetworkClient::kDefaultRetryLimit + 1);
  EXPECT_TRUE(fs::exists(package));

  service_.reset();
  KitService::Reply refused;
  refused.status = 400;
  service_.script(KitService::kReports, refused);
  queue_->addOperationWithBlock(
      [&] { controller_->submitPackageMultipartMimeAtPath(package, false); });
  ASSERT_TRUE(eventually([&] { return delegate_->count() == 2; }));
  ASSERT_TRUE(delegate_->at(1).second);
  EXPECT_EQ(delegate_->at(1).second->code(), -5);
  EXPECT_FALSE(MVXReportsController::shouldRetrySubmissionAfterError(delegate_->at(1).second));
  EXPECT_TRUE(fs::exists(package));  // for the next launch
  const auto requests = service_.requests(KitService::kReports);
  ASSERT_EQ(requests.size(), 1u);
  // What arrived is the package byte for byte: each part's digest matches the file's part (whose
  // gzip data the packaging tests unpack to their records).
  const auto parts = parseMultipart(readFile(package), fs::path(package).stem().string());
  ASSERT_EQ(requests[0]["parts"].count(), parts.size());
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const Value& logged = requests[0]["parts"].at(i);
    EXPECT_EQ(logged["name"], Value(parts[i].name));
    EXPECT_EQ(logged["sha1"],
              Value(TSYSHA1HexStringForData(tw::Data(parts[i].data.begin(), parts[i].data.end()))));
  }
}

TEST_F(ReportUpload, ASecondStartWhileTheFirstRunsAndAGoneFileSendNothing) {
  const std::string package = packaged("run");
  {
    // Another process sending the package holds its lock: neither path sends it again.
    auto elsewhere = tw::FileLock::tryLock(package, false);
    ASSERT_TRUE(elsewhere);
    queue_->addOperationWithBlock(
        [&] { EXPECT_TRUE(controller_->submitPackageMultipartMimeAtPath(package, false)); });
    queue_->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(controller_->submitPackageMultipartMimeAtPath(package, true));
    queue_->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(service_.requests(KitService::kReports).empty());
  }
  KitService::Reply slow;
  slow.delaySeconds = 0.5;
  slow.status = 202;
  slow.json = Value(Dictionary{});
  service_.script(KitService::kReports, slow);
  queue_->addOperationWithBlock([&] {
    EXPECT_TRUE(controller_->submitPackageMultipartMimeAtPath(package, false));
    EXPECT_TRUE(controller_->submitPackageMultipartMimeAtPath(package, false));
  });
  ASSERT_TRUE(eventually([&] { return delegate_->count() == 1; }));
  EXPECT_FALSE(delegate_->at(0).second) << delegate_->at(0).second->localizedDescription();
  queue_->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(service_.requests(KitService::kReports).size(), 1u);
  // Uploaded and deleted: ignored without a request.
  bool again = true;
  queue_->addOperationWithBlock(
      [&] { again = controller_->submitPackageMultipartMimeAtPath(package, false); });
  queue_->waitUntilAllOperationsAreFinished();
  EXPECT_FALSE(again);
  EXPECT_FALSE(client_->relativeTaskPathForAbsolutePath("/elsewhere/x.multipartmime"));
  EXPECT_EQ(client_->relativeTaskPathForAbsolutePath(package),
            "v3/prepared/" + fs::path(package).filename().string());
  EXPECT_EQ(service_.requests(KitService::kReports).size(), 1u);

  // Two urgent starts for one package at the same moment, from two threads: one sends it.
  const std::string raced = packaged("raced");
  service_.script(KitService::kReports, slow);
  std::atomic<int> waiting{2};
  auto start = [&] {
    waiting.fetch_sub(1);
    while (waiting.load() > 0) std::this_thread::yield();
    controller_->submitPackageMultipartMimeAtPath(raced, true);
  };
  std::thread first(start), second(start);
  first.join();
  second.join();
  ASSERT_EQ(delegate_->count(), 2u);
  EXPECT_FALSE(delegate_->at(1).second);
  EXPECT_EQ(service_.requests(KitService::kReports).size(), 2u);
}

TEST_F(ReportUpload, TheUrgentPathIsSynchronousWithinTwoSeconds) {
  auto report = crashedReport("urgent", /*withSignal=*/false);
  KitService::Reply hang;
  hang.hang = true;
  service_.script(KitService::kReports, hang);
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_TRUE(controller_->prepareAndSubmitReport(report, true, true));
  const auto took = std::chrono::steady_clock::now() - begin;
  EXPECT_LT(took, std::chrono::milliseconds(5000));  // 2 s transfer limit, 3 s wait bound
  EXPECT_GE(took, std::chrono::milliseconds(1500));
  // No answer: nothing reported, the package stays for the next launch.
  EXPECT_EQ(delegate_->count(), 0u);
  ASSERT_EQ(files_->preparedPathContents().size(), 1u);
  // An exception-only crash is dated by the run's start.
  EXPECT_EQ(crashTimes_, std::vector<double>{1000});

  // Answered: the completion comes before the call returns.
  const std::string package = files_->preparedPathContents()[0];
  EXPECT_TRUE(controller_->submitPackageMultipartMimeAtPath(package, true));
  ASSERT_EQ(delegate_->count(), 1u);
  EXPECT_FALSE(delegate_->at(0).second);
  EXPECT_FALSE(fs::exists(package));
}

TEST_F(ReportUpload, PinningMatrix) {
  TempDir other;
  const fs::path der = other.path() / "other.der";
  const std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
      "-nodes -keyout " +
      (other.path() / "k").string() + " -out " + der.string() +
      " -outform DER -subj /CN=Other -days 2 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string package = packaged("run");
  // Pinned to another authority: the handshake fails, nothing reaches the service.
  makeController(std::make_shared<TSYCertificatePinner>(std::vector{loadCertificate(der)}));
  controller_->submitPackageMultipartMimeAtPath(package, true);
  EXPECT_TRUE(service_.requests(KitService::kReports).empty());
  EXPECT_EQ(delegate_->count(), 0u);
  // The kits' own pinned set does not hold the test authority either.
  makeController(nullptr);
  controller_->submitPackageMultipartMimeAtPath(package, true);
  EXPECT_TRUE(service_.requests(KitService::kReports).empty());
  // Debug mode turns pinning off: the system's trust (here the test authority) decides.
  MVXURLSession::setSystemTrustFileForTesting(service_.caFile());
  Tessaly::sharedSDK()->setDebug(true);
  makeController(std::make_shared<TSYCertificatePinner>(std::vector{loadCertificate(der)}));
  controller_->submitPackageMultipartMimeAtPath(package, true);
  Tessaly::sharedSDK()->setDebug(false);
  MVXURLSession::setSystemTrustFileForTesting({});
  EXPECT_EQ(service_.requests(KitService::kReports).size(), 1u);
  EXPECT_EQ(delegate_->count(), 1u);
}

TEST_F(ReportUpload, FailuresBeforeTheUploadLeaveTheReportWhereItWas) {
  auto report = crashedReport("run");
  int processed = 0;
  controller_->setReportProcessor([&](const auto&) { ++processed; });
  // A report directory another live process holds is left alone.
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = fork();
  if (child == 0) {
    auto lock = MVXFileManager::lockReportDirectory(report->path());
    char c = 'y';
    (void)!::write(ready[1], &c, 1);
    (void)!::read(release[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_FALSE(controller_->prepareAndSubmitReport(report, false, true));
  (void)!::write(release[1], &c, 1);
  ::waitpid(child, nullptr, 0);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
  EXPECT_EQ(files_->activePathContents().size(), 1u);

  // The move into processing fails: neither processed nor packaged.
  fs::remove_all(files_->processingPath());
  tw::LogCapture log;
  EXPECT_FALSE(controller_->prepareAndSubmitReport(report, false, true));
  EXPECT_TRUE(log.contains("[Morvex:Crash:Reports] Unable to move report for processing"));
  EXPECT_EQ(processed, 0);
  EXPECT_TRUE(files_->preparedPathContents().empty());
  EXPECT_EQ(files_->activePathContents().size(), 1u);

  // Collection off: handled, nothing touched.
  Tessaly::setMorvexCollectionEnabled(false);
  EXPECT_TRUE(controller_->prepareAndSubmitReport(report, false, true));
  Tessaly::setMorvexCollectionEnabled(true);
  EXPECT_TRUE(
      log.contains("[Morvex:Crash:Reports] Data collection disabled and will not submit report"));
  EXPECT_EQ(files_->activePathContents().size(), 1u);
  EXPECT_TRUE(service_.requests(KitService::kReports).empty());
}

}  // namespace
}  // namespace tw::test
