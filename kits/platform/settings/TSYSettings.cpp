#include "kits/platform/settings/TSYSettings.h"

#include <fstream>

#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/net/TSYURLBuilder.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"

tw::Value TSYSettings::settingsDictionary() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (snapshot_) return *snapshot_;
  std::ifstream in(settingsPath_, std::ios::binary);
  if (!in) return tw::Value();
  std::string text((std::istreambuf_iterator<char>(in)), {});
  auto parsed = tw::Json::parse(text);
  std::string problem;
  if (!parsed) {
    problem = parsed.error();
  } else if (!parsed->dictionary()) {
    problem = "the settings are not a JSON object";
  }
  if (!problem.empty()) {
    tw::log("[Tessaly] Could not load settings with error: " + problem);
    std::error_code ec;
    std::filesystem::remove(settingsPath_, ec);
    return tw::Value();
  }
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
