#pragma once
// MVXBetaController: asks the kits' web service whether a newer test build waits for this tester
// (one GET per check) and keeps the last offer as activeUpdate. Checks run only while the
// controller holds a beta token; MVXGetBetaToken yields none in this system, so start() returns
// false and no check is ever sent. After a reply with a body, checks are suspended for the
// settings' "beta"."update_suspend_duration" seconds; after a failed request they stay halted
// for the rest of the process.
//
// Owned by the crash kit facade (shared_ptr; created once at kit start). Gate, request and reply
// handling run on the serial queue "com.pelworth.morvex.mac.beta"; the suspension timer and the
// delivery of an offer run on the main queue. Public members may be called from any thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kits/crash/beta/MVXBetaUpdate.h"
#include "kits/crash/reports/MVXSettings.h"
#include "kits/platform/net/ServerTrust.h"
#include "kits/platform/net/URLRequest.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"

class MVXBetaController;
class TSYNetworkClient;

// What the controller asks of its owner for every check: the API key and the settings of that
// moment. Called on the beta queue.
class MVXBetaControllerDelegate {
 public:
  virtual ~MVXBetaControllerDelegate() = default;
  virtual std::optional<std::string> APIKeyForBetaController(
      const MVXBetaController& controller) = 0;
  virtual std::shared_ptr<MVXSettings> settingsForBetaController(
      const MVXBetaController& controller) = 0;
};

// The beta token of this installation: none in this system.
std::optional<std::string> MVXGetBetaToken();

namespace tw::crash {
// Test-only: a token source in place of MVXGetBetaToken's (nullptr restores it).
void setBetaTokenSourceForTesting(std::function<std::optional<std::string>()> source);
}  // namespace tw::crash

class MVXBetaController : public std::enable_shared_from_this<MVXBetaController> {
 public:
  using UpdateCompletion = std::function<void(std::shared_ptr<MVXBetaUpdate>)>;
  using LoadCompletion = std::function<void(std::shared_ptr<MVXBetaUpdate>, tw::ErrorPtr)>;

  static constexpr const char* kQueueLabel = "com.pelworth.morvex.mac.beta";
  static constexpr double kRequestTimeout = 10.0;
  static constexpr std::uint64_t kRetryLimit = 10;

  // Not an application extension, and installed from a build signed for distribution (source 3).
  static bool isBetaSupported();
  static const std::vector<std::shared_ptr<tw::Certificate>>& pinnnedCertificates();
  static std::shared_ptr<MVXBetaController> initWithDelegate(
      const std::weak_ptr<MVXBetaControllerDelegate>& delegate);
  ~MVXBetaController();

  // False without a beta token; else observes the settings notification.
  bool start();
  std::optional<std::string> betaToken();
  std::shared_ptr<MVXSettings> settings() const;
  std::optional<double> betaUpdateSuspendDurationSecs() const;
  std::string betaEndpoint() const;
  std::string appBundleIdentifier() const;
  std::string appBuildVersion() const;
  std::string appDisplayVersion() const;
  std::optional<std::string> appInstanceIdentifier() const;
  int appInstallationSource() const;
  std::optional<std::string> APIKey() const;
  std::optional<std::string> betaUpdateURL() const;

  void checkForUpdate();
  void maybeGetUpdate(UpdateCompletion completion);
  void loadUpdateWithCompletionBlock(LoadCompletion completion);
  void handledCompletedBetaRequestWithData(const std::optional<tw::Data>& data,
                                           const tw::ErrorPtr& error, LoadCompletion completion);
  std::shared_ptr<MVXBetaUpdate> updateWithData(const std::optional<tw::Data>& data,
                                                tw::ErrorPtr* error);
  void temporarilySuspendChecks();
  void allowChecks();
  void applicationWillEnterForeground() { checkForUpdate(); }
  bool shouldGetUpdates() const;
  void didGetUpdate(const std::shared_ptr<MVXBetaUpdate>& update);
  void showBetaAlertForUpdate(const std::shared_ptr<MVXBetaUpdate>& update);
  void tessalySettingsDownloaded() { checkForUpdate(); }

  std::weak_ptr<MVXBetaControllerDelegate> delegate() const;
  void setDelegate(std::weak_ptr<MVXBetaControllerDelegate> delegate);
  const std::shared_ptr<TSYNetworkClient>& networkClient() const { return networkClient_; }
  std::shared_ptr<MVXBetaUpdate> activeUpdate() const;
  void setActiveUpdate(std::shared_ptr<MVXBetaUpdate> update);
  bool checksSuspended() const { return checksSuspended_.load(); }
  void setChecksSuspended(bool suspended) { checksSuspended_.store(suspended); }
  bool retrying() const { return retrying_.load(); }
  void setRetrying(bool retrying) { retrying_.store(retrying); }
  const std::shared_ptr<tw::DispatchQueue>& queue() const { return queue_; }

 private:
  MVXBetaController() = default;
  // The request of step "send", on the beta queue.
  void sendRequest(const tw::URLRequest& request, const LoadCompletion& completion);

  mutable std::mutex mutex_;  // guards the token, delegate, offer and timer below
  std::optional<std::string> betaToken_;
  std::weak_ptr<MVXBetaControllerDelegate> delegate_;
  std::shared_ptr<MVXBetaUpdate> activeUpdate_;
  tw::DelayedWork checkSuspensionTimer_;
  mutable std::optional<std::optional<std::string>> instanceIdentifier_;

  // Written on the beta queue (and by allowChecks on the main queue), read on the beta queue.
  std::atomic<bool> checksSuspended_{false};
  // Read and written on the beta queue; atomic so tests and accessors may look.
  std::atomic<bool> retrying_{false};
  // Counts suspensions, so a timer of an earlier one cannot end a later one.
  std::atomic<std::uint64_t> suspension_{0};
  std::shared_ptr<TSYNetworkClient> networkClient_;
  std::shared_ptr<tw::DispatchQueue> queue_;
  tw::NotificationToken settingsObservation_;
};
