#pragma once
// MVXReportsController: carries a report of an earlier run from its directory to the kits' web
// service: moves it into "processing" (holding its directory lock, so no second process works on
// it), has it symbolicated, packages it into "prepared", removes the directory, builds the upload
// request and hands the package to MVXNetworkClient; after a successful upload it deletes the
// package and tells its delegate either way.
//
// Plugged in by the crash kit when it assembles the controller (both may stay empty):
// - the report processor: symbolicates one report directory in place, on the calling thread
//   (MVXProcessReportOperation with a fresh MVXSymbolResolver, started synchronously);
// - the crash event logger: hands a packaged crash's time (seconds since 1970) to the analytics
//   bridge (MVXEBVAnalytics logCrashWithTimeStamp:emberlynMorvexEnabled:).
//
// Owned by the crash reporting controller, which is its delegate (held weakly). Every call comes
// from the kit's work queue, except the urgent path, which runs on the kit's start-up thread.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kits/crash/reports/MVXFileManager.h"
#include "kits/crash/reports/MVXInternalReport.h"
#include "kits/crash/reports/MVXNetworkClient.h"
#include "kits/crash/reports/MVXSettings.h"
#include "kits/platform/net/URLRequest.h"
#include "platform/foundation/OperationQueue.h"

class MVXReportsController;

class MVXReportsControllerDelegate {
 public:
  virtual ~MVXReportsControllerDelegate() = default;
  virtual MVXSettings settingsForReportsController(MVXReportsController& controller) = 0;
  virtual std::optional<std::string> APIKeyForReportsController(
      MVXReportsController& controller) = 0;
  // The escaped bundle identifier.
  virtual std::string bundleIdentifierForReportsController(MVXReportsController& controller) = 0;
  virtual void reportsControllerDidCompletePackageSubmission(MVXReportsController& controller,
                                                             const std::string& packagePath,
                                                             const tw::ErrorPtr& error) = 0;
};

class MVXReportsController {
 public:
  using ReportProcessor = std::function<void(const std::shared_ptr<MVXInternalReport>& report)>;
  using CrashEventLogger = std::function<void(double crashTime, bool emberlynMorvexEnabled)>;

  MVXReportsController(std::shared_ptr<tw::OperationQueue> queue,
                       const std::shared_ptr<MVXReportsControllerDelegate>& delegate,
                       std::shared_ptr<MVXNetworkClient> client,
                       std::shared_ptr<MVXFileManager> fileManager);

  void setReportProcessor(ReportProcessor processor) { processor_ = std::move(processor); }
  void setCrashEventLogger(CrashEventLogger logger) { crashEventLogger_ = std::move(logger); }

  MVXSettings settings();
  std::string appBundleIdentifier();
  std::optional<std::string> APIKey();
  std::string reportEndpoint();
  std::string reportURL();
  bool submissionEnabled();
  bool packagingEnabled();
  static std::string localeIdentifier();
  tw::URLRequest mutableRequestWithURL(const std::string& url, double timeout);
  bool fillInRequest(tw::URLRequest& request, const std::string& packagePath);

  // Whether an upload was started; true without touching anything when collection is off.
  bool prepareAndSubmitReport(const std::shared_ptr<MVXInternalReport>& report, bool urgent,
                              bool withProcessing);
  bool submitPackageMultipartMimeAtPath(const std::string& path, bool synchronously);
  bool uploadPackagedReportAtPath(const std::string& path, bool urgent);
  bool cleanUpSubmittedReportAtPath(const std::string& path);
  void reportUploadAtPath(const std::string& path, const tw::ErrorPtr& error);

  // Whether a failed submission is worth the 600-second retry in this process: not when the
  // service refused the request itself (a client error), which the next launch tries again.
  static bool shouldRetrySubmissionAfterError(const tw::ErrorPtr& error);

  const std::shared_ptr<tw::OperationQueue>& operationQueue() const { return operationQueue_; }
  const std::shared_ptr<MVXNetworkClient>& networkClient() const { return networkClient_; }
  const std::shared_ptr<MVXFileManager>& fileManager() const { return fileManager_; }

 private:
  bool process(const std::shared_ptr<MVXInternalReport>& report, bool urgent, bool withProcessing);
  static bool debugMode();

  std::shared_ptr<tw::OperationQueue> operationQueue_;
  std::weak_ptr<MVXReportsControllerDelegate> delegate_;
  std::shared_ptr<MVXNetworkClient> networkClient_;
  std::shared_ptr<MVXFileManager> fileManager_;
  ReportProcessor processor_;
  CrashEventLogger crashEventLogger_;
};
