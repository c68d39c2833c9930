#pragma once
// Morvex: the crash-reporting kit's public class, the one the application hands to the kit
// registry: Tessaly::with({tw::kitClass<Morvex>()}). The registry starts the kit through
// initializeIfNeeded, which runs the shared instance's start once: it creates the report store,
// the beta controller (for builds signed for distribution) and the crash reporting controller,
// then starts the analytics kit. The facade also offers the application its surface (user
// identity, custom keys, recorded errors and custom exceptions, test crashes, debug mode, a
// delegate, web-view error capture, event logging) and is the delegate of both controllers.
// The class registers itself under the name "Morvex" when the library loads.
//
// One shared instance per process, alive for the process. Any thread. A selector the platform
// had both as a class and as an instance message is one static member here (there is one
// instance, so both forms did the same).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kits/crash/MVXWebViewErrorCapture.h"
#include "kits/crash/beta/MVXBetaController.h"
#include "kits/crash/capture/MVXException.h"
#include "kits/crash/controller/MVXCrashReportingController.h"
#include "kits/crash/reports/MVXCrashReport.h"
#include "kits/crash/symbols/MVXStackFrame.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

class Morvex;

// The application's kit delegate. Every method is optional: the facade sends one only when
// implements() names its selector.
class MorvexDelegate {
 public:
  virtual ~MorvexDelegate() = default;
  // The selectors, as the facade asks for them:
  // "morvexDidDetectReportForLastExecution:completionHandler:",
  // "morvexDidDetectReportForLastExecution:", "morvex:didDetectCrashDuringPreviousExecution:",
  // "morvexDidDetectCrashDuringPreviousExecution:", "morvexCanUseBackgroundSessions:",
  // "morvexDidDetectCrash:", "morvex:ensureDeliveryOfUnixSignal:".
  virtual bool implements(std::string_view selector) const = 0;
  virtual std::string description() const { return "MorvexDelegate"; }

  // Call `completion` once, on any thread.
  virtual void morvexDidDetectReportForLastExecution(
      const std::shared_ptr<MVXCrashReport>&, const std::function<void(bool submit)>& completion) {
    completion(true);
  }
  virtual void morvexDidDetectReportForLastExecution(const std::shared_ptr<MVXCrashReport>&) {}
  virtual void morvexDidDetectCrashDuringPreviousExecution(Morvex&,
                                                           const std::shared_ptr<MVXCrashReport>&) {
  }
  virtual void morvexDidDetectCrashDuringPreviousExecution(Morvex&) {}
  virtual bool morvexCanUseBackgroundSessions(Morvex&) { return true; }
  // On the crashing thread while the process dies: no allocation, no locks.
  virtual void morvexDidDetectCrash(Morvex&) {}
  virtual bool morvexEnsureDeliveryOfUnixSignal(Morvex&, int) { return false; }
};

class Morvex : public MVXCrashReportingControllerDelegate,
               public MVXBetaControllerDelegate,
               public WKScriptMessageHandler,
               public std::enable_shared_from_this<Morvex> {
 public:
  static constexpr const char* kClassName = "Morvex";

  static std::shared_ptr<Morvex> sharedInstance();
  static std::string bundleIdentifier() { return "com.pelworth.morvex.mac"; }
  static std::string kitDisplayVersion() { return "3.12.0"; }
  static std::string kitBuildVersion() { return "136"; }
  // start on the shared instance.
  static void initializeIfNeeded();
  static void disableUninitializedKitMessaging();
  static std::shared_ptr<Morvex> startWithAPIKey(const std::string& apiKey);
  static std::shared_ptr<Morvex> startWithAPIKey(const std::string& apiKey,
                                                 std::shared_ptr<MorvexDelegate> delegate);
  static std::shared_ptr<Morvex> startWithAPIKey(const std::string& apiKey, double delay);
  static std::shared_ptr<Morvex> startWithAPIKey(const std::string& apiKey,
                                                 std::shared_ptr<MorvexDelegate> delegate,
                                                 double delay);
  static void setUserIdentifier(const std::optional<std::string>& identifier);
  static void setUserName(const std::optional<std::string>& name);
  static void setUserEmail(const std::optional<std::string>& email);
  static void setObjectValue(const tw::Value& value, const std::string& key);
  static void setIntValue(int value, const std::string& key);
  static void setBoolValue(bool value, const std::string& key);
  static void setFloatValue(float value, const std::string& key);
  static void setDevelopmentPlatformName(const std::optional<std::string>& name);
  static void setDevelopmentPlatformVersion(const std::optional<std::string>& version);
  static void logEvent(const std::string& name);
  static void logEvent(const std::string& name, const std::optional<tw::Dictionary>& attributes);

  // Starts the kit once per process (later calls, from any thread, wait for the first).
  void start();
  bool isStarted() const { return isMorvexStarted(); }
  std::string version() const { return kitDisplayVersion(); }
  std::optional<tw::Dictionary> kitInfo() const { return std::nullopt; }
  void setKitInfo(const std::optional<tw::Dictionary>&) {}
  std::optional<std::string> APIKey() const;
  std::string installID() const;
  bool isFirstInstall() const;
  std::optional<tw::Dictionary> settingsDictionary() const { return std::nullopt; }
  std::optional<std::string> getHistoricInstallID() const;
  std::optional<tw::Dictionary> attemptToLoadMacHistoricDefaults() const;
  bool isMorvexStarted() const;
  void setDebugMode(bool debug);
  bool debugMode() const;
  void setDelegate(std::shared_ptr<MorvexDelegate> delegate);
  std::shared_ptr<MorvexDelegate> delegate() const;
  // Ends the process at once with an illegal-instruction trap.
  [[noreturn]] void crash();
  [[noreturn]] void throwException();
  std::optional<std::string> developmentPlatformName() const;
  std::optional<std::string> developmentPlatformVersion() const;
  void recordError(const tw::Error& error);
  void recordError(const tw::Error& error, const std::optional<tw::Dictionary>& additionalUserInfo);
  void recordCustomExceptionName(const std::string& name, const std::string& reason,
                                 const std::vector<std::shared_ptr<MVXStackFrame>>& frameArray);
  // `configuration`: a web view configuration of a registered adapter's engine.
  void monitorErrorsForWKWebViewConfiguration(const std::shared_ptr<tw::Object>& configuration);
  bool delegateRespondsToLegacyMethods() const;
  void warnDelegateAboutMethods() const;
  std::shared_ptr<MVXBetaController> betaController() const;
  std::shared_ptr<MVXCrashReportingController> crashReportingController() const;

  // MVXCrashReportingControllerDelegate
  std::optional<std::string> APIKeyForCrashReportingController(
      MVXCrashReportingController&) override {
    return APIKey();
  }
  std::string installIDForCrashReportingController(MVXCrashReportingController&) override {
    return installID();
  }
  bool isFirstInstallForCrashReportingController(MVXCrashReportingController&) override {
    return isFirstInstall();
  }
  MVXSettings settingsForCrashReportingController(MVXCrashReportingController&) override;
  bool shouldInstallCrashCallback() override;
  void detectedCrash() override;
  bool reportingControllerEnsureDeliveryOfUnixSignal(MVXCrashReportingController&,
                                                     int signal) override;
  bool reportingControllerMustInformDelegateOfReports(MVXCrashReportingController&) override;
  bool reportingControllerCanUseBackgroundSessions(MVXCrashReportingController&) override;
  void reportingControllerInternalDidDetectReportForLastExecution(
      MVXCrashReportingController&, const std::shared_ptr<MVXInternalReport>& report) override;
  void reportingControllerDidDetectReportForLastExecution(
      MVXCrashReportingController&, const std::shared_ptr<MVXInternalReport>& report,
      SubmitCompletion completion) override;

  // MVXBetaControllerDelegate
  std::optional<std::string> APIKeyForBetaController(const MVXBetaController&) override {
    return APIKey();
  }
  std::shared_ptr<MVXSettings> settingsForBetaController(const MVXBetaController&) override;

  // WKScriptMessageHandler
  void userContentControllerDidReceiveScriptMessage(const tw::Value& body) override;

  // Test-only: a fresh facade in place of the shared instance, as a new process would have.
  static void resetSharedInstanceForTesting();

  // Made only through sharedInstance() ("initWithSuper").
  Morvex() = default;

 private:
  void runStart();

  std::once_flag startOnce_;
  mutable std::mutex mutex_;  // guards the members below
  std::shared_ptr<MorvexDelegate> delegate_;
  std::shared_ptr<MVXCrashReportingController> crashReportingController_;
  std::shared_ptr<MVXBetaController> betaController_;
  // The delegate as the crashing thread reads it: no lock, no reference count.
  std::atomic<MorvexDelegate*> crashDelegate_{nullptr};
};
