#pragma once
// MVXCrashReportingController: the crash kit's work on every launch. Checks the preconditions,
// readies the report store, notices a launch that never reached its first main-queue turn, opens
// the current run's report directory and hands the capture core a context for it, then deals
// with what earlier runs left: active reports are offered to the delegate (or submitted at once
// when urgent), half-processed ones are finished and packaged files uploaded again. It also asks
// the user for permission through the application's alert presenter when the settings ask for a
// prompt, records application-state keys and retries failed uploads every 600 seconds.
//
// Created once by the facade (its delegate, held weakly) and alive for the process. The start
// runs on the facade's thread; removals, delegate completions, prompt results and uploads run on
// the work queue "com.pelworth.morvex.mac.work-queue"; the prompt, the 2-second handler checks
// and the launch-marker removal run on the main queue.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kits/crash/capture/MVXContext.h"
#include "kits/crash/reports/MVXFileManager.h"
#include "kits/crash/reports/MVXInternalReport.h"
#include "kits/crash/reports/MVXNetworkClient.h"
#include "kits/crash/reports/MVXReportsController.h"
#include "kits/crash/reports/MVXSettings.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"

class MVXCrashReportingController;

class MVXCrashReportingControllerDelegate {
 public:
  using SubmitCompletion = std::function<void(bool submit)>;
  virtual ~MVXCrashReportingControllerDelegate() = default;
  virtual std::optional<std::string> APIKeyForCrashReportingController(
      MVXCrashReportingController& controller) = 0;
  virtual std::string installIDForCrashReportingController(
      MVXCrashReportingController& controller) = 0;
  virtual bool isFirstInstallForCrashReportingController(
      MVXCrashReportingController& controller) = 0;
  virtual MVXSettings settingsForCrashReportingController(
      MVXCrashReportingController& controller) = 0;
  virtual bool shouldInstallCrashCallback() = 0;
  // On the crashing thread, while the process dies: no allocation, no locks.
  virtual void detectedCrash() = 0;
  virtual bool reportingControllerEnsureDeliveryOfUnixSignal(
      MVXCrashReportingController& controller, int signal) = 0;
  virtual bool reportingControllerMustInformDelegateOfReports(
      MVXCrashReportingController& controller) = 0;
  virtual bool reportingControllerCanUseBackgroundSessions(
      MVXCrashReportingController& controller) = 0;
  virtual void reportingControllerInternalDidDetectReportForLastExecution(
      MVXCrashReportingController& controller,
      const std::shared_ptr<MVXInternalReport>& report) = 0;
  // The delegate calls `completion` once, on any thread.
  virtual void reportingControllerDidDetectReportForLastExecution(
      MVXCrashReportingController& controller, const std::shared_ptr<MVXInternalReport>& report,
      SubmitCompletion completion) = 0;
};

namespace tw::crash {

// The permission prompt as the application's alert shows it: title, message and buttons in
// order (send, always send when given, cancel).
struct PermissionAlert {
  std::string messageText;
  std::string informativeText;
  std::vector<std::string> buttons;
};
// Runs the alert modally on the main thread and returns 1000 + the index of the chosen button.
using PermissionAlertPresenter = std::function<long(const PermissionAlert& alert)>;
// The application installs its presenter at launch (nullptr removes it). Any thread.
void setPermissionAlertPresenter(PermissionAlertPresenter presenter);

// Test-only: what installs the capture handlers (nullptr restores MVXContextInitialize).
void setContextInitializerForTesting(std::function<bool(const MVXContextSettings*)> initializer);

}  // namespace tw::crash

class MVXCrashReportingController
    : public MVXNetworkClientDelegate,
      public MVXReportsControllerDelegate,
      public MVXCrashCallbackTarget,
      public std::enable_shared_from_this<MVXCrashReportingController> {
 public:
  static constexpr const char* kWorkQueueName = "com.pelworth.morvex.mac.work-queue";
  static constexpr const char* kLaunchMarkerName = "launchmarker";
  static constexpr double kRetryDelaySeconds = 600;
  static constexpr double kHandlerCheckDelaySeconds = 2.0;

  enum PromptChoice : int { kNotAsked = 0, kDoNotSend = 1, kSend = 2, kAlwaysSend = 3 };

  static std::shared_ptr<MVXCrashReportingController> initWithFileManager(
      std::shared_ptr<MVXFileManager> fileManager,
      const std::weak_ptr<MVXCrashReportingControllerDelegate>& delegate);
  ~MVXCrashReportingController() override;

  // True when crash reporting runs for this run. `mark` is the facade's MVXProfileMark.
  bool startWithProfilingMark(std::uint64_t mark, const std::optional<std::string>& betaToken);

  bool checkPreconditions();
  bool prepareForNewLaunch();
  bool checkForAndCreateLaunchMarker();
  std::shared_ptr<MVXInternalReport> setupCurrentReport();
  bool startCrashReporterWithAPIKey(const std::optional<std::string>& apiKey,
                                    const std::optional<std::string>& betaToken, std::uint64_t mark,
                                    const std::shared_ptr<MVXInternalReport>& report);
  bool installCrashReportingHandlers(const MVXContextSettings& context);
  void crashReportingSetupCompleted(std::uint64_t mark);
  void processExistingReportPaths(const std::vector<std::string>& paths, bool urgent);
  void processExistingActiveReportPath(const std::string& path, bool urgent);
  void handleDelegateCompletionForReport(const std::shared_ptr<MVXInternalReport>& report,
                                         bool submit);
  void removeReport(const std::shared_ptr<MVXInternalReport>& report);
  // A report directory that gave no report: one without metadata can never be sent and goes;
  // one whose metadata is there but cannot be read or is damaged is kept aside. Work queue.
  void disposeOfUnreadableReport(const std::string& path);
  // A prepared entry that is no package the kit wrote (a folder, other bytes) is kept aside;
  // false for that and for one that cannot be read now. Work queue.
  bool isUploadablePackage(const std::string& path);
  void handleContentsInOtherReportingDirectories();
  void handleExistingFilesInProcessing();
  void handleExistingFilesInPrepared();
  void uploadPreexistingFiles(const std::vector<std::string>& paths);
  void retryUploadForReportAtPath(const std::string& path);
  void displayPermissionAlertForReport(const std::shared_ptr<MVXInternalReport>& report);
  // Main queue.
  void setupAndDisplayAlertWithTitle(const std::string& title, const std::string& message,
                                     const std::string& cancel, const std::string& send,
                                     const std::optional<std::string>& alwaysSend,
                                     const std::shared_ptr<MVXInternalReport>& report);
  void handlePromptCompleteForReport(const std::shared_ptr<MVXInternalReport>& report,
                                     bool shouldSubmit, bool shouldMarkAlwaysSubmit);
  void checkForUserPromptSetting();

  std::string launchFailureMarkerPath() const;
  bool createLaunchFailureMarker() const;
  bool launchFailureMarkerPresent() const;
  bool removeLaunchFailureMarker() const;
  bool packagingEnabled();
  bool delegateNeedsToBeInformedOfReports();
  bool canProcessUrgentReports();
  bool needsToPrompt();

  void registerAnalyticsEventListener();
  void setupStateNotifications();
  void captureInitialNotificationStates();
  void willBecomeActive();
  void didBecomeInactive();
  void tessalySettingsDownloaded();
  std::uint32_t machExceptionMask();

  MVXSettings settings();
  std::shared_ptr<MVXReportsController> reportsController();
  const std::shared_ptr<MVXFileManager>& fileManager() const { return fileManager_; }
  const std::shared_ptr<tw::OperationQueue>& operationQueue() const { return operationQueue_; }
  const std::shared_ptr<MVXNetworkClient>& networkClient() const { return networkClient_; }
  int promptChoice() const { return promptChoice_.load(); }
  // The current run's report, once set up.
  std::shared_ptr<MVXInternalReport> currentReport() const;

  // MVXCrashCallbackTarget
  void deliverCrashDelegateCallback() override;
  // MVXNetworkClientDelegate
  bool networkClientCanUseBackgroundSessions(MVXNetworkClient& client) override;
  void networkClientDidFinishUploadWithPath(MVXNetworkClient& client, const std::string& path,
                                            const tw::ErrorPtr& error) override;
  // MVXReportsControllerDelegate
  MVXSettings settingsForReportsController(MVXReportsController& controller) override;
  std::optional<std::string> APIKeyForReportsController(MVXReportsController& controller) override;
  std::string bundleIdentifierForReportsController(MVXReportsController& controller) override;
  void reportsControllerDidCompletePackageSubmission(MVXReportsController& controller,
                                                     const std::string& packagePath,
                                                     const tw::ErrorPtr& error) override;

 private:
  MVXCrashReportingController() = default;
  std::shared_ptr<MVXCrashReportingControllerDelegate> delegate() const { return delegate_.lock(); }
  void onWorkQueue(std::function<void()> block);
  void submit(const std::shared_ptr<MVXInternalReport>& report);

  std::shared_ptr<MVXFileManager> fileManager_;
  std::weak_ptr<MVXCrashReportingControllerDelegate> delegate_;
  std::shared_ptr<tw::OperationQueue> operationQueue_;
  std::shared_ptr<MVXNetworkClient> networkClient_;

  mutable std::mutex mutex_;  // guards the lazily made members and the current report
  std::shared_ptr<MVXReportsController> reportsController_;
  std::optional<MVXSettings> settings_;
  std::shared_ptr<MVXInternalReport> currentReport_;

  // Set on the main queue as soon as an alert returns; read on the work queue.
  std::atomic<int> promptChoice_{kNotAsked};
  std::atomic<bool> listenerRegistered_{false};
  tw::NotificationToken settingsObservation_;
  tw::NotificationToken becomeActiveObservation_;
  tw::NotificationToken resignActiveObservation_;
};
