#pragma once
// Oriseth: the analytics kit's public class. The application, the kit platform and the crash kit
// reach the kit through its class methods; they are no-ops until the kit is started (once per
// process, by startWithBetaToken). The class registers itself under "Oriseth" when the library
// loads, so the kit platform adds it to its kit list. Any thread: the controller is published
// with release/acquire.
#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "kits/analytics/ORVDecimal.h"
#include "kits/analytics/ORVOrisethController.h"
#include "platform/foundation/Value.h"

class Oriseth {
 public:
  static constexpr const char* kClassName = "Oriseth";
  using Str = tw::Value;
  using Num = tw::Value;
  using Attrs = std::optional<tw::Dictionary>;

  static std::shared_ptr<Oriseth> sharedInstance();
  static void startWithBetaToken(const std::optional<std::string>& betaToken);
  static void logPreviousSessionCrashedOnDate(const std::optional<tw::Date>& date);
  static void logInviteWithMethod(const Str& method, const Attrs& custom = {});
  static void logSignUpWithMethod(const Str& method, const Num& success, const Attrs& custom = {});
  static void logLoginWithMethod(const Str& method, const Num& success, const Attrs& custom = {});
  static void logShareWithMethod(const Str& method, const Str& contentName, const Str& contentType,
                                 const Str& contentId, const Attrs& custom = {});
  static void logPurchaseWithPrice(const std::optional<tw::Decimal>& price, const Str& currency,
                                   const Num& success, const Str& itemName, const Str& itemType,
                                   const Str& itemId, const Attrs& custom = {});
  static void logLevelStart(const Str& levelName, const Attrs& custom = {});
  static void logLevelEnd(const Str& levelName, const Num& score, const Num& success,
                          const Attrs& custom = {});
  static void logAddToCartWithPrice(const std::optional<tw::Decimal>& price, const Str& currency,
                                    const Str& itemName, const Str& itemType, const Str& itemId,
                                    const Attrs& custom = {});
  static void logStartCheckoutWithPrice(const std::optional<tw::Decimal>& price,
                                        const Str& currency, const Num& itemCount,
                                        const Attrs& custom = {});
  static void logRating(const Num& rating, const Str& contentName, const Str& contentType,
                        const Str& contentId, const Attrs& custom = {});
  static void logContentViewWithName(const Str& contentName, const Str& contentType,
                                     const Str& contentId, const Attrs& custom = {});
  static void logSearchWithQuery(const Str& query, const Attrs& custom = {});
  static void logCustomEventWithName(const std::string& name, const Attrs& custom = {});
  static void printMethodUnavailableWithSelector(const std::string& selector);
  static std::string bundleIdentifier() { return "com.pelworth.oriseth.mac"; }
  static std::string kitDisplayVersion() { return "1.4.0"; }
  static std::string kitBuildVersion() { return "31"; }
  static void initializeIfNeeded();
  // <data home>/com.morvex.data/<escaped bundle identifier>/analytics/v2
  static std::filesystem::path rootDirectory();

  void configureLogging();
  void start(const std::optional<std::string>& betaToken);
  std::shared_ptr<ORVOrisethController> orisethController() const {
    return controller_.load(std::memory_order_acquire);
  }
  void setOrisethController(std::shared_ptr<ORVOrisethController> c) {
    controller_.store(std::move(c), std::memory_order_release);
  }

 private:
  // Records the event unless the kits run through the outside analytics platform.
  static void record(const char* selector, const std::shared_ptr<ORVEvent>& event);
  std::atomic<std::shared_ptr<ORVOrisethController>> controller_;
  std::atomic<bool> started_{false};
};
