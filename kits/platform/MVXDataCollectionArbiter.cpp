#include "kits/platform/MVXDataCollectionArbiter.h"

#include "kits/platform/Emberlyn.h"
#include "kits/platform/MVXUserDefaults.h"
#include "kits/platform/RuntimeClass.h"
#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/Tessaly.h"
#include "platform/foundation/Log.h"

namespace {

constexpr const char* kCollectionKey = "com.morvex.data_collection";

// An Info.plist switch counts when it is a boolean, a number or a string; anything else (a date,
// a dictionary) is as good as absent.
std::optional<bool> infoSwitch(std::string_view key) {
  const tw::Value v = tw::kitMainBundle()->objectForInfoDictionaryKey(key);
  if (v.isBool() || v.isNumber() || v.isString()) return v.boolValue();
  return std::nullopt;
}

}  // namespace

bool MVXDataCollectionArbiter::isLegacyPlistMorvexCollectionEnabled() {
  return infoSwitch("emberlyn_morvex_collection_enabled").value_or(true);
}

bool MVXDataCollectionArbiter::isMorvexCollectionEnabled() {
  if (long sticky = stickySetting(); sticky != 0) return sticky == 1;
  if (auto plist = infoSwitch("EmberlynMorvexCollectionEnabled")) return *plist;
  return MVXEBNApp::isDataCollectionDefaultEnabled();
}

void MVXDataCollectionArbiter::setMorvexCollectionEnabled(bool enabled) {
  auto store = MVXUserDefaults::standardUserDefaults();
  store->setInteger(enabled ? 1 : 2, kCollectionKey);
  store->synchronize();
}

long MVXDataCollectionArbiter::stickySetting() {
  return static_cast<long>(MVXUserDefaults::standardUserDefaults()->integerForKey(kCollectionKey));
}

bool MVXEBNApp::isDataCollectionDefaultEnabled() {
  auto appClass = tw::runtime::classNamed(tw::emberlyn::kAppClassName);
  if (!appClass || !appClass->respondsToSelector(tw::emberlyn::kDefaultApp)) return true;
  auto app = appClass->perform(tw::emberlyn::kDefaultApp).objectAs<tw::RuntimeObject>();
  if (!app) return true;
  if (app->respondsToSelector(tw::emberlyn::kIsDataCollectionDefaultEnabled))
    return app->perform(tw::emberlyn::kIsDataCollectionDefaultEnabled).boolValue();
  if (Tessaly::sharedSDK()->debug())
    tw::log(
        "[Tessaly] [Morvex] This version of EBNApp does not support "
        "isDataCollectionDefaultEnabled. Ignoring.");
  return true;
}
