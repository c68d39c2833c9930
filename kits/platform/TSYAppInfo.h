#pragma once
// The kits' app and host information functions: the host application's identifiers and versions
// from the main bundle, where it was installed from, the operating system and hardware, lowercase
// hexadecimal text, SHA digests and UUID strings. Plain functions without state (the main bundle
// aside); any thread.
//
// On Linux: no store receipts exist (the receipt check is always NO); the OS version is the
// kernel release, its build the kernel's build text (uname); the hardware model comes from DMI
// ("/sys/class/dmi/id/product_name"), else the machine name. Digests go through OpenSSL.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Value.h"

namespace tw {

// The bundle the kits describe: the application's main bundle unless a test put another in its
// place (nullptr restores the main bundle).
std::shared_ptr<const Bundle> kitMainBundle();
void setKitMainBundleForTesting(std::shared_ptr<Bundle> bundle);

}  // namespace tw

struct TSYOperatingSystemVersion {
  std::int64_t majorVersion = 0;
  std::int64_t minorVersion = 0;
  std::int64_t patchVersion = 0;
};

bool TSYIsAppStoreReceiptPresent();
// The bundle identifier with every "/" replaced by "_".
std::string TSYGetEscapedBundleIdentifier();
std::string TSYGetBundleVersion();
std::string TSYGetBundleShortVersionString();
// "CFBundleDisplayName", else "CFBundleName", else the bundle version.
std::string TSYGetApplicationDisplayName();
// 4 store receipt, 3 signed for distribution, 1 otherwise.
int TSYGetInstallSource();
bool TSYIsSignedForDistribution();
// False in the outside platform's mode (the registry's `emberlynMode`, which the caller passes:
// these helpers sit below the registry), else what the Info.plist says, else true.
bool TSYShouldCollectDeviceIdentifiers(bool emberlynMode);

// Two lowercase hex characters, high nibble first; a null buffer does nothing.
void TSYByteToHex(std::uint8_t byte, char* output);
// Zero-fills 2n+1 bytes of `output`, then writes the 2n characters; null output does nothing,
// null input or n = 0 leaves the empty string.
void TSYBytesToHexCString(const std::uint8_t* bytes, std::size_t n, char* output);
std::string TSYDataToHexString(const tw::Data& data);
std::string TSYSHA1HexStringForBytes(const void* bytes, std::size_t length);
std::string TSYSHA1HexStringForData(const tw::Data& data);
std::string TSYSHA256HexStringForBytes(const void* bytes, std::size_t length);
std::string TSYSHA256HexStringForData(const tw::Data& data);
// Calls `block` for each contiguous byte range of `data` (one range: the data is contiguous).
using TSYByteRangeBlock = std::function<void(const std::uint8_t* bytes, std::size_t location,
                                             std::size_t length, bool* stop)>;
void TSYEnumerateDataByteRanges(const tw::Data& data, const TSYByteRangeBlock& block);

// A new random UUID, 36 characters, upper-case hex with hyphens.
std::string TSYGenerateUUIDString();
// 16 UUID bytes as 32 lowercase hex characters.
std::string TSYUUIDBytesToHexString(const std::uint8_t bytes[16]);

TSYOperatingSystemVersion TSYGetOperatingSystemVersion();
// From the minor version alone (6 -> 1060 ... 14 -> 101400, anything else 0).
long TSYGetMacOSVersionNumber();
namespace tw {
// The number the receipt check and the crash report's host section compare, for an OS minor
// version: 6 -> 1060 ... 16 -> 101600, 0 above highestMinor (the last minor the caller knows).
long kitVersionNumberForMinor(std::int64_t minor, std::int64_t highestMinor = 14);
}  // namespace tw
std::string TSYGetOSBuildVersion();
// The host value of a sysctl-style name ("kern.osversion", "kern.osrelease", "hw.model",
// "hw.machine", "machdep.cpu.brand_string"); nullopt for an unknown name, a failed read, or a
// value longer than 127 bytes.
std::optional<std::string> TSYGetSysctlString(std::string_view name);
// "major.minor.patch".
std::string TSYGetOSDisplayVersion();
std::string TSYGetHardwareModel();
