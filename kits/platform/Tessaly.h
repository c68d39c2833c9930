#pragma once
// Tessaly: the kit registry. The application starts it once at launch with
// Tessaly::with({tw::kitClass<Morvex>()}); it completes and validates the kit list, decides
// whether data may be collected, initialises each kit and starts the settings download. It also
// holds what every kit shares: API key, installation and run identifiers, first-install and
// debug flags, the Info.plist configuration and the downloaded kit settings.
//
// One shared instance (sharedSDK), alive for the process. with() runs its start-up once; a
// second call waits for a first still running. Accessors may be called from any thread.
// Configuration faults raise tw::Exception named "TSYException"; nothing else is thrown.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kits/platform/RuntimeClass.h"
#include "kits/platform/SettingsOnboardingFlow.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

inline constexpr const char* TSYExceptionName = "TSYException";

// The platform's own identity.
inline constexpr const char* TSYSDKBundleIdentifier = "io.tessaly.sdk.mac";
inline constexpr const char* TSYSDKDisplayVersion = "1.9.0";
inline constexpr const char* TSYSDKBuildVersion = "74";
inline constexpr const char* TSYSDKPlatformName = "mac";

class Tessaly : public tw::Object {
 public:
  using KitClassList = std::vector<std::shared_ptr<tw::RuntimeClass>>;
  using KitList = std::vector<std::shared_ptr<tw::RuntimeObject>>;

  // Other vendors' kits the start-up looks for by name; none ships with this system.
  static constexpr const char* kCompanionKitClassName = "Lumaroot";
  static constexpr const char* kLeadKitClassName = "Kestwyn";

  static std::shared_ptr<Tessaly> sharedSDK();
  // Starts the platform once; elements may be kit classes or kit instances.
  static std::shared_ptr<Tessaly> with(const KitList& kits);

  static KitClassList convertToKitClassesIfNeeded(const KitList& kits);
  // Raises "TSYException" for a class that is no kit.
  static void validateTSYKitConformance(const KitClassList& kitClasses);
  static KitClassList kitClassesByAddingCompanionKitIfFound(KitClassList kitClasses);
  static KitClassList kitClassesByAddingOrisethIfFound(KitClassList kitClasses);
  static KitClassList kitClassesByEnsuringLeadKitIsFirst(KitClassList kitClasses);
  static KitClassList kitClassesByAddingAdsKitIfFound(KitClassList kitClasses);
  static void disableUninitializedKitMessagingForKit(const std::shared_ptr<tw::RuntimeClass>& kit);
  static void initializeKit(const std::shared_ptr<tw::RuntimeClass>& kit);
  static void setMorvexCollectionEnabled(bool enabled);
  static bool isMorvexCollectionEnabled();
  // The "KitInfo" of the kit's first entry in "Kits"; nullopt when it has none.
  static std::optional<tw::Dictionary> configurationDictionaryForKitClass(
      const std::shared_ptr<tw::RuntimeClass>& kitClass);
  // Observes "EBNAppReadyToConfigureSDKNotification" once; runs when the library loads.
  static void load();
  // The automatic path, from that notification's user info.
  static void autoInitialize(const std::optional<tw::Dictionary>& userInfo);

  // Reads the installation identifier (making it on a first run) and the launch arguments.
  Tessaly();

  void onboardAppAndDownloadSettings();
  tw::Dictionary kitVersionsByKitBundleIdentifier() const;
  std::optional<std::string> readInstallationUUID();
  std::string generateInstallationUUID();
  // The Info.plist "Tessaly" dictionary, read once; may raise "TSYException".
  tw::Dictionary tessalyConfig();
  // May raise "TSYException" when it reads the configuration.
  std::optional<std::string> APIKey();
  bool setEmberlynHalvernAppIdFromUserInfo(const std::optional<tw::Dictionary>& userInfo);
  // `info` nullopt: no Info.plist.
  tw::Dictionary validTessalyConfigFromInfoPlist(const std::optional<tw::Dictionary>& info);
  std::optional<tw::Dictionary> configurationDictionaryForKit(
      const std::shared_ptr<tw::RuntimeObject>& kit);
  // The kit settings; null until downloaded.
  tw::Value settings() const;
  bool emberlynMode() const { return installationMode() == 2; }
  bool shouldAutoInitialize(const tw::Value& plist) const;

  bool debug() const { return debug_.load(); }
  void setDebug(bool debug) { debug_.store(debug); }
  void setAPIKey(std::optional<std::string> key);
  const std::string& installID() const { return installID_; }
  bool isFirstInstall() const { return isFirstInstall_; }
  const std::string& executionIdentifier() const { return executionIdentifier_; }
  std::optional<std::string> advertisingToken() const;
  void setAdvertisingToken(std::optional<std::string> token);
  KitClassList kitClasses() const;
  void setKitClasses(KitClassList kitClasses);
  void setTessalyConfig(std::optional<tw::Dictionary> config);
  std::shared_ptr<tw::SettingsOnboardingFlow> settingsAndOnboardingManager() const;
  void setSettingsAndOnboardingManager(std::shared_ptr<tw::SettingsOnboardingFlow> manager);
  long installationMode() const { return installationMode_.load(); }
  void setInstallationMode(long mode) { installationMode_.store(mode); }
  std::optional<std::string> emberlynHalvernAppId() const;
  void setEmberlynHalvernAppId(std::optional<std::string> appId);

  std::string className() const override { return "Tessaly"; }

  // Makes the settings flow each new registry holds (given the installation identifier). The
  // settings library installs it when it loads; without one the registry has no settings flow.
  using SettingsFlowFactory =
      std::function<std::shared_ptr<tw::SettingsOnboardingFlow>(const std::string& installID)>;
  static void setSettingsFlowFactory(SettingsFlowFactory factory);

  // Test-only: forgets the shared instance and the run-once start-up, as a new process would.
  static void resetForTesting();

 private:
  void debugLog(const std::string& message) const;

  mutable std::mutex mutex_;  // guards the optional strings, lists and dictionaries below
  std::optional<std::string> apiKey_;
  std::string installID_;
  bool isFirstInstall_ = false;
  std::string executionIdentifier_;
  std::optional<std::string> advertisingToken_;
  KitClassList kitClasses_;
  std::optional<tw::Dictionary> tessalyConfig_;
  std::shared_ptr<tw::SettingsOnboardingFlow> settingsAndOnboardingManager_;
  std::atomic<long> installationMode_{0};
  std::optional<std::string> emberlynHalvernAppId_;
  std::atomic<bool> debug_{false};
};
