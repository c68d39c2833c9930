#include "kits/analytics/Oriseth.h"

#include "kits/analytics/ORVLogger.h"
#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/TSYKit.h"
#include "kits/platform/Tessaly.h"
#include "platform/foundation/Paths.h"

std::shared_ptr<Oriseth> Oriseth::sharedInstance() {
  // Never destroyed: the analytics workers may still use it while the exit handlers run.
  static const auto& shared = *new const std::shared_ptr<Oriseth>(std::make_shared<Oriseth>());
  return shared;
}

std::filesystem::path Oriseth::rootDirectory() {
  return tw::paths::dataHome() / "com.morvex.data" / TSYGetEscapedBundleIdentifier() / "analytics" /
         "v2";
}

void Oriseth::startWithBetaToken(const std::optional<std::string>& betaToken) {
  sharedInstance()->start(betaToken);
}

void Oriseth::configureLogging() {
  ORVLogger::sharedLogger().setDebugMode(Tessaly::sharedSDK()->debug());
}

void Oriseth::start(const std::optional<std::string>& betaToken) {
  if (started_.exchange(true)) return;
  configureLogging();
  ORVLogger::sharedLogger().log("Initialized");
  auto sdk = Tessaly::sharedSDK();
  auto metadata = std::make_shared<ORVMetadata>(*sdk, betaToken, std::nullopt);
  const auto& settings = sdk->settings();
  std::optional<tw::Dictionary> dictionary;
  if (settings.dictionary()) dictionary = *settings.dictionary();
  setOrisethController(ORVOrisethController::create(std::move(metadata), rootDirectory(),
                                                    sdk->isFirstInstall(), std::move(dictionary)));
}

void Oriseth::logPreviousSessionCrashedOnDate(const std::optional<tw::Date>& date) {
  if (!date) return;
  if (auto c = sharedInstance()->orisethController())
    c->logCrashEvent(std::make_shared<ORVCrashEvent>(*date, 0));
}

void Oriseth::printMethodUnavailableWithSelector(const std::string& selector) {
  ORVLogger::sharedLogger().log("%@ is not supported when using Morvex through Emberlyn.",
                                selector);
}

void Oriseth::record(const char* selector, const std::shared_ptr<ORVEvent>& event) {
  if (Tessaly::sharedSDK()->emberlynMode()) {
    printMethodUnavailableWithSelector(selector);
    return;
  }
  if (auto c = sharedInstance()->orisethController()) c->logEvent(event);
}

void Oriseth::logInviteWithMethod(const Str& m, const Attrs& a) {
  record("logInviteWithMethod:customAttributes:", ORVPredefinedEvent::inviteEvent(m, a));
}
void Oriseth::logSignUpWithMethod(const Str& m, const Num& s, const Attrs& a) {
  record("logSignUpWithMethod:success:customAttributes:", ORVPredefinedEvent::signUpEvent(m, s, a));
}
void Oriseth::logLoginWithMethod(const Str& m, const Num& s, const Attrs& a) {
  record("logLoginWithMethod:success:customAttributes:", ORVPredefinedEvent::loginEvent(m, s, a));
}
void Oriseth::logShareWithMethod(const Str& m, const Str& n, const Str& t, const Str& i,
                                 const Attrs& a) {
  record("logShareWithMethod:contentName:contentType:contentId:customAttributes:",
         ORVPredefinedEvent::shareEvent(m, n, t, i, a));
}
void Oriseth::logPurchaseWithPrice(const std::optional<tw::Decimal>& p, const Str& c, const Num& s,
                                   const Str& n, const Str& t, const Str& i, const Attrs& a) {
  record("logPurchaseWithPrice:currency:success:itemName:itemType:itemId:customAttributes:",
         ORVPredefinedEvent::purchaseEvent(p, c, s, n, t, i, a));
}
void Oriseth::logLevelStart(const Str& n, const Attrs& a) {
  record("logLevelStart:customAttributes:", ORVPredefinedEvent::levelStartEvent(n, a));
}
void Oriseth::logLevelEnd(const Str& n, const Num& sc, const Num& s, const Attrs& a) {
  record("logLevelEnd:score:success:customAttributes:",
         ORVPredefinedEvent::levelEndEvent(n, sc, s, a));
}
void Oriseth::logAddToCartWithPrice(const std::optional<tw::Decimal>& p, const Str& c, const Str& n,
                                    const Str& t, const Str& i, const Attrs& a) {
  record("logAddToCartWithPrice:currency:itemName:itemType:itemId:customAttributes:",
         ORVPredefinedEvent::addToCartEvent(p, c, n, t, i, a));
}
void Oriseth::logStartCheckoutWithPrice(const std::optional<tw::Decimal>& p, const Str& c,
                                        const Num& n, const Attrs& a) {
  record("logStartCheckoutWithPrice:currency:itemCount:customAttributes:",
         ORVPredefinedEvent::startCheckoutEvent(p, c, n, a));
}
void Oriseth::logRating(const Num& r, const Str& n, const Str& t, const Str& i, const Attrs& a) {
  record("logRating:contentName:contentType:contentId:customAttributes:",
         ORVPredefinedEvent::ratingEvent(r, n, t, i, a));
}
void Oriseth::logContentViewWithName(const Str& n, const Str& t, const Str& i, const Attrs& a) {
  record("logContentViewWithName:contentType:contentId:customAttributes:",
         ORVPredefinedEvent::contentViewEvent(n, t, i, a));
}
void Oriseth::logSearchWithQuery(const Str& q, const Attrs& a) {
  record("logSearchWithQuery:customAttributes:", ORVPredefinedEvent::searchEvent(q, a));
}
void Oriseth::logCustomEventWithName(const std::string& name, const Attrs& a) {
  record("logCustomEventWithName:customAttributes:", std::make_shared<ORVCustomEvent>(name, a));
}

void Oriseth::initializeIfNeeded() {
  auto morvex = tw::runtime::classNamed("Morvex");
  if (auto kit = std::dynamic_pointer_cast<TSYKit>(morvex)) {
    kit->initializeIfNeeded();
    return;
  }
  startWithBetaToken(std::nullopt);
}

namespace {
// The class's load hook: make "Oriseth" findable by name before main.
[[maybe_unused]] const bool kOrisethRegistered =
    (tw::runtime::registerClass(tw::kitClass<Oriseth>()), true);
}  // namespace
