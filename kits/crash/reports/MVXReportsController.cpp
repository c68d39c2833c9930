#include "kits/crash/reports/MVXReportsController.h"

#include "kits/crash/capture/MVXSetUp.h"
#include "kits/crash/capture/MVXUtilities.h"
#include "kits/crash/reports/MVXPackageReportOperation.h"
#include "kits/platform/KitServiceEndpoints.h"
#include "kits/platform/Tessaly.h"
#include "kits/platform/net/TSYMultipartMimeStreamEncoder.h"
#include "kits/platform/net/TSYNetworkResponseHandler.h"
#include "kits/platform/net/TSYURLBuilder.h"
#include "kits/platform/settings/TSYNetworkOperation.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"

#include <filesystem>

namespace {

// Sudden and automatic termination disabled.
constexpr std::uint64_t kProcessingActivityOptions = 0xC000;
constexpr const char* kUserAgent = "Morvex Mac SDK/3.12.0";

void logReports(const std::string& message) { tw::log("[Morvex:Crash:Reports] " + message); }

}  // namespace

MVXReportsController::MVXReportsController(
    std::shared_ptr<tw::OperationQueue> queue,
    const std::shared_ptr<MVXReportsControllerDelegate>& delegate,
    std::shared_ptr<MVXNetworkClient> client, std::shared_ptr<MVXFileManager> fileManager)
    : operationQueue_(std::move(queue)),
      delegate_(delegate),
      networkClient_(std::move(client)),
      fileManager_(std::move(fileManager)) {}

bool MVXReportsController::debugMode() { return Tessaly::sharedSDK()->debug(); }

MVXSettings MVXReportsController::settings() {
  auto delegate = delegate_.lock();
  return delegate ? delegate->settingsForReportsController(*this) : MVXSettings();
}

std::string MVXReportsController::appBundleIdentifier() {
  auto delegate = delegate_.lock();
  return delegate ? delegate->bundleIdentifierForReportsController(*this) : std::string();
}

std::optional<std::string> MVXReportsController::APIKey() {
  auto delegate = delegate_.lock();
  return delegate ? delegate->APIKeyForReportsController(*this) : std::nullopt;
}

std::string MVXReportsController::reportEndpoint() { return settings().reportsEndpoint(); }

std::string MVXReportsController::reportURL() {
  auto builder = TSYURLBuilder::URLWithBase(reportEndpoint());
  builder->appendComponent("/sdk-api/v1/platforms/");
  builder->appendComponent("mac");
  builder->appendComponent("/apps/");
  builder->escapeAndAppendComponent(appBundleIdentifier());
  builder->appendComponent("/reports");
  return builder->URLString();
}

bool MVXReportsController::submissionEnabled() { return settings().shouldSubmitReports(); }
bool MVXReportsController::packagingEnabled() { return settings().shouldPackageReports(); }

std::string MVXReportsController::localeIdentifier() {
  return TSYNetworkOperation::localeIdentifier();
}

tw::URLRequest MVXReportsController::mutableRequestWithURL(const std::string& url, double timeout) {
  tw::URLRequest request;
  request.url = url;
  request.timeoutInterval = timeout;
  const std::string locale = localeIdentifier();
  request.setValue(std::string(kUserAgent), "User-Agent");
  request.setValue(std::string("application/json"), "Accept");
  request.setValue(std::string("utf-8"), "Accept-Charset");
  request.setValue(locale, "Accept-Language");
  request.setValue(locale, "Content-Language");
  request.setValue(std::string(tw::kitservice::kDeveloperToken), "X-Morvex-Developer-Token");
  request.setValue(std::string("com.pelworth.morvex.mac"), "X-Morvex-API-Client-Id");
  request.setValue(std::string("3.12.0"), "X-Morvex-API-Client-Display-Version");
  request.setValue(std::string("136"), "X-Morvex-API-Client-Build-Version");
  request.setValue(APIKey(), "X-Morvex-API-Key");
  return request;
}

bool MVXReportsController::fillInRequest(tw::URLRequest& request, const std::string& packagePath) {
  const auto size = fileManager_->fileSizeAtPath(packagePath);
  if (!size) {
    logReports("Could not determine size of multipart mime file");
    return false;
  }
  const std::string boundary = std::filesystem::path(packagePath).stem().string();
  request.setValue(TSYMultipartMimeStreamEncoder::contentTypeHTTPHeaderValueWithBoundary(boundary),
                   "Content-Type");
  request.setValue(std::to_string(*size), "Content-Length");
  request.bodyFile = packagePath;
  return true;
}

bool MVXReportsController::prepareAndSubmitReport(const std::shared_ptr<MVXInternalReport>& report,
                                                  bool urgent, bool withProcessing) {
  if (!Tessaly::isMorvexCollectionEnabled()) {
    logReports("Data collection disabled and will not submit report");
    return true;
  }
  if (!report) return false;
  bool started = false;
  // The application's ending waits for a report half moved, processed or packaged.
  MVXApplicationActivity(kProcessingActivityOptions, "Morvex Crash Report Processing",
                         [&] { started = process(report, urgent, withProcessing); });
  return started;
}

bool MVXReportsController::process(const std::shared_ptr<MVXInternalReport>& report, bool urgent,
                                   bool withProcessing) {
  // Held until the directory is gone: another process skips a directory this one works on.
  std::error_code ec;
  auto lock = std::filesystem::is_directory(report->path(), ec)
                  ? MVXFileManager::lockReportDirectory(report->path())
                  : nullptr;
  if (!lock) {
    logReports(withProcessing ? "Unable to move report for processing"
                              : "Unable to lock report for packaging");
    return false;
  }
  if (withProcessing) {
    if (!fileManager_->moveItemAtPath(report->path(), fileManager_->processingPath())) {
      logReports("Unable to move report for processing");
      return false;
    }
    report->setPath(fileManager_->processingPath() + "/" + report->directoryName());
    if (processor_) processor_(report);
  }
  if (!packagingEnabled()) {
    logReports("Report packaging disabled");
    return false;
  }
  MVXPackageReportOperation packaging(report, fileManager_);
  packaging.start();
  const auto finalPath = packaging.finalPath();
  if (!finalPath) {
    logReports("Unable to package report");
    return false;
  }
  // A crash record without a time of its own dates the crash by the run's start.
  const auto crashDate = report->crashedOnDate() ? report->crashedOnDate() : report->dateCreated();
  const bool isCrash = report->isCrash();
  if (!fileManager_->removeItemAtPath(report->path()))
    logReports("Unable to remove a processing item");
  lock.reset();
  logReports(tw::format("Packaged report with id '%@' for submission", report->identifier()));
  const bool started = uploadPackagedReportAtPath(*finalPath, urgent);
  if (isCrash && started && crashEventLogger_) {
    crashEventLogger_(crashDate ? crashDate->secondsSince1970 : 0,
                      settings().emberlynMorvexEnabled());
  }
  return started;
}

bool MVXReportsController::uploadPackagedReportAtPath(const std::string& path, bool urgent) {
  if (!submissionEnabled()) {
    logReports("Submission disabled");
    return false;
  }
  if (debugMode()) logReports(tw::format("Submitting report%@", urgent ? " as urgent" : ""));
  return submitPackageMultipartMimeAtPath(path, urgent);
}

bool MVXReportsController::submitPackageMultipartMimeAtPath(const std::string& path,
                                                            bool synchronously) {
  if (debugMode())
    logReports(tw::format("Submitting %@ %@", synchronously ? "sync" : "async", path));
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size == 0) {
    if (debugMode()) logReports("Already-submitted report being ignored");
    return false;
  }
  const bool background = networkClient_ && networkClient_->supportsBackgroundRequests();
  const double timeout = synchronously ? (background ? 10 : 2) : 10;
  tw::URLRequest request = mutableRequestWithURL(reportURL(), timeout);
  request.method = "POST";
  if (!fillInRequest(request, path)) return false;
  if (!networkClient_) return false;
  networkClient_->startUploadRequest(request, path, synchronously);
  return true;
}

bool MVXReportsController::cleanUpSubmittedReportAtPath(const std::string& path) {
  if (fileManager_->removeItemAtPath(path)) return true;
  logReports("Unable to remove packaged submission");
  return false;
}

void MVXReportsController::reportUploadAtPath(const std::string& path, const tw::ErrorPtr& error) {
  if (debugMode()) logReports(tw::format("completed submission of %@", path));
  if (!error) cleanUpSubmittedReportAtPath(path);
  if (auto delegate = delegate_.lock())
    delegate->reportsControllerDidCompletePackageSubmission(*this, path, error);
}

bool MVXReportsController::shouldRetrySubmissionAfterError(const tw::ErrorPtr& error) {
  if (!error) return false;
  return !(error->domain() == TSYNetworkErrorDomain && error->code() == -5);
}
