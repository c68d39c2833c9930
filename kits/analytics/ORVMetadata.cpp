#include "kits/analytics/ORVMetadata.h"

#include <fstream>
#include <system_error>

#include "kits/analytics/ORVFileUtils.h"
#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/Tessaly.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/UUID.h"

ORVMetadata::ORVMetadata(Tessaly& tessaly, const std::optional<std::string>& betaToken,
                         std::optional<std::string> instanceIdentifier) {
  f_.APIKey = tessaly.APIKey();
  f_.betaToken = unwrapBetaToken(betaToken);
  f_.buildVersion = TSYGetBundleVersion();
  f_.bundleIdentifier = TSYGetEscapedBundleIdentifier();
  f_.displayVersion = TSYGetBundleShortVersionString();
  f_.executionIdentifier = tessaly.executionIdentifier();
  f_.hostModel = TSYGetHardwareModel();
  f_.installationId = tessaly.installID();
  f_.instanceIdentifier = std::move(instanceIdentifier);
  f_.isJailbroken = computeIsJailbroken();
  f_.locale = currentLocaleIdentifier();
  f_.numberOfCores = tw::ProcessInfo::processInfo().processorCount();
  f_.OSBuildVersion = TSYGetOSBuildVersion();
  f_.OSDisplayVersion = TSYGetOSDisplayVersion();
}

std::optional<std::string> ORVMetadata::unwrapBetaToken(const std::optional<std::string>& token) {
  if (!token) return std::nullopt;
  auto colon = token->find(':');
  if (colon == std::string::npos || token->find(':', colon + 1) != std::string::npos)
    return std::nullopt;
  if (token->substr(0, colon) != "2") return std::nullopt;
  return token->substr(colon + 1);
}

std::string ORVMetadata::currentLocaleIdentifier() {
  auto& info = tw::ProcessInfo::processInfo();
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    auto v = info.environmentValue(name);
    if (!v || v->empty() || *v == "C" || *v == "POSIX") continue;
    std::string id = v->substr(0, v->find_first_of(".@"));
    if (!id.empty()) return id;
  }
  return "en_US_POSIX";
}

tw::Dictionary ORVMetadata::dictionaryRepresentationWithStartTime(std::uint64_t startTime) const {
  tw::Dictionary d;
  auto set = [&d](const char* key, const std::optional<std::string>& v) {
    if (v) d[key] = *v;
  };
  d["generator"] = "Oriseth Mac SDK/1.4.0";
  set("api_key", f_.APIKey);
  set("session_id", f_.executionIdentifier);
  d["started_at"] = static_cast<unsigned long long>(startTime);
  set("beta_tester_token", f_.betaToken);
  set("install_id", f_.installationId);
  set("model", f_.hostModel);
  set("machine", f_.hostModel);
  set("locale", f_.locale);
  set("os_build", f_.OSBuildVersion);
  set("os_version", f_.OSDisplayVersion);
  d["platform"] = f_.platform;
  d["platform_code"] = platformCode();
  d["cores"] = static_cast<unsigned>(f_.numberOfCores);
  d["jailbroken"] = f_.isJailbroken;
  set("bundle_id", f_.bundleIdentifier);
  set("bundle_version", f_.buildVersion);
  set("bundle_short_version", f_.displayVersion);
  set("instance_id", f_.instanceIdentifier);
  return d;
}

std::optional<tw::Dictionary> ORVCrashMetadata::readSerializedDictionaryFromURL(
    const std::filesystem::path& url) {
  auto bytes = ORVFileUtils::readFile(url);
  if (!bytes) return std::nullopt;
  auto parsed = tw::Json::parse(*bytes);
  if (!parsed || !parsed->dictionary()) return std::nullopt;
  return *parsed->dictionary();
}

bool ORVCrashMetadata::writeSerializedDictionary(const tw::Dictionary& dictionary,
                                                 const std::filesystem::path& url) {
  auto temp = url;
  temp += "." + tw::makeUUIDString() + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << tw::Json::write(tw::Value(dictionary));
    out.flush();
    if (!out) {
      std::error_code ec;
      std::filesystem::remove(temp, ec);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temp, url, ec);
  if (!ec) return true;
  std::filesystem::remove(temp, ec);
  return false;
}
