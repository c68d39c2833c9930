#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kits/crash/Morvex.h"
#include "kits/crash/reports/tests/ReportFixtures.h"
#include "kits/crash/tests/CrashKitFixture.h"

namespace tw::test {
namespace {

// A delegate implementing the selectors it is given; records what it was sent.
class RecordingDelegate : public MorvexDelegate {
 public:
  explicit RecordingDelegate(std::vector<std::string> selectors)
      : selectors_(std::move(selectors)) {}
  bool implements(std::string_view selector) const override {
    for (const auto& s : selectors_) {
      if (s == selector) return true;
    }
    return false;
  }
  void morvexDidDetectReportForLastExecution(const std::shared_ptr<MVXCrashReport>& report,
                                             const std::function<void(bool)>& completion) override {
    sent.push_back("completion:" + report->identifier());
    completion(false);
  }
  void morvexDidDetectReportForLastExecution(
      const std::shared_ptr<MVXCrashReport>& report) override {
    sent.push_back("report:" + report->identifier());
  }
  void morvexDidDetectCrashDuringPreviousExecution(
      Morvex&, const std::shared_ptr<MVXCrashReport>&) override {
    sent.push_back("legacy-report");
  }
  void morvexDidDetectCrashDuringPreviousExecution(Morvex&) override { sent.push_back("legacy"); }

  std::vector<std::string> sent;

 private:
  std::vector<std::string> selectors_;
};

class FacadeDelegate : public CrashKitTest {
 protected:
  void SetUp() override {
    CrashKitTest::SetUp();
    writeInfo(info());
    writeReport(dir_.path().string(), "run-1");
    report_ = MVXInternalReport::reportWithPath(dir_.path().string());
    ASSERT_TRUE(report_);
  }

  // The submit decision the controller would get for the report, and the delegate's messages
  // once the main queue ran.
  std::optional<bool> offer(const std::shared_ptr<RecordingDelegate>& delegate) {
    auto kit = std::make_shared<Morvex>();
    if (delegate) kit->setDelegate(delegate);
    auto files = std::make_shared<MVXFileManager>(dir_.path().string());
    auto controller = MVXCrashReportingController::initWithFileManager(files, kit);
    std::optional<bool> submitted;
    kit->reportingControllerDidDetectReportForLastExecution(
        *controller, report_, [&](bool submit) { submitted = submit; });
    RunLoop::main().drain();
    return submitted;
  }

  TempDir dir_;
  std::shared_ptr<MVXInternalReport> report_;
};

TEST_F(FacadeDelegate, ReportsReachTheDelegateFormsItImplements) {
  // No report methods: submitted without a word.
  EXPECT_EQ(offer(nullptr), std::optional<bool>(true));

  // Only the plain form: told, and the report is still submitted.
  auto plain = std::make_shared<RecordingDelegate>(
      std::vector<std::string>{"morvexDidDetectReportForLastExecution:"});
  EXPECT_EQ(offer(plain), std::optional<bool>(true));
  EXPECT_EQ(plain->sent, std::vector<std::string>{"report:run-1"});

  // The completion form decides; the deprecated forms follow on the main queue.
  auto full = std::make_shared<RecordingDelegate>(
      std::vector<std::string>{"morvexDidDetectReportForLastExecution:completionHandler:",
                               "morvex:didDetectCrashDuringPreviousExecution:",
                               "morvexDidDetectCrashDuringPreviousExecution:"});
  EXPECT_EQ(offer(full), std::optional<bool>(false));
  EXPECT_EQ(full->sent, (std::vector<std::string>{"completion:run-1", "legacy-report", "legacy"}));
}

TEST_F(FacadeDelegate, DebugModeIsOnWhateverTheArgument) {
  auto kit = std::make_shared<Morvex>();
  Tessaly::sharedSDK()->setDebug(false);
  kit->setDebugMode(false);
  EXPECT_TRUE(kit->debugMode());
}

}  // namespace
}  // namespace tw::test
