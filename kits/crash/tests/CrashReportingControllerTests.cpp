#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "kits/crash/controller/MVXCrashReportingController.h"
#include "kits/crash/reports/tests/ReportFixtures.h"
#include "kits/crash/tests/CrashKitFixture.h"
#include "platform/foundation/Log.h"

namespace fs = std::filesystem;

namespace tw::test {
namespace {

class FakeControllerDelegate : public MVXCrashReportingControllerDelegate {
 public:
  std::optional<std::string> APIKeyForCrashReportingController(
      MVXCrashReportingController&) override {
    return "0123456789abcdef0123456789abcdef01234567";
  }
  std::string installIDForCrashReportingController(MVXCrashReportingController&) override {
    return "install-1";
  }
  bool isFirstInstallForCrashReportingController(MVXCrashReportingController&) override {
    return true;
  }
  MVXSettings settingsForCrashReportingController(MVXCrashReportingController&) override {
    return MVXSettings::withSettingsValue(settings);
  }
  bool shouldInstallCrashCallback() override { return true; }
  void detectedCrash() override {}
  bool reportingControllerEnsureDeliveryOfUnixSignal(MVXCrashReportingController&,
                                                     int signal) override {
    return signal == SIGABRT;
  }
  bool reportingControllerMustInformDelegateOfReports(MVXCrashReportingController&) override {
    return mustInform;
  }
  bool reportingControllerCanUseBackgroundSessions(MVXCrashReportingController&) override {
    return false;
  }
  void reportingControllerInternalDidDetectReportForLastExecution(
      MVXCrashReportingController&, const std::shared_ptr<MVXInternalReport>& report) override {
    std::lock_guard lock(mutex);
    detected.push_back(report->identifier());
  }
  void reportingControllerDidDetectReportForLastExecution(
      MVXCrashReportingController&, const std::shared_ptr<MVXInternalReport>& report,
      SubmitCompletion completion) override {
    {
      std::lock_guard lock(mutex);
      offered.push_back(report->identifier());
    }
    completion(submit);
  }

  Value settings;
  bool mustInform = false;
  bool submit = true;
  std::mutex mutex;
  std::vector<std::string> detected, offered;
};

class CrashReportingControllerTest : public CrashKitTest {
 protected:
  void SetUp() override {
    CrashKitTest::SetUp();
    tw::crash::setContextInitializerForTesting([this](const MVXContextSettings* s) {
      context_ = *s;
      reportDirectory_ = s->reportDirectory;
      reportIdentifier_ = s->reportIdentifier;
      installIdentifier_ = s->installIdentifier;
      betaToken_ = s->betaToken ? s->betaToken : "";
      return true;
    });
  }
  void TearDown() override {
    if (controller_) controller_->operationQueue()->waitUntilAllOperationsAreFinished();
    controller_.reset();
    tw::crash::setContextInitializerForTesting(nullptr);
    tw::crash::setPermissionAlertPresenter(nullptr);
    CrashKitTest::TearDown();
  }

  std::shared_ptr<MVXCrashReportingController> makeController() {
    files_ = std::make_shared<MVXFileManager>((xdg_->root() / "reports").string());
    controller_ = MVXCrashReportingController::initWithFileManager(files_, delegate_);
    return controller_;
  }

  // An earlier run's report directory in "active": a crash, or (crashed false) a run that left
  // nothing worth sending; `metadata` false leaves it without metadata.
  std::string leftover(const std::string& name, bool crashed = true, bool metadata = true) {
    std::string dir = files_->activePath() + "/" + name;
    fs::create_directories(dir);
    if (metadata) writeReport(dir, name + "-id", kApiKey);
    if (crashed) writeFile(dir + "/signal.mvxrecord", "{\"signal\":{\"time\":1700000000}}\n");
    writeFile(dir + "/log_a.mvxrecord", "");
    return dir;
  }

  void drainWork() {
    controller_->operationQueue()->waitUntilAllOperationsAreFinished();
    RunLoop::main().drain();
    controller_->operationQueue()->waitUntilAllOperationsAreFinished();
  }

  std::size_t uploads() { return service_->requests(KitService::kReports).size(); }

  std::shared_ptr<FakeControllerDelegate> delegate_ = std::make_shared<FakeControllerDelegate>();
  std::shared_ptr<MVXFileManager> files_;
  std::shared_ptr<MVXCrashReportingController> controller_;
  MVXContextSettings context_;
  std::string reportDirectory_, reportIdentifier_, installIdentifier_, betaToken_;
};

// (The bundle always has an identifier here: the platform's bundle supplies a default.)
TEST_F(CrashReportingControllerTest, ReportingOffEmptiesTheStoreAndCapturesNothing) {
  writeInfo(info());
  delegate_->settings = Value(Dictionary{{"features", Dictionary{{"collect_reports", false}}}});
  auto controller = makeController();
  ASSERT_TRUE(files_->prepareForNewLaunch());
  const std::string old = leftover("old");
  EXPECT_FALSE(controller->startWithProfilingMark(0, std::nullopt));
  EXPECT_FALSE(fs::exists(old));
  EXPECT_TRUE(reportDirectory_.empty());  // no capture context
}

// A launch after one that died before its first main-queue turn: the current run gets its
// directory and context; the earlier crash goes out at once (urgent), a directory without
// metadata and one with nothing to send are removed, and the marker goes on the first turn.
TEST_F(CrashReportingControllerTest, UrgentLaunchSetsUpTheRunAndHandlesLeftovers) {
  auto& service = startService();
  writeInfo(info());
  auto controller = makeController();
  ASSERT_TRUE(files_->prepareForNewLaunch());
  const std::string crashed = leftover("crashed");
  const std::string bare = leftover("bare", true, false);
  const std::string quiet = leftover("quiet", false);
  ASSERT_TRUE(controller->createLaunchFailureMarker());

  ASSERT_TRUE(controller->startWithProfilingMark(0, std::string("beta-1")));
  auto current = controller->currentReport();
  ASSERT_TRUE(current);
  EXPECT_EQ(reportDirectory_, current->path());
  EXPECT_EQ(fs::path(reportDirectory_).parent_path(), fs::path(files_->activePath()));
  EXPECT_EQ(reportIdentifier_, Tessaly::sharedSDK()->executionIdentifier());
  EXPECT_EQ(installIdentifier_, "install-1");
  EXPECT_EQ(betaToken_, "beta-1");
  EXPECT_TRUE(context_.firstInstall);
  EXPECT_EQ(context_.crashCallbackTarget, controller.get());
  EXPECT_EQ(context_.immediateDeliveryDelegate, nullptr);
  EXPECT_EQ(context_.machExceptionMask, 1u << SIGABRT);
  EXPECT_EQ(context_.logBufferSize, 65536u);
  EXPECT_EQ(context_.maxCustomKeys, 16u);
  EXPECT_EQ(context_.maxCustomExceptions, 16u);
  EXPECT_TRUE(context_.errorReportingEnabled);

  // Urgent: sent on the starting thread, before start returned; the delegate was not asked.
  EXPECT_EQ(service.requests(KitService::kReports).size(), 1u);
  EXPECT_EQ(delegate_->detected, std::vector<std::string>{"crashed-id"});
  EXPECT_TRUE(delegate_->offered.empty());
  EXPECT_TRUE(controller->launchFailureMarkerPresent());
  drainWork();
  EXPECT_FALSE(fs::exists(crashed));
  EXPECT_FALSE(fs::exists(bare));
  EXPECT_FALSE(fs::exists(quiet));
  EXPECT_TRUE(fs::exists(current->path()));
  EXPECT_FALSE(controller->launchFailureMarkerPresent());
  EXPECT_EQ(service.requests(KitService::kReports).size(), 1u);
}

// Without the marker, reports go through the delegate; a half-processed report and a packaged
// one left by a killed launch are finished and sent once each.
TEST_F(CrashReportingControllerTest, LeftoversGoThroughTheDelegateAndOtherDirectories) {
  auto& service = startService();
  writeInfo(info());
  auto controller = makeController();
  ASSERT_TRUE(files_->prepareForNewLaunch());
  leftover("offered");
  const std::string half = leftover("half");
  fs::rename(half, files_->processingPath() + "/half");

  ASSERT_TRUE(controller->startWithProfilingMark(0, std::nullopt));
  ASSERT_TRUE(pumpMainUntil([&] { return uploads() == 2; }, 15));
  ASSERT_TRUE(pumpMainUntil([&] { return files_->preparedPathContents().empty(); }, 15));
  drainWork();
  EXPECT_EQ(delegate_->offered, std::vector<std::string>{"offered-id"});
  EXPECT_TRUE(files_->processingPathContents().empty());
  EXPECT_TRUE(files_->preparedPathContents().empty());
  for (const Value& r : service.requests(KitService::kReports)) {
    EXPECT_EQ(r["problems"].count(), 0u) << r["problems"];
  }

  // The delegate declines: the report is removed, nothing sent.
  delegate_->submit = false;
  const std::string declined = leftover("declined");
  controller->processExistingActiveReportPath(declined, false);
  drainWork();
  EXPECT_FALSE(fs::exists(declined));
  EXPECT_EQ(uploads(), 2u);
}

// Earlier runs' entries whose files are a folder, empty or other bytes: report directories whose
// metadata cannot be read (in active and in processing) and prepared packages that are none are
// kept in the damaged folder, never sent or removed; a record file turned folder is left out of
// its package; the good report is still sent.
TEST_F(CrashReportingControllerTest, DamagedLeftoversAreKeptAsideAndTheRestIsSent) {
  startService();
  writeInfo(info());
  auto controller = makeController();
  ASSERT_TRUE(files_->prepareForNewLaunch());
  const std::string good = leftover("good");
  fs::create_directories(good + "/errors_a.mvxrecord");
  const std::map<std::string, std::string> garbage{{"empty", ""},
                                                   {"garbage", "\x01\xff{not json\n"}};
  std::set<std::string> damaged;
  for (const std::string kind : {"folder", "empty", "garbage"}) {
    for (const std::string& parent : {files_->activePath(), files_->processingPath()}) {
      std::string name = kind;
      name += "-";
      name += fs::path(parent).filename().string();
      std::string dir = parent;
      dir += "/";
      dir += name;
      fs::create_directories(dir);
      writeFile(dir + "/signal.mvxrecord", "{\"signal\":{\"time\":1700000000}}\n");
      if (kind == "folder")
        fs::create_directories(dir + "/metadata.mvxrecord");
      else
        writeFile(dir + "/metadata.mvxrecord", garbage.at(kind));
      damaged.insert(name);
    }
    if (kind == "empty") continue;  // an empty package is one already sent
    const std::string package = files_->preparedPath() + "/" + kind + ".multipartmime";
    if (kind == "folder")
      fs::create_directories(package);
    else
      writeFile(package, garbage.at(kind));
    damaged.insert(kind + ".multipartmime");
  }

  tw::LogCapture log;
  ASSERT_TRUE(controller->startWithProfilingMark(0, std::nullopt));
  ASSERT_TRUE(pumpMainUntil([&] { return uploads() == 1; }, 15));
  ASSERT_TRUE(pumpMainUntil(
      [&] {
        return files_->preparedPathContents().empty() && files_->processingPathContents().empty();
      },
      15));
  drainWork();
  EXPECT_EQ(files_->activePathContents(),
            std::vector<std::string>{controller->currentReport()->path()});
  std::set<std::string> kept;
  for (const auto& entry : fs::directory_iterator(files_->damagedPath())) {
    const std::string name = entry.path().filename().string();
    kept.insert(name.substr(0, name.find(".corrupt-")));
  }
  EXPECT_EQ(kept, damaged);
  EXPECT_TRUE(log.contains("its metadata cannot be read"));
  EXPECT_TRUE(log.contains("it is not a package"));
  EXPECT_EQ(uploads(), 1u);
  const auto parts = service_->requests(KitService::kReports)[0]["parts"];
  EXPECT_EQ(parts.description().find("errors_a"), std::string::npos);
}

// With the prompt on, one alert answers for the run: "Always Send" sends every later report
// without asking again, "Don't Send" removes them. The choice is in force as soon as the alert
// returns, so alerts already waiting on the main queue do not ask again.
TEST_F(CrashReportingControllerTest, PermissionPromptIsAskedOncePerRun) {
  startService();
  writeInfo(info());
  delegate_->settings = Value(Dictionary{{"features", Dictionary{{"prompt_enabled", true}}}});
  std::vector<tw::crash::PermissionAlert> shown;
  long answer = 1001;
  tw::crash::setPermissionAlertPresenter([&](const tw::crash::PermissionAlert& alert) {
    shown.push_back(alert);
    return answer;
  });
  auto controller = makeController();
  ASSERT_TRUE(files_->prepareForNewLaunch());
  const std::string a = leftover("a"), b = leftover("b");
  ASSERT_TRUE(controller->startWithProfilingMark(0, std::nullopt));
  ASSERT_TRUE(pumpMainUntil([&] { return uploads() == 2; }, 15));
  drainWork();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].messageText, "Send Crash Report?");
  EXPECT_EQ(shown[0].buttons, (std::vector<std::string>{"Send", "Always Send", "Don't Send"}));
  EXPECT_EQ(controller->promptChoice(), MVXCrashReportingController::kAlwaysSend);

  // A new run: "Don't Send" removes both reports.
  answer = 1002;
  shown.clear();
  controller_->operationQueue()->waitUntilAllOperationsAreFinished();
  controller = makeController();
  const std::string c = leftover("c"), d = leftover("d");
  ASSERT_TRUE(controller->startWithProfilingMark(0, std::nullopt));
  ASSERT_TRUE(pumpMainUntil([&] { return !fs::exists(c) && !fs::exists(d); }, 15));
  EXPECT_EQ(shown.size(), 1u);
  EXPECT_EQ(controller->promptChoice(), MVXCrashReportingController::kDoNotSend);
  EXPECT_EQ(uploads(), 2u);
}

}  // namespace
}  // namespace tw::test
