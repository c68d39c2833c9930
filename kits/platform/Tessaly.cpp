#include "kits/platform/Tessaly.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "kits/platform/AdsKit.h"
#include "kits/platform/Emberlyn.h"
#include "kits/platform/MVXDataCollectionArbiter.h"
#include "kits/platform/MVXUserDefaults.h"
#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/TSYKit.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

constexpr const char* kInstallIDKey = "com.morvex.iuuid";

// Guards gShared. Never destroyed: a kit's network thread still verifying a certificate when the
// process ends asks for the shared instance while static destructors run.
std::mutex gSharedMutex;
std::shared_ptr<Tessaly>& gShared = *new std::shared_ptr<Tessaly>();

// The start-up of with() runs once; it is marked as run before it starts, so a start-up that
// raised cannot be half-repeated by a later call. Recursive: a kit may call with() while starting.
std::recursive_mutex gWithMutex;
bool gWithStarted = false;

// Guards gLoadToken.
std::mutex gLoadMutex;
tw::NotificationToken gLoadToken;

void alwaysLog(const std::string& message) { tw::log(message); }

[[noreturn]] void raiseTSY(std::string reason) { tw::raise(TSYExceptionName, std::move(reason)); }

bool launchArgumentsContain(std::string_view argument) {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    if (std::string_view(all).substr(start, end - start) == argument) return true;
    start = end + 1;
  }
  return false;
}

// The main bundle's info dictionary; nullopt when the bundle has no Info.plist.
std::optional<tw::Dictionary> infoDictionary() {
  auto bundle = tw::kitMainBundle();
  if (bundle->infoDictionary().empty()) return std::nullopt;
  return bundle->infoDictionary();
}

bool contains(const Tessaly::KitClassList& list, const std::shared_ptr<tw::RuntimeClass>& cls) {
  return std::find(list.begin(), list.end(), cls) != list.end();
}

}  // namespace

// --- shared instance and start-up ---------------------------------------------------------

std::shared_ptr<Tessaly> Tessaly::sharedSDK() {
  std::lock_guard lock(gSharedMutex);
  if (!gShared) gShared = std::make_shared<Tessaly>();
  return gShared;
}

void Tessaly::resetForTesting() {
  {
    std::lock_guard lock(gSharedMutex);
    gShared.reset();
  }
  {
    std::lock_guard lock(gWithMutex);
    gWithStarted = false;
  }
  MVXUserDefaults::resetStandardUserDefaultsForTesting();
  load();
}

std::shared_ptr<Tessaly> Tessaly::with(const KitList& kits) {
  {
    std::lock_guard lock(gWithMutex);
    if (gWithStarted) {
      alwaysLog(
          "[Tessaly] [Tessaly +with] called multiple times. Only the first call is honored, please "
          "pass all kits you wish to initialize");
      return sharedSDK();
    }
    gWithStarted = true;

    auto sdk = sharedSDK();
    if (!sdk->APIKey()) return sdk;

    KitClassList classes = convertToKitClassesIfNeeded(kits);
    validateTSYKitConformance(classes);
    classes = kitClassesByAddingCompanionKitIfFound(std::move(classes));
    classes = kitClassesByAddingOrisethIfFound(std::move(classes));
    classes = kitClassesByEnsuringLeadKitIsFirst(std::move(classes));
    classes = kitClassesByAddingAdsKitIfFound(std::move(classes));
    sdk->setKitClasses(classes);

    if (MVXDataCollectionArbiter::isMorvexCollectionEnabled()) {
      for (const auto& cls : classes) initializeKit(cls);
      sdk->onboardAppAndDownloadSettings();
    } else {
      alwaysLog("[Morvex] Not started - Emberlyn automatic data collection is disabled");
      auto morvex = tw::runtime::classNamed("Morvex");
      auto oriseth = tw::runtime::classNamed("Oriseth");
      for (const auto& cls : classes) {
        if (cls->respondsToSelector("disableUninitializedKitMessaging"))
          disableUninitializedKitMessagingForKit(cls);
        if (cls != morvex && cls != oriseth) {
          sdk->debugLog(
              "[Tessaly] Tessaly will not initialize any kits when Emberlyn automatic data "
              "collection is disabled; to use Third-party kits with automatic data collection "
              "disabled, initialize these kits via non-Tessaly means.");
          break;
        }
      }
    }
  }
  return sharedSDK();
}

Tessaly::KitClassList Tessaly::convertToKitClassesIfNeeded(const KitList& kits) {
  KitClassList classes;
  for (const auto& kit : kits)
    if (auto cls = kit ? kit->objectClass() : nullptr) classes.push_back(std::move(cls));
  return classes;
}

void Tessaly::validateTSYKitConformance(const KitClassList& kitClasses) {
  for (const auto& cls : kitClasses) {
    if (tw::asTSYKit(cls)) continue;
    if (cls->respondsToSelector("sharedInstance")) {
      bool start = cls->instancesRespondToSelector("start");
      bool identifier = cls->instancesRespondToSelector("bundleIdentifier");
      bool version = cls->instancesRespondToSelector("version");
      alwaysLog("[Tessaly] Please upgrade to the latest version of \"" + cls->name() + "\"");
      if (start && identifier && version) continue;
    }
    raiseTSY("[Tessaly] It appears that \"" + cls->name() +
             "\" is not a valid Tessaly Kit. Please make sure you only pass Tessaly Kits to "
             "[Tessaly with:].");
  }
}

Tessaly::KitClassList Tessaly::kitClassesByAddingCompanionKitIfFound(KitClassList kitClasses) {
  auto companion = tw::runtime::classNamed(kCompanionKitClassName);
  if (companion && !contains(kitClasses, companion)) kitClasses.push_back(companion);
  return kitClasses;
}

Tessaly::KitClassList Tessaly::kitClassesByAddingOrisethIfFound(KitClassList kitClasses) {
  auto morvex = tw::runtime::classNamed("Morvex");
  auto oriseth = tw::runtime::classNamed("Oriseth");
  if (morvex && oriseth && contains(kitClasses, morvex) && tw::asTSYKit(oriseth) &&
      !contains(kitClasses, oriseth))
    kitClasses.push_back(oriseth);
  return kitClasses;
}

Tessaly::KitClassList Tessaly::kitClassesByEnsuringLeadKitIsFirst(KitClassList kitClasses) {
  auto lead = tw::runtime::classNamed(kLeadKitClassName);
  if (!lead) return kitClasses;
  auto it = std::find(kitClasses.begin(), kitClasses.end(), lead);
  if (it == kitClasses.end()) return kitClasses;
  kitClasses.erase(it);
  kitClasses.insert(kitClasses.begin(), lead);
  return kitClasses;
}

Tessaly::KitClassList Tessaly::kitClassesByAddingAdsKitIfFound(KitClassList kitClasses) {
  if (tw::runtime::classNamed(AdsKit::kProductClassName))
    kitClasses.push_back(tw::kitClass<AdsKit>());
  return kitClasses;
}

void Tessaly::disableUninitializedKitMessagingForKit(const std::shared_ptr<tw::RuntimeClass>& kit) {
  TSYKit* tsyKit = tw::asTSYKit(kit);
  if (tsyKit && kit->respondsToSelector("disableUninitializedKitMessaging"))
    tsyKit->disableUninitializedKitMessaging();
}

void Tessaly::initializeKit(const std::shared_ptr<tw::RuntimeClass>& kit) {
  if (!kit) return;
  if (TSYKit* tsyKit = tw::asTSYKit(kit)) {
    if (kit->respondsToSelector("initializeIfNeeded")) tsyKit->initializeIfNeeded();
    return;
  }
  if (auto instance = kit->perform("sharedInstance").objectAs<tw::RuntimeObject>())
    instance->perform("start");
}

void Tessaly::setMorvexCollectionEnabled(bool enabled) {
  MVXDataCollectionArbiter::setMorvexCollectionEnabled(enabled);
}

bool Tessaly::isMorvexCollectionEnabled() {
  return MVXDataCollectionArbiter::isMorvexCollectionEnabled();
}

std::optional<tw::Dictionary> Tessaly::configurationDictionaryForKitClass(
    const std::shared_ptr<tw::RuntimeClass>& kitClass) {
  if (!kitClass) return std::nullopt;
  tw::Dictionary config = sharedSDK()->tessalyConfig();
  auto kits = config.find("Kits");
  // A "Kits" that is no array, entries that are no dictionaries and a "KitInfo" that is no
  // dictionary all count as absent.
  if (kits == config.end() || !kits->second.array()) return std::nullopt;
  for (const tw::Value& entry : *kits->second.array()) {
    const tw::Dictionary* dict = entry.dictionary();
    if (!dict) continue;
    const std::string* name = entry["KitName"].string();
    if (!name || *name != kitClass->name()) continue;
    if (const tw::Dictionary* info = entry["KitInfo"].dictionary()) return *info;
    return tw::Dictionary{};
  }
  return std::nullopt;
}

// --- automatic initialisation ---------------------------------------------------------------

void Tessaly::load() {
  std::lock_guard lock(gLoadMutex);
  gLoadToken.remove();
  auto fired = std::make_shared<std::atomic<bool>>(false);
  gLoadToken = tw::NotificationCenter::defaultCenter()->addObserver(
      tw::emberlyn::kReadyToConfigureNotification, nullptr, nullptr,
      [fired](const tw::Notification& note) {
        if (fired->exchange(true)) return;
        {
          std::lock_guard lock(gLoadMutex);
          gLoadToken.remove();
        }
        autoInitialize(note.userInfo);
      });
}

void Tessaly::autoInitialize(const std::optional<tw::Dictionary>& userInfo) {
  auto sdk = sharedSDK();
  const tw::Value plist = tw::kitMainBundle()->objectForInfoDictionaryKey("Tessaly");

  if (sdk->installationMode() == 1) {
    if (!MVXDataCollectionArbiter::isMorvexCollectionEnabled())
      sdk->debugLog(
          "[Tessaly] Emberlyn automatic data collection has been disabled. In order to also "
          "disable automatic data collection in Tessaly, change your app delegate so that "
          "Emberlyn is initialized before Tessaly.");
    return;
  }
  if (!sdk->shouldAutoInitialize(plist)) return;

  if (!plist.isNull()) {
    sdk->setInstallationMode(1);
  } else {
    sdk->setInstallationMode(2);
    if (!sdk->setEmberlynHalvernAppIdFromUserInfo(userInfo)) {
      alwaysLog(
          "[Tessaly] [Morvex] attempted initialization via Emberlyn, but did not get a Halvern "
          "App Id");
      return;
    }
  }
  if (!MVXDataCollectionArbiter::isMorvexCollectionEnabled()) {
    sdk->debugLog(
        "[Tessaly] [Morvex] automatic initialization disabled because data collection is "
        "disabled");
    return;
  }
  if (!MVXDataCollectionArbiter::isLegacyPlistMorvexCollectionEnabled()) {
    sdk->debugLog(
        "[Tessaly] [Morvex] automatic initialization disabled via Info.plist key: "
        "emberlyn_morvex_collection_enabled");
    return;
  }
  if (auto morvex = tw::runtime::classNamed("Morvex")) {
    with({morvex});
  } else {
    alwaysLog(
        "[Tessaly] [Morvex] Attempting to initialize Morvex via Emberlyn but could not find "
        "Morvex.");
  }
}

bool Tessaly::shouldAutoInitialize(const tw::Value& plist) const {
  if (plist.isNull()) return true;
  const tw::Value& flag = plist["AutoInitialize"];
  return flag.isNull() ? false : flag.boolValue();
}

bool Tessaly::setEmberlynHalvernAppIdFromUserInfo(const std::optional<tw::Dictionary>& userInfo) {
  if (!userInfo) return false;
  auto it = userInfo->find(tw::emberlyn::kHalvernAppIDKey);
  if (it == userInfo->end() || !it->second.string() || it->second.string()->empty()) return false;
  setEmberlynHalvernAppId(*it->second.string());
  return true;
}

// --- instance -------------------------------------------------------------------------------

namespace {
std::mutex& settingsFlowFactoryMutex() {
  static std::mutex mutex;
  return mutex;
}
Tessaly::SettingsFlowFactory& settingsFlowFactoryStorage() {
  static Tessaly::SettingsFlowFactory factory;
  return factory;
}
Tessaly::SettingsFlowFactory settingsFlowFactory() {
  std::lock_guard<std::mutex> lock(settingsFlowFactoryMutex());
  return settingsFlowFactoryStorage();
}
}  // namespace

Tessaly::Tessaly() {
  if (auto stored = readInstallationUUID()) {
    installID_ = *stored;
  } else {
    isFirstInstall_ = true;
    installID_ = generateInstallationUUID();
    MVXUserDefaults::standardUserDefaults()->synchronize();
  }
  std::string run = TSYGenerateUUIDString();
  run.erase(std::remove(run.begin(), run.end(), '-'), run.end());
  std::transform(run.begin(), run.end(), run.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  executionIdentifier_ = run;
  debug_ = launchArgumentsContain("-EBNDebugEnabled");
  if (auto factory = settingsFlowFactory()) settingsAndOnboardingManager_ = factory(installID_);
}

void Tessaly::setSettingsFlowFactory(SettingsFlowFactory factory) {
  std::lock_guard<std::mutex> lock(settingsFlowFactoryMutex());
  settingsFlowFactoryStorage() = std::move(factory);
}

std::optional<std::string> Tessaly::readInstallationUUID() {
  tw::Value stored =
      MVXUserDefaults::standardUserDefaults()->objectForKeyByMigratingFromNSUserDefaults(
          kInstallIDKey);
  // Anything but a non-empty string (a damaged store) counts as no identifier.
  if (const std::string* s = stored.string(); s && !s->empty()) return *s;
  return std::nullopt;
}

std::string Tessaly::generateInstallationUUID() {
  std::string id = TSYGenerateUUIDString();
  MVXUserDefaults::standardUserDefaults()->setString(id, kInstallIDKey);
  return id;
}

void Tessaly::onboardAppAndDownloadSettings() {
  tw::Dictionary versions = kitVersionsByKitBundleIdentifier();
  auto manager = settingsAndOnboardingManager();
  if (!manager) return;
  manager->beginSettingsAndOnboardingOperations(APIKey().value_or(""), versions);
}

tw::Dictionary Tessaly::kitVersionsByKitBundleIdentifier() const {
  tw::Dictionary versions;
  for (const auto& cls : kitClasses()) {
    if (TSYKit* kit = tw::asTSYKit(cls)) {
      versions[kit->bundleIdentifier()] = kit->kitDisplayVersion();
    } else if (auto instance = cls->perform("sharedInstance").objectAs<tw::RuntimeObject>()) {
      tw::Value identifier = instance->perform("bundleIdentifier");
      if (const std::string* key = identifier.string())
        versions[*key] = instance->perform("version");
    }
  }
  versions[TSYSDKBundleIdentifier] = TSYSDKDisplayVersion;
  debugLog("[Tessaly] Initialized with kit versions: " + tw::Value(versions).description());
  return versions;
}

tw::Dictionary Tessaly::tessalyConfig() {
  {
    std::lock_guard lock(mutex_);
    if (tessalyConfig_) return *tessalyConfig_;
  }
  tw::Dictionary config = validTessalyConfigFromInfoPlist(infoDictionary());
  std::lock_guard lock(mutex_);
  if (!tessalyConfig_) tessalyConfig_ = std::move(config);
  return *tessalyConfig_;
}

tw::Dictionary Tessaly::validTessalyConfigFromInfoPlist(const std::optional<tw::Dictionary>& info) {
  if (emberlynMode()) return {};
  if (!info) raiseTSY("[Tessaly] Cannot find Info.plist.");
  auto it = info->find("Tessaly");
  if (it == info->end() || !it->second.dictionary())
    raiseTSY("[Tessaly] Value of Info.plist key \"Tessaly\" must be a NSDictionary.");
  const tw::Dictionary& config = *it->second.dictionary();
  if (!config.count("Kits") || !config.at("Kits").array())
    alwaysLog("[Tessaly] [Tessaly] Value of Info.plist[Tessaly][Kits] should be a NSArray.");
  if (!config.count("APIKey") || !config.at("APIKey").string())
    raiseTSY("[Tessaly] Value of Info.plist[Tessaly][APIKey] must contain your Tessaly API Key.");
  setInstallationMode(1);
  return config;
}

std::optional<std::string> Tessaly::APIKey() {
  {
    std::lock_guard lock(mutex_);
    if (apiKey_) return apiKey_;
  }
  std::optional<std::string> key;
  if (emberlynMode()) {
    auto appId = emberlynHalvernAppId();
    if (!appId || appId->empty()) {
      alwaysLog("[Tessaly] HalvernService-Info.plist key HALVERN_APP_ID unavailable");
      return std::nullopt;
    }
    key = TSYSHA256HexStringForBytes(appId->data(), appId->size()).substr(0, 40);
  } else {
    tw::Dictionary config = tessalyConfig();
    if (auto it = config.find("APIKey"); it != config.end() && it->second.string())
      key = *it->second.string();
    if (!key)
      alwaysLog(
          "[Tessaly] Tessaly API Key is nil! Tessaly won't work unless there is a valid API Key "
          "setup in Info.plist");
  }
  std::lock_guard lock(mutex_);
  if (key && !apiKey_) apiKey_ = key;
  return apiKey_;
}

std::optional<tw::Dictionary> Tessaly::configurationDictionaryForKit(
    const std::shared_ptr<tw::RuntimeObject>& kit) {
  return kit ? configurationDictionaryForKitClass(kit->objectClass()) : std::nullopt;
}

tw::Value Tessaly::settings() const {
  auto manager = settingsAndOnboardingManager();
  return manager ? manager->settingsDictionary() : tw::Value();
}

void Tessaly::debugLog(const std::string& message) const {
  if (debug()) tw::log(message);
}

// --- accessors ------------------------------------------------------------------------------

void Tessaly::setAPIKey(std::optional<std::string> key) {
  std::lock_guard lock(mutex_);
  apiKey_ = std::move(key);
}

std::optional<std::string> Tessaly::advertisingToken() const {
  std::lock_guard lock(mutex_);
  return advertisingToken_;
}

void Tessaly::setAdvertisingToken(std::optional<std::string> token) {
  std::lock_guard lock(mutex_);
  advertisingToken_ = std::move(token);
}

Tessaly::KitClassList Tessaly::kitClasses() const {
  std::lock_guard lock(mutex_);
  return kitClasses_;
}

void Tessaly::setKitClasses(KitClassList kitClasses) {
  std::lock_guard lock(mutex_);
  kitClasses_ = std::move(kitClasses);
}

void Tessaly::setTessalyConfig(std::optional<tw::Dictionary> config) {
  std::lock_guard lock(mutex_);
  tessalyConfig_ = std::move(config);
}

std::shared_ptr<tw::SettingsOnboardingFlow> Tessaly::settingsAndOnboardingManager() const {
  std::lock_guard lock(mutex_);
  return settingsAndOnboardingManager_;
}

void Tessaly::setSettingsAndOnboardingManager(std::shared_ptr<tw::SettingsOnboardingFlow> manager) {
  std::lock_guard lock(mutex_);
  settingsAndOnboardingManager_ = std::move(manager);
}

std::optional<std::string> Tessaly::emberlynHalvernAppId() const {
  std::lock_guard lock(mutex_);
  return emberlynHalvernAppId_;
}

void Tessaly::setEmberlynHalvernAppId(std::optional<std::string> appId) {
  std::lock_guard lock(mutex_);
  emberlynHalvernAppId_ = std::move(appId);
}

namespace {
// What the class's load hook did: observe the outside platform's ready notification before main.
[[maybe_unused]] const bool kTessalyLoaded = (Tessaly::load(), true);
}  // namespace
