#include "kits/platform/TSYAppInfo.h"

#include <openssl/evp.h>
#include <sys/utsname.h>
#include <uuid/uuid.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/UUID.h"

namespace {

// Guards gTestBundle.
std::mutex gBundleMutex;
std::shared_ptr<tw::Bundle> gTestBundle;

std::optional<std::string> infoString(std::string_view key) {
  auto bundle = tw::kitMainBundle();
  if (const std::string* s = bundle->objectForInfoDictionaryKey(key).string()) return *s;
  return std::nullopt;
}

// A property-list value read as a boolean by tw::Value's coercion (numbers by value, text by its
// leading number or word), so a hand-written "YES" in Info.plist counts; anything else is false.
bool infoBool(const tw::Value& v) {
  return v.isNumber() || v.isBool() || v.isString() ? v.boolValue() : false;
}

std::string digestHex(const EVP_MD* md, const void* bytes, std::size_t length) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int outLength = 0;
  static const unsigned char kEmpty = 0;
  if (!EVP_Digest(bytes ? bytes : &kEmpty, bytes ? length : 0, out, &outLength, md, nullptr))
    return {};
  const std::size_t digestLength = outLength;
  std::string text(2 * digestLength + 1, '\0');
  TSYBytesToHexCString(out, outLength, text.data());
  text.resize(2 * digestLength);
  return text;
}

std::optional<std::string> firstLine(const char* path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  while (!line.empty() && (line.back() == ' ' || line.back() == '\n' || line.back() == '\r'))
    line.pop_back();
  if (line.empty()) return std::nullopt;
  return line;
}

std::optional<std::string> cpuBrand() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) {
      auto colon = line.find(':');
      if (colon == std::string::npos) break;
      auto start = line.find_first_not_of(' ', colon + 1);
      return start == std::string::npos ? std::string() : line.substr(start);
    }
  }
  return std::nullopt;
}

}  // namespace

namespace tw {

std::shared_ptr<const Bundle> kitMainBundle() {
  std::lock_guard lock(gBundleMutex);
  if (gTestBundle) return gTestBundle;
  // The main bundle lives through exit; the pointer only borrows it.
  return std::shared_ptr<const Bundle>(&Bundle::main(), [](const Bundle*) {});
}

void setKitMainBundleForTesting(std::shared_ptr<Bundle> bundle) {
  std::lock_guard lock(gBundleMutex);
  gTestBundle = std::move(bundle);
}

}  // namespace tw

bool TSYIsAppStoreReceiptPresent() {
  // No application store hands out receipts on Linux.
  return false;
}

std::string TSYGetEscapedBundleIdentifier() {
  std::string id = tw::kitMainBundle()->bundleIdentifier();
  std::replace(id.begin(), id.end(), '/', '_');
  return id;
}

std::string TSYGetBundleVersion() { return infoString("CFBundleVersion").value_or(""); }

std::string TSYGetBundleShortVersionString() {
  return infoString("CFBundleShortVersionString").value_or("");
}

std::string TSYGetApplicationDisplayName() {
  if (auto name = infoString("CFBundleDisplayName")) return *name;
  if (auto name = infoString("CFBundleName")) return *name;
  return TSYGetBundleVersion();
}

int TSYGetInstallSource() {
  if (TSYIsAppStoreReceiptPresent()) return 4;
  if (TSYIsSignedForDistribution()) return 3;
  return 1;
}

bool TSYIsSignedForDistribution() {
  return infoBool(tw::kitMainBundle()->objectForInfoDictionaryKey("MorvexSignedForDistribution"));
}

bool TSYShouldCollectDeviceIdentifiers(bool emberlynMode) {
  if (emberlynMode) return false;
  auto bundle = tw::kitMainBundle();
  if (const tw::Dictionary* config = bundle->objectForInfoDictionaryKey("Tessaly").dictionary()) {
    if (auto it = config->find("ReportIdentifiers"); it != config->end())
      return infoBool(it->second);
  }
  const tw::Value& legacy = bundle->objectForInfoDictionaryKey("MorvexCollectDeviceIdentifiers");
  if (!legacy.isNull()) return infoBool(legacy);
  return true;
}

void TSYByteToHex(std::uint8_t byte, char* output) {
  static constexpr char kAlphabet[] = "0123456789abcdef";
  if (!output) return;
  output[0] = kAlphabet[byte >> 4];
  output[1] = kAlphabet[byte & 0xf];
}

void TSYBytesToHexCString(const std::uint8_t* bytes, std::size_t n, char* output) {
  if (!output) return;
  std::fill(output, output + 2 * n + 1, '\0');
  if (!bytes) return;
  for (std::size_t i = 0; i < n; ++i) TSYByteToHex(bytes[i], output + 2 * i);
}

std::string TSYDataToHexString(const tw::Data& data) {
  std::string text(2 * data.size() + 1, '\0');
  TSYBytesToHexCString(data.data(), data.size(), text.data());
  text.resize(2 * data.size());
  return text;
}

std::string TSYSHA1HexStringForBytes(const void* bytes, std::size_t length) {
  return digestHex(EVP_sha1(), bytes, length);
}

std::string TSYSHA1HexStringForData(const tw::Data& data) {
  return TSYSHA1HexStringForBytes(data.data(), data.size());
}

std::string TSYSHA256HexStringForBytes(const void* bytes, std::size_t length) {
  return digestHex(EVP_sha256(), bytes, length);
}

std::string TSYSHA256HexStringForData(const tw::Data& data) {
  return TSYSHA256HexStringForBytes(data.data(), data.size());
}

void TSYEnumerateDataByteRanges(const tw::Data& data, const TSYByteRangeBlock& block) {
  if (!block) return;
  bool stop = false;
  block(data.data(), 0, data.size(), &stop);
}

std::string TSYGenerateUUIDString() { return tw::makeUUIDString(); }

std::string TSYUUIDBytesToHexString(const std::uint8_t bytes[16]) {
  char text[33];
  TSYBytesToHexCString(bytes, 16, text);
  return std::string(text, bytes ? 32 : 0);
}

TSYOperatingSystemVersion TSYGetOperatingSystemVersion() {
  auto v = tw::ProcessInfo::processInfo().operatingSystemVersion();
  return {v.majorVersion, v.minorVersion, v.patchVersion};
}

long tw::kitVersionNumberForMinor(std::int64_t minor, std::int64_t highestMinor) {
  // The numbers of minors 6 to 16; each caller knows the range it was written for.
  static constexpr long kNumbers[] = {1060,   1070,   1080,   1090,   101000, 101100,
                                      101200, 101300, 101400, 101500, 101600};
  constexpr std::int64_t kLowest = 6;
  constexpr auto kHighest = kLowest + static_cast<std::int64_t>(std::size(kNumbers)) - 1;
  if (minor < kLowest || minor > std::min(highestMinor, kHighest)) return 0;
  return kNumbers[minor - kLowest];
}

long TSYGetMacOSVersionNumber() {
  return tw::kitVersionNumberForMinor(TSYGetOperatingSystemVersion().minorVersion);
}

std::optional<std::string> TSYGetSysctlString(std::string_view name) {
  std::optional<std::string> value;
  struct utsname u {};
  bool haveUname = uname(&u) == 0;
  if (name == "kern.osversion") {
    if (haveUname) value = u.version;
  } else if (name == "kern.osrelease") {
    if (haveUname) value = u.release;
  } else if (name == "hw.machine") {
    if (haveUname) value = u.machine;
  } else if (name == "hw.model") {
    value = firstLine("/sys/class/dmi/id/product_name");
    if (!value && haveUname) value = u.machine;
  } else if (name == "machdep.cpu.brand_string") {
    value = cpuBrand();
  }
  // The values came through a 128-byte buffer: longer ones were refused.
  if (value && value->size() > 127) return std::nullopt;
  return value;
}

std::string TSYGetOSBuildVersion() { return TSYGetSysctlString("kern.osversion").value_or(""); }

std::string TSYGetOSDisplayVersion() {
  auto v = TSYGetOperatingSystemVersion();
  return std::to_string(v.majorVersion) + "." + std::to_string(v.minorVersion) + "." +
         std::to_string(v.patchVersion);
}

std::string TSYGetHardwareModel() { return TSYGetSysctlString("hw.model").value_or(""); }
