#include "kits/crash/MVXSettings.h"

#include <cstdlib>

#include "kits/platform/KitServiceEndpoints.h"
#include "kits/platform/TSYAppInfo.h"

std::string MVXSettings::betaEndpoint() const {
  if (const char* env = std::getenv("MorvexBetaEndpoint")) return env;
  const tw::Value& configured =
      tw::kitMainBundle()->objectForInfoDictionaryKey("Morvex")["BetaEndpoint"];
  if (const std::string* s = configured.string()) return *s;
  return tw::kitservice::kDefaultBetaEndpoint;
}

double MVXSettings::betaSuspendDuration() const {
  const tw::Value& value = settings_["beta"]["update_suspend_duration"];
  return value.isNumber() ? value.doubleValue() : 3600;
}
