#include "kits/platform/settings/TSYSettings.h"

#include <cerrno>
#include <optional>

#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/net/TSYURLBuilder.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"

tw::Value TSYSettings::settingsDictionary() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (snapshot_) return *snapshot_;
  int error = 0;
  auto text = tw::paths::readTextFile(settingsPath_, &error);
  if (!text && error == ENOENT) return tw::Value();
  std::string problem;
  if (!text && error != EISDIR) {
    // A read refused now may work later, and the bytes may be fine: left where they are.
    if (!unreadableLogged_)
      tw::log("[Tessaly] Could not load settings with error: " + text.error());
    unreadableLogged_ = true;
    return tw::Value();
  }
  std::optional<tw::Value> parsed;
  if (!text) {
    problem = text.error();
  } else if (auto json = tw::Json::parse(*text); !json) {
    problem = json.error();
  } else if (!json->dictionary()) {
    problem = "the settings are not a JSON object";
  } else {
    parsed = std::move(json).value();
  }
  if (!problem.empty()) {
    // Kept for a look, out of the way of the next download.
    auto aside = tw::paths::moveAside(settingsPath_);
    tw::log("[Tessaly] Could not load settings with error: " + problem +
            (aside ? "; kept as " + aside->string() : "; " + aside.error()));
    return tw::Value();
  }
  unreadableLogged_ = false;
  snapshot_ = std::make_shared<const tw::Value>(*parsed);
  return *snapshot_;
}

void TSYSettings::clearSettingsDictionary() {
  std::lock_guard<std::mutex> lock(mutex_);
  snapshot_.reset();
}

std::optional<tw::Dictionary> TSYSettings::appSettings() {
  const tw::Value settings = settingsDictionary();
  const tw::Value& app = settings["app"];
  if (const auto* dictionary = app.dictionary()) return *dictionary;
  return std::nullopt;
}

std::optional<std::string> TSYSettings::appStatus() {
  auto app = appSettings();
  if (!app) return std::nullopt;
  auto it = app->find("status");
  if (it == app->end() || !it->second.string()) return std::nullopt;
  return *it->second.string();
}

bool TSYSettings::appNeedsOnboarding() { return appStatus() == "new"; }

bool TSYSettings::appUpdateRequired() {
  auto app = appSettings();
  if (!app) return false;
  auto it = app->find("update_required");
  return it != app->end() && it->second.isBool() && it->second.boolValue();
}

std::string TSYSettings::appBundleIdentifier() { return TSYGetEscapedBundleIdentifier(); }
std::string TSYSettings::appBuildVersion() { return TSYGetBundleVersion(); }
std::string TSYSettings::appDisplayVersion() { return TSYGetBundleShortVersionString(); }
int TSYSettings::appSource() { return TSYGetInstallSource(); }

std::optional<std::string> TSYSettings::settingsURLForEndpoint(
    const std::string& endpoint, const std::optional<std::string>& instanceIdentifier) {
  auto builder = TSYURLBuilder::URLWithBase(endpoint);
  builder->appendComponent("/spi/v2/platforms/");
  builder->escapeAndAppendComponent(appPlatform());
  builder->appendComponent("/apps/");
  builder->escapeAndAppendComponent(appBundleIdentifier());
  builder->appendComponent("/settings");
  builder->appendValue(appBuildVersion(), "build_version");
  builder->appendValue(appDisplayVersion(), "display_version");
  builder->appendValue(instanceIdentifier ? tw::Value(*instanceIdentifier) : tw::Value(),
                       "instance");
  builder->appendValue(appSource(), "source");
  return builder->URL();
}
